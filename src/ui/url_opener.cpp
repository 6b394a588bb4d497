#include "ui/url_opener.h"

#include <QByteArray>
#include <QDesktopServices>

namespace kestrel::ui {

namespace {

UrlOpener& currentOpener() {
    static UrlOpener opener;
    return opener;
}

}  // namespace

void setUrlOpener(UrlOpener opener) {
    currentOpener() = std::move(opener);
}

bool openEncodedUrl(std::string_view encoded) {
    // The link is encoded already; fromEncoded keeps "%20" and "%0d" as they are.
    QUrl url = QUrl::fromEncoded(QByteArray(encoded.data(), static_cast<qsizetype>(encoded.size())));
    if (currentOpener()) return currentOpener()(url);
    return QDesktopServices::openUrl(url);
}

}  // namespace kestrel::ui
