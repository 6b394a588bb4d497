// The numbered resource types of a PE resource directory (the type level of the tree).
#pragma once

#include <cstdint>

namespace kestrel::resource_type {

inline constexpr std::uint16_t kCursor = 1;
inline constexpr std::uint16_t kBitmap = 2;
inline constexpr std::uint16_t kIcon = 3;
inline constexpr std::uint16_t kMenu = 4;
inline constexpr std::uint16_t kDialog = 5;
inline constexpr std::uint16_t kString = 6;
inline constexpr std::uint16_t kFontDirectory = 7;
inline constexpr std::uint16_t kFont = 8;
inline constexpr std::uint16_t kAccelerator = 9;
inline constexpr std::uint16_t kRcData = 10;
inline constexpr std::uint16_t kMessageTable = 11;
inline constexpr std::uint16_t kGroupCursor = 12;
inline constexpr std::uint16_t kGroupIcon = 14;
inline constexpr std::uint16_t kVersion = 16;
inline constexpr std::uint16_t kDialogInclude = 17;
inline constexpr std::uint16_t kPlugPlay = 19;
inline constexpr std::uint16_t kVxd = 20;
inline constexpr std::uint16_t kAnimatedCursor = 21;
inline constexpr std::uint16_t kAnimatedIcon = 22;
inline constexpr std::uint16_t kHtml = 23;
inline constexpr std::uint16_t kManifest = 24;

}  // namespace kestrel::resource_type

namespace kestrel::resource_language {

// U.S. English: the language of a resource when nothing says otherwise.
inline constexpr std::uint16_t kUsEnglish = 0x409;

}  // namespace kestrel::resource_language
