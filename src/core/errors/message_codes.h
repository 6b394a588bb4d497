// The program's own status codes (0xC004xxxx) that the code raises; their texts are in the message
// table. One name per code, used everywhere the code is reported.
#pragma once

#include "core/platform/status.h"

namespace kestrel::msg {

inline constexpr HResult kInvalidPath = HResult::fromValue(0xC0040001u);      // "路径 %s 无效。"
inline constexpr HResult kCannotEditImage = HResult::fromValue(0xC0040005u);  // "无法编辑图象文件 %s 。"
inline constexpr HResult kCompileFailed = HResult::fromValue(0xC004000Du);  // "编译 '%s' 时发生错误。"
inline constexpr HResult kProcessFileError = HResult::fromValue(0xC0040018u);  // "处理文件 %s 时发生错误。"
inline constexpr HResult kEntryNeedsName = HResult::fromValue(0xC0040012u);  // "必须为此项目指定一个名称。"
// "必须为命名为 '%s' 的项目指定一个有效的程序。"
inline constexpr HResult kEntryNeedsProgram = HResult::fromValue(0xC0040013u);
inline constexpr HResult kEntryNamesMustDiffer = HResult::fromValue(0xC0040014u);  // "项目必须有独立的名称。"

}  // namespace kestrel::msg
