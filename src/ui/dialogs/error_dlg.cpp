#include "ui/dialogs/error_dlg.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/frame/qt_ui_sink.h"
#include "ui/frame/url_opener.h"

namespace kestrel::ui {

namespace {

QString toQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The details box shows CR LF line ends as plain line breaks.
QString detailsForDisplay(const std::string& details) {
    QString text = toQt(details);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QStyle::StandardPixmap pixmapFor(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kStop:
            return QStyle::SP_MessageBoxCritical;
        case MessageIcon::kQuestion:
            return QStyle::SP_MessageBoxQuestion;
        case MessageIcon::kExclamation:
            return QStyle::SP_MessageBoxWarning;
        default:
            return QStyle::SP_MessageBoxInformation;
    }
}

constexpr int kIconSize = 32;
constexpr int kMaxDetailsHeight = 250;

}  // namespace

ErrorDlg::ErrorDlg(std::string_view title, const ErrorDialogContents& contents, int type,
                   std::span<const std::string> customCaptions, QWidget* parent)
    : QDialog(parent), layout_(ErrorDialogButtonsFor(type, customCaptions)), detailsText_(contents.details) {
    setWindowTitle(toQt(title));
    setSizeGripEnabled(false);

    auto* top = new QHBoxLayout;
    if (layout_.icon != MessageIcon::kNone) {
        auto* icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("icon"));
        icon->setPixmap(
            style()->standardIcon(pixmapFor(layout_.icon), nullptr, this).pixmap(kIconSize, kIconSize));
        icon->setAlignment(Qt::AlignTop);
        top->addWidget(icon, 0, Qt::AlignTop);
    }
    summary_ = new QLabel(toQt(contents.summary), this);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (QScreen* screen = (parent ? parent->screen() : QGuiApplication::primaryScreen())) {
        summary_->setMaximumWidth(std::max(200, screen->availableGeometry().width() / 2));
    }
    top->addWidget(summary_, 1);

    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->addStretch(1);
    std::vector<QPushButton*> all;
    for (const ErrorDialogButton& button : layout_.buttons) {
        auto* widget = new QPushButton(toQt(button.caption), this);
        widget->setObjectName(QStringLiteral("button%1").arg(button.controlId));
        widget->setProperty("controlId", button.controlId);
        const int result = button.result;
        connect(widget, &QPushButton::clicked, this, [this, result] { done(result); });
        typeButtons_.push_back(widget);
        all.push_back(widget);
        row->addWidget(widget);
    }
    sendReportButton_ = new QPushButton(toQt(layout_.sendReportCaption), this);
    sendReportButton_->setProperty("controlId", kSendReportButtonId);
    connect(sendReportButton_, &QPushButton::clicked, this, &ErrorDlg::sendReport);
    detailsButton_ = new QPushButton(toQt(DetailsButtonCaption(false)), this);
    detailsButton_->setProperty("controlId", kDetailsButtonId);
    connect(detailsButton_, &QPushButton::clicked, this, &ErrorDlg::toggleDetails);
    for (QPushButton* extra : {sendReportButton_, detailsButton_}) {
        extra->setAutoDefault(false);
        all.push_back(extra);
        row->addWidget(extra);
    }

    // Every button is as wide as the widest caption (for both details captions) plus a margin.
    QFontMetrics metrics(font());
    int widest = metrics.horizontalAdvance(toQt(DetailsButtonCaption(true)));
    for (QPushButton* button : all)
        widest = std::max(widest, metrics.horizontalAdvance(button->text()));
    const int width = widest + 2 * metrics.averageCharWidth() + 12;
    for (QPushButton* button : all)
        button->setFixedWidth(width);

    for (QPushButton* button : typeButtons_)
        button->setAutoDefault(false);
    if (QPushButton* fallback = defaultTypeButton()) {
        fallback->setDefault(true);
        fallback->setFocus();
    }

    details_ = new QPlainTextEdit(this);
    details_->setObjectName(QStringLiteral("details"));
    details_->setReadOnly(true);
    details_->setLineWrapMode(QPlainTextEdit::NoWrap);
    details_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    details_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    details_->setPlainText(detailsForDisplay(detailsText_));
    // As many lines as fit in about 250 pixels, plus the horizontal scroll bar.
    const QFontMetrics detailsMetrics(details_->font());
    int height = 0;
    for (const QString& line : details_->toPlainText().split(QLatin1Char('\n'))) {
        if (height >= kMaxDetailsHeight) break;
        height += detailsMetrics.boundingRect(line.isEmpty() ? QStringLiteral("W") : line).height();
    }
    details_->setFixedHeight(height + details_->horizontalScrollBar()->sizeHint().height() +
                             2 * details_->frameWidth() + 8);
    details_->hide();

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(11, 11, 11, 11);
    main->addLayout(top);
    main->addSpacing(6);
    main->addLayout(row);
    main->addSpacing(8);
    main->addWidget(details_);
    main->setSizeConstraint(QLayout::SetFixedSize);
}

QPushButton* ErrorDlg::buttonById(int controlId) const {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        if (button->property("controlId").toInt() == controlId) return button;
    }
    return nullptr;
}

QPushButton* ErrorDlg::defaultTypeButton() const {
    if (typeButtons_.empty()) return nullptr;
    std::size_t index = static_cast<std::size_t>(std::max(0, layout_.defaultButton));
    return typeButtons_[std::min(index, typeButtons_.size() - 1)];
}

bool ErrorDlg::detailsShown() const {
    return !details_->isHidden();
}

void ErrorDlg::toggleDetails() {
    const bool show = !detailsShown();
    details_->setVisible(show);
    detailsButton_->setText(toQt(DetailsButtonCaption(show)));
    adjustSize();
}

void ErrorDlg::sendReport() {
    // A failed start of the mail program is not an error of its own; the dialog stays open.
    openLink(ErrorReportMailLink(detailsText_));
}

void ErrorDlg::reject() {
    if (layout_.escapeCloses) done(kEscapeResult);
}

int ErrorMessageBox(std::string_view title, std::optional<std::string_view> summary, QWidget* parent,
                    int type, std::span<const std::string> customCaptions) {
    ErrorDialogContents contents = TakeErrorDialogContents(summary);
    if (parent == nullptr) parent = boxParent();
    ErrorDlg dialog(title, contents, type, customCaptions, parent);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    return dialog.exec();
}

int ShowErrorDialogWindow(int type, QWidget* parent) {
    return ErrorMessageBox(kAppName, std::nullopt, parent, type);
}

}  // namespace kestrel::ui
