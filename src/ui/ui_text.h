// The window's texts in the language chosen at start-up. The sources hold the Chinese texts; for
// English, Qt's translator maps them per context (the class name for QObject classes). A text kept
// in a constant is marked with QT_TRANSLATE_NOOP(context, text) so that lupdate finds it, and is
// looked up here under the same context.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <string>
#include <string_view>

namespace kestrel::ui {

inline QString uiText(const char* context, std::string_view source) {
    return QCoreApplication::translate(context, std::string(source).c_str());
}

// The same as UTF-8, for the core's message boxes and formatter.
inline std::string uiTextUtf8(const char* context, std::string_view source) {
    return uiText(context, source).toStdString();
}

}  // namespace kestrel::ui
