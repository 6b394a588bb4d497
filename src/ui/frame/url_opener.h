// Opens mail and web links. Tests replace the opener so that no browser or mail program starts.
#pragma once

#include <QUrl>
#include <functional>
#include <string_view>

namespace kestrel::ui {

using UrlOpener = std::function<bool(const QUrl&)>;

// Installs `opener` (an empty function restores QDesktopServices::openUrl).
void setUrlOpener(UrlOpener opener);
// Opens an already percent-encoded link such as "mailto:...?Subject=...". False when no program
// could be started for it.
[[nodiscard]] bool openEncodedUrl(std::string_view encoded);
// Opens the link; when no browser or mail program can be started, a message says so and shows the
// address, so that the user can use it by hand.
void openLink(std::string_view encoded);

// Feedback mail of the menu bar and the web site of the Help menu.
inline constexpr std::string_view kFeedbackMailLink =
    "mailto:support@quillon.example?Subject=Kestrel-Feedback&Body=Add%20your%20comments%20here.";
inline constexpr std::string_view kWebSiteLink = "https://www.quillon.example/kestrel/";
inline constexpr std::string_view kLinkNotOpened = QT_TRANSLATE_NOOP(
    "UrlOpener", "没有能打开这个链接的浏览器或邮件程序。\r\n\r\n请手动使用这个地址：\r\n%s");

}  // namespace kestrel::ui
