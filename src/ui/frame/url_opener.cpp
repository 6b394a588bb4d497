#include "ui/frame/url_opener.h"

#include <QByteArray>
#include <QDesktopServices>

#include "core/platform/format.h"
#include "core/platform/ui_sink.h"
#include "ui/ui_text.h"

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

void openLink(std::string_view encoded) {
    if (openEncodedUrl(encoded)) return;
    const QUrl url = QUrl::fromEncoded(QByteArray(encoded.data(), static_cast<qsizetype>(encoded.size())));
    // A mail link shows its address; a web link the whole of it.
    const QString address = url.scheme() == QStringLiteral("mailto") ? url.path() : url.toString();
    const std::string text = safeFormat(uiTextUtf8("UrlOpener", kLinkNotOpened), {address.toStdString()});
    uiSink().message(text, kAppName, MessageIcon::kExclamation);
}

}  // namespace kestrel::ui
