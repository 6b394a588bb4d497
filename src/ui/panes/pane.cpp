#include "ui/panes/pane.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <array>

#include "core/platform/paths.h"

namespace kestrel::ui {

namespace {

std::array<PaneFactory, kPaneTypeCount>& factories() {
    static std::array<PaneFactory, kPaneTypeCount> table;
    return table;
}

QString paneTypeName(PaneType type) {
    switch (type) {
        case PaneType::kHex:
            return QCoreApplication::translate("Pane", "十六进制");
        case PaneType::kText:
            return QCoreApplication::translate("Pane", "文本");
        case PaneType::kImage:
            return QCoreApplication::translate("Pane", "图象");
        case PaneType::kDialog:
            return QCoreApplication::translate("Pane", "对话框");
        case PaneType::kMenu:
            return QCoreApplication::translate("Pane", "菜单");
        case PaneType::kVersion:
            return QCoreApplication::translate("Pane", "版本信息");
    }
    return {};
}

}  // namespace

PaneType paneTypeOf(PaneKind kind) {
    switch (kind) {
        case PaneKind::kText:
            return PaneType::kText;
        case PaneKind::kImage:
        case PaneKind::kIcon:
        case PaneKind::kCursor:
        case PaneKind::kIconGroup:
        case PaneKind::kCursorGroup:
            return PaneType::kImage;
        case PaneKind::kDialog:
            return PaneType::kDialog;
        case PaneKind::kMenu:
            return PaneType::kMenu;
        case PaneKind::kVersion:
            return PaneType::kVersion;
        case PaneKind::kNone:
        case PaneKind::kHex:
            break;
    }
    return PaneType::kHex;
}

void registerPaneFactory(PaneType type, PaneFactory factory) {
    factories()[static_cast<std::size_t>(type)] = std::move(factory);
}

PaneFactory paneFactory(PaneType type) {
    return factories()[static_cast<std::size_t>(type)];
}

QWidget* PlaceholderPane::createWidget(QWidget* parent) {
    // The parent widget owns the label; widgetDestroyed() forgets it when Qt deletes it.
    // cppcheck-suppress publicAllocationError
    label_ = new QLabel(parent);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setAutoFillBackground(true);
    return label_;
}

void PlaceholderPane::showFile(const PaneRequest& request) {
    if (label_ == nullptr) return;
    const QString path = QString::fromStdString(pathToUtf8(request.path));
    QFileInfo info(path);
    QString size = info.exists()
                       ? QLocale::c().toString(info.size()) + QCoreApplication::translate("Pane", " 字节")
                       : QCoreApplication::translate("Pane", "文件不存在");
    label_->setText(QStringLiteral("%1\n\n%2\n\n(%3)").arg(info.fileName(), size, paneTypeName(type_)));
}

}  // namespace kestrel::ui
