// Opens mail and web links. Tests replace the opener so that no browser or mail program starts.
#pragma once

#include <QUrl>
#include <functional>
#include <string_view>

namespace kestrel::ui {

using UrlOpener = std::function<bool(const QUrl&)>;

// Installs `opener` (an empty function restores QDesktopServices::openUrl).
void setUrlOpener(UrlOpener opener);
// Opens an already percent-encoded link such as "mailto:...?Subject=...".
bool openEncodedUrl(std::string_view encoded);

// Feedback mail of the menu bar and the web site of the Help menu.
inline constexpr std::string_view kFeedbackMailLink =
    "mailto:support@quillon.example?Subject=Kestrel-Feedback&Body=Add%20your%20comments%20here.";
inline constexpr std::string_view kWebSiteLink = "https://www.quillon.example/kestrel/";

}  // namespace kestrel::ui
