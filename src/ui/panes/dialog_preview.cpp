#include "ui/panes/dialog_preview.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyleOptionTitleBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <algorithm>

#include "ui/panes/resource_module.h"

namespace kestrel::ui {

namespace ws = window_style;

namespace {

// Button styles (the low four bits are the kind).
constexpr std::uint32_t kBsTypeMask = 0x0F;
enum ButtonKind : std::uint32_t {
    kPushButton = 0,
    kDefPushButton = 1,
    kCheckBox = 2,
    kAutoCheckBox = 3,
    kRadioButton = 4,
    k3State = 5,
    kAuto3State = 6,
    kGroupBox = 7,
    kUserButton = 8,
    kAutoRadioButton = 9,
    kPushBox = 10,
    kOwnerDraw = 11,
    kSplitButton = 12,
    kDefSplitButton = 13,
    kCommandLink = 14,
    kDefCommandLink = 15,
};
constexpr std::uint32_t kBsLeftText = 0x0020;
constexpr std::uint32_t kBsPushLike = 0x1000;

// Static styles (the low five bits are the kind).
constexpr std::uint32_t kSsTypeMask = 0x1F;
enum StaticKind : std::uint32_t {
    kLeft = 0,
    kCenter = 1,
    kRight = 2,
    kIcon = 3,
    kBlackRect = 4,
    kGrayRect = 5,
    kWhiteRect = 6,
    kBlackFrame = 7,
    kGrayFrame = 8,
    kWhiteFrame = 9,
    kSimple = 11,
    kLeftNoWordWrap = 12,
    kStaticOwnerDraw = 13,
    kBitmap = 14,
    kEtchedHorz = 16,
    kEtchedVert = 17,
    kEtchedFrame = 18,
};
constexpr std::uint32_t kSsNoPrefix = 0x0080;
constexpr std::uint32_t kSsCenterImage = 0x0200;
constexpr std::uint32_t kSsRealSizeImage = 0x0800;
constexpr std::uint32_t kSsSunken = 0x1000;

constexpr std::uint32_t kEsCenter = 0x0001;
constexpr std::uint32_t kEsRight = 0x0002;
constexpr std::uint32_t kEsMultiLine = 0x0004;
constexpr std::uint32_t kEsPassword = 0x0020;
constexpr std::uint32_t kEsReadOnly = 0x0800;

constexpr std::uint32_t kCbsTypeMask = 0x0003;
constexpr std::uint32_t kCbsSimple = 1;
constexpr std::uint32_t kCbsDropDown = 2;

constexpr std::uint32_t kSbsVert = 0x0001;
constexpr std::uint32_t kTbsVert = 0x0002;
constexpr std::uint32_t kTbsNoTicks = 0x0010;
constexpr std::uint32_t kPbsVertical = 0x0004;
constexpr std::uint32_t kUdsHorz = 0x0040;
constexpr std::uint32_t kLvsTypeMask = 0x0003;
constexpr std::uint32_t kLvsReport = 0x0001;
constexpr std::uint32_t kLvsNoColumnHeader = 0x4000;
constexpr std::uint32_t kDtsTimeFormat = 0x0009;

QString qText(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// A label's text as the system shows it: "&x" underlines x (shown without the ampersand here, as
// the desktop hides the underlines until Alt is pressed) and "&&" is one ampersand.
QString withoutMnemonics(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        else if (text[i] == QLatin1Char('&'))
            continue;
        result.append(text[i]);
    }
    return result;
}

// A SysLink text: its <a> tags become links, everything else is shown as text (the markup comes
// from the file and must not reach the rich-text engine as it is).
QString linkMarkup(const QString& text) {
    QString html;
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == QLatin1Char('<')) {
            const qsizetype close = text.indexOf(QLatin1Char('>'), i);
            if (close > i) {
                const QString tag = text.mid(i + 1, close - i - 1).trimmed();
                if (tag.compare(QLatin1String("/a"), Qt::CaseInsensitive) == 0) {
                    html += QLatin1String("</a>");
                    i = close + 1;
                    continue;
                }
                if (tag.compare(QLatin1String("a"), Qt::CaseInsensitive) == 0 ||
                    tag.startsWith(QLatin1String("a "), Qt::CaseInsensitive)) {
                    html += QLatin1String("<a href=\"#\">");
                    i = close + 1;
                    continue;
                }
            }
        }
        html += QString(text[i]).toHtmlEscaped();
        ++i;
    }
    return html;
}

QString classNameOf(const NameOrOrdinal& windowClass) {
    if (windowClass.isText()) return qText(windowClass.text);
    switch (windowClass.ordinal) {
        case dialog_class::kButton:
            return QStringLiteral("Button");
        case dialog_class::kEdit:
            return QStringLiteral("Edit");
        case dialog_class::kStatic:
            return QStringLiteral("Static");
        case dialog_class::kListBox:
            return QStringLiteral("ListBox");
        case dialog_class::kScrollBar:
            return QStringLiteral("ScrollBar");
        case dialog_class::kComboBox:
            return QStringLiteral("ComboBox");
    }
    return QStringLiteral("#%1").arg(windowClass.ordinal);
}

QWidget* placeholder(QWidget* parent, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Disabled, QPalette::WindowText));
    label->setPalette(palette);
    return label;
}

void setBorder(QFrame* frame, const DialogItem& item) {
    if ((item.exStyle & ws::kExClientEdge) != 0) {
        frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    } else if ((item.exStyle & ws::kExStaticEdge) != 0) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    } else if ((item.style & ws::kBorder) != 0) {
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    } else {
        frame->setFrameStyle(QFrame::NoFrame);
    }
}

bool hasBorder(const DialogItem& item) {
    return (item.style & ws::kBorder) != 0 || (item.exStyle & (ws::kExClientEdge | ws::kExStaticEdge)) != 0;
}

QWidget* makeButton(QWidget* parent, const DialogItem& item, const QString& title) {
    const std::uint32_t kind = item.style & kBsTypeMask;
    switch (kind) {
        case kCheckBox:
        case kAutoCheckBox:
        case k3State:
        case kAuto3State: {
            if ((item.style & kBsPushLike) != 0) {
                auto* button = new QPushButton(title, parent);
                button->setCheckable(true);
                return button;
            }
            auto* box = new QCheckBox(title, parent);
            box->setTristate(kind == k3State || kind == kAuto3State);
            if ((item.style & kBsLeftText) != 0) box->setLayoutDirection(Qt::RightToLeft);
            return box;
        }
        case kRadioButton:
        case kAutoRadioButton: {
            if ((item.style & kBsPushLike) != 0) {
                auto* button = new QPushButton(title, parent);
                button->setCheckable(true);
                return button;
            }
            auto* radio = new QRadioButton(title, parent);
            // Each radio button of the preview stands alone: the system groups them by WS_GROUP.
            radio->setAutoExclusive(false);
            if ((item.style & kBsLeftText) != 0) radio->setLayoutDirection(Qt::RightToLeft);
            return radio;
        }
        case kGroupBox:
            return new QGroupBox(title, parent);
        case kOwnerDraw:
        case kUserButton:
            return placeholder(parent, title.isEmpty() ? QStringLiteral("Button") : withoutMnemonics(title));
        default: {
            auto* button = new QPushButton(title, parent);
            button->setDefault(kind == kDefPushButton || kind == kDefSplitButton || kind == kDefCommandLink);
            return button;
        }
    }
}

QWidget* makeEdit(QWidget* parent, const DialogItem& item, const QString& title) {
    const bool readOnly = (item.style & kEsReadOnly) != 0;
    if ((item.style & kEsMultiLine) != 0) {
        auto* edit = new QPlainTextEdit(title, parent);
        edit->setReadOnly(readOnly);
        edit->setVerticalScrollBarPolicy((item.style & ws::kVScroll) != 0 ? Qt::ScrollBarAlwaysOn
                                                                          : Qt::ScrollBarAlwaysOff);
        edit->setHorizontalScrollBarPolicy((item.style & ws::kHScroll) != 0 ? Qt::ScrollBarAlwaysOn
                                                                            : Qt::ScrollBarAlwaysOff);
        if (!hasBorder(item)) edit->setFrameStyle(QFrame::NoFrame);
        return edit;
    }
    auto* edit = new QLineEdit(title, parent);
    edit->setReadOnly(readOnly);
    edit->setFrame(hasBorder(item));
    if ((item.style & kEsPassword) != 0) edit->setEchoMode(QLineEdit::Password);
    if ((item.style & kEsRight) != 0) {
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else if ((item.style & kEsCenter) != 0) {
        edit->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    }
    edit->setCursorPosition(0);
    return edit;
}

QWidget* makeStatic(QWidget* parent, const DialogItem& item, const QString& title,
                    const ResourceModule& module, const QRect& rect) {
    const std::uint32_t kind = item.style & kSsTypeMask;
    auto* label = new QLabel(parent);
    switch (kind) {
        case kIcon:
        case kBitmap: {
            const QImage picture =
                kind == kIcon ? module.icon(item.title, QSize(32, 32)) : module.bitmap(item.title);
            if (!picture.isNull()) {
                const bool natural = kind == kIcon || (item.style & kSsRealSizeImage) != 0 ||
                                     (item.style & kSsCenterImage) != 0;
                QPixmap pixmap = QPixmap::fromImage(picture);
                label->setPixmap(pixmap);
                label->setScaledContents(!natural && kind == kBitmap && !rect.isEmpty());
                label->setAlignment((item.style & kSsCenterImage) != 0 ? Qt::AlignCenter
                                                                       : Qt::AlignLeft | Qt::AlignTop);
            }
            break;
        }
        case kBlackRect:
        case kGrayRect:
        case kWhiteRect: {
            const QPalette::ColorRole role = kind == kBlackRect  ? QPalette::WindowText
                                             : kind == kGrayRect ? QPalette::Mid
                                                                 : QPalette::Light;
            label->setAutoFillBackground(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, palette.color(role));
            label->setPalette(palette);
            break;
        }
        case kBlackFrame:
        case kGrayFrame:
        case kWhiteFrame: {
            label->setFrameStyle(QFrame::Box | QFrame::Plain);
            QPalette palette = label->palette();
            const QPalette::ColorRole role = kind == kBlackFrame  ? QPalette::WindowText
                                             : kind == kGrayFrame ? QPalette::Mid
                                                                  : QPalette::Light;
            palette.setColor(QPalette::WindowText, palette.color(role));
            label->setPalette(palette);
            return label;
        }
        case kEtchedHorz:
        case kEtchedVert:
        case kEtchedFrame: {
            delete label;
            auto* line = new QFrame(parent);
            line->setFrameStyle((kind == kEtchedHorz   ? QFrame::HLine
                                 : kind == kEtchedVert ? QFrame::VLine
                                                       : QFrame::Box) |
                                QFrame::Sunken);
            return line;
        }
        case kStaticOwnerDraw:
            delete label;
            return placeholder(parent, QStringLiteral("Static"));
        default: {
            label->setText((item.style & kSsNoPrefix) != 0 ? title : withoutMnemonics(title));
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(kind != kSimple && kind != kLeftNoWordWrap);
            Qt::Alignment horizontal = kind == kCenter  ? Qt::AlignHCenter
                                       : kind == kRight ? Qt::AlignRight
                                                        : Qt::AlignLeft;
            label->setAlignment(horizontal |
                                ((item.style & kSsCenterImage) != 0 ? Qt::AlignVCenter : Qt::AlignTop));
            break;
        }
    }
    if ((item.style & kSsSunken) != 0) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    } else if (hasBorder(item)) {
        setBorder(label, item);
    }
    return label;
}

// The common controls and the predefined classes by name, to the nearest Qt widget.
QWidget* makeNamed(QWidget* parent, const DialogItem& item, const QString& className, const QString& title,
                   bool& known) {
    known = true;
    auto is = [&](const char* name) {
        return className.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (is("SysListView32")) {
        const bool report = (item.style & kLvsTypeMask) == kLvsReport;
        if (!report) {
            auto* list = new QListWidget(parent);
            setBorder(list, item);
            return list;
        }
        auto* tree = new QTreeWidget(parent);
        tree->setRootIsDecorated(false);
        tree->setHeaderLabels({QString()});
        tree->setHeaderHidden((item.style & kLvsNoColumnHeader) != 0);
        setBorder(tree, item);
        return tree;
    }
    if (is("SysTreeView32")) {
        auto* tree = new QTreeWidget(parent);
        tree->setHeaderHidden(true);
        setBorder(tree, item);
        return tree;
    }
    if (is("msctls_trackbar32")) {
        auto* slider = new QSlider((item.style & kTbsVert) != 0 ? Qt::Vertical : Qt::Horizontal, parent);
        slider->setTickPosition((item.style & kTbsNoTicks) != 0 ? QSlider::NoTicks : QSlider::TicksBelow);
        return slider;
    }
    if (is("msctls_progress32")) {
        auto* progress = new QProgressBar(parent);
        progress->setOrientation((item.style & kPbsVertical) != 0 ? Qt::Vertical : Qt::Horizontal);
        progress->setValue(0);
        progress->setTextVisible(false);
        return progress;
    }
    if (is("SysTabControl32")) return new QTabWidget(parent);
    if (is("msctls_updown32")) {
        // Only the two arrows: a scroll bar without room for its slider.
        auto* arrows = new QScrollBar((item.style & kUdsHorz) != 0 ? Qt::Horizontal : Qt::Vertical, parent);
        arrows->setRange(0, 0);
        return arrows;
    }
    if (className.startsWith(QLatin1String("RichEdit"), Qt::CaseInsensitive)) {
        auto* edit = new QTextEdit(parent);
        edit->setPlainText(title);
        edit->setReadOnly((item.style & kEsReadOnly) != 0);
        setBorder(edit, item);
        return edit;
    }
    if (is("SysAnimate32")) return new QWidget(parent);  // shows nothing until it plays
    if (is("SysDateTimePick32")) {
        if ((item.style & kDtsTimeFormat) == kDtsTimeFormat) return new QTimeEdit(parent);
        auto* date = new QDateEdit(parent);
        date->setCalendarPopup(true);
        return date;
    }
    if (is("SysMonthCal32")) return new QCalendarWidget(parent);
    if (is("SysIPAddress32")) {
        auto* address = new QLineEdit(parent);
        address->setInputMask(QStringLiteral("000.000.000.000;_"));
        address->setAlignment(Qt::AlignCenter);
        return address;
    }
    if (is("SysLink")) {
        auto* link = new QLabel(parent);
        link->setTextFormat(Qt::RichText);
        link->setText(linkMarkup(title));
        link->setWordWrap(true);
        link->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return link;
    }
    if (is("ComboBoxEx32")) return new QComboBox(parent);
    known = false;
    return nullptr;
}

std::uint16_t predefinedOrdinal(const NameOrOrdinal& windowClass) {
    if (windowClass.isOrdinal()) return windowClass.ordinal;
    const QString name = qText(windowClass.text);
    for (std::uint16_t ordinal = dialog_class::kButton; ordinal <= dialog_class::kComboBox; ++ordinal) {
        if (name.compare(classNameOf(NameOrOrdinal{NameOrOrdinal::Kind::kOrdinal, ordinal, {}}),
                         Qt::CaseInsensitive) == 0)
            return ordinal;
    }
    return 0;
}

}  // namespace

QFont dialogFont(const DialogTemplate& dialog) {
    QFont font = QApplication::font();
    if (!dialog.hasFont) return font;
    const QString face = qText(dialog.typeface);
    const bool shellFont = face.compare(QLatin1String("MS Shell Dlg"), Qt::CaseInsensitive) == 0 ||
                           face.compare(QLatin1String("MS Shell Dlg 2"), Qt::CaseInsensitive) == 0;
    if (!shellFont && !face.isEmpty()) font.setFamily(face);
    // 0x7FFF asks for the message box font: the desktop's.
    if (dialog.pointSize > 0 && dialog.pointSize <= 72) font.setPointSize(dialog.pointSize);
    if (dialog.extended) {
        if (dialog.weight != 0)
            font.setWeight(static_cast<QFont::Weight>(std::clamp<int>(dialog.weight, 1, 1000)));
        font.setItalic(dialog.italic);
    }
    return font;
}

DialogPreview::DialogPreview(const DialogTemplate& dialog, const ResourceModule& module, QWidget* parent)
    : QWidget(parent), dialog_(dialog), font_(dialogFont(dialog)), units_(font_) {
    const bool caption = (dialog.style & ws::kCaption) == ws::kCaption;
    const bool framed = caption || (dialog.style & (ws::kBorder | ws::kDialogFrame | ws::kThickFrame)) != 0 ||
                        (dialog.style & ws::kModalFrame) != 0 ||
                        (dialog.exStyle & ws::kExDialogModalFrame) != 0;
    frameWidth_ =
        framed ? std::max(2, style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this)) : 0;
    if (caption) {
        QStyleOptionTitleBar option;
        option.initFrom(this);
        titleHeight_ = style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, this);
    }
    const bool rtl = (dialog.exStyle & ws::kExLayoutRtl) != 0;
    if (rtl) setLayoutDirection(Qt::RightToLeft);

    client_ = new QWidget(this);
    client_->setFont(font_);
    client_->setAutoFillBackground(true);
    const QSize clientSize(std::max(0, units_.x(dialog.cx)), std::max(0, units_.y(dialog.cy)));
    client_->setGeometry(frameWidth_, frameWidth_ + titleHeight_, clientSize.width(), clientSize.height());
    setFixedSize(clientSize.width() + 2 * frameWidth_, clientSize.height() + 2 * frameWidth_ + titleHeight_);

    std::vector<QWidget*> groupBoxes;
    for (const DialogItem& item : dialog.items) {
        QRect rect(units_.x(item.x), units_.y(item.y), std::max(0, units_.x(item.cx)),
                   std::max(0, units_.y(item.cy)));
        // Right-to-left dialogs are laid out mirrored: x counts from the right edge.
        if (rtl) rect.moveLeft(clientSize.width() - rect.right() - 1);
        QWidget* widget = makeItem(item, module);
        widget->setGeometry(rect);
        if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr) {
            // The template's height includes the drop-down list.
            widget->setGeometry(rect.x(), rect.y(), rect.width(),
                                std::min(rect.height(), combo->sizeHint().height()));
        }
        if (qobject_cast<QGroupBox*>(widget) != nullptr) groupBoxes.push_back(widget);
        widget->setEnabled((item.style & ws::kDisabled) == 0);
        widget->setVisible((item.style & ws::kVisible) != 0);
        items_.push_back(widget);
    }
    // Group boxes frame the controls declared after them; they stay beneath those.
    for (QWidget* box : groupBoxes)
        box->lower();
}

QWidget* DialogPreview::makeItem(const DialogItem& item, const ResourceModule& module) {
    const QString title = item.title.isText() ? qText(item.title.text) : QString();
    const QRect rect(0, 0, units_.x(item.cx), units_.y(item.cy));
    switch (predefinedOrdinal(item.windowClass)) {
        case dialog_class::kButton:
            return makeButton(client_, item, title);
        case dialog_class::kEdit:
            return makeEdit(client_, item, title);
        case dialog_class::kStatic:
            return makeStatic(client_, item, title, module, rect);
        case dialog_class::kListBox: {
            auto* list = new QListWidget(client_);
            setBorder(list, item);
            return list;
        }
        case dialog_class::kScrollBar:
            return new QScrollBar((item.style & kSbsVert) != 0 ? Qt::Vertical : Qt::Horizontal, client_);
        case dialog_class::kComboBox: {
            const std::uint32_t kind = item.style & kCbsTypeMask;
            if (kind == kCbsSimple) {
                // A simple combo box is an edit field above a list that is always shown.
                auto* simple = new QWidget(client_);
                auto* edit = new QLineEdit(title, simple);
                auto* list = new QListWidget(simple);
                const int editHeight = edit->sizeHint().height();
                edit->setGeometry(0, 0, units_.x(item.cx), editHeight);
                list->setGeometry(0, editHeight, units_.x(item.cx),
                                  std::max(0, units_.y(item.cy) - editHeight));
                return simple;
            }
            auto* combo = new QComboBox(client_);
            combo->setEditable(kind == kCbsDropDown);
            if (combo->isEditable()) combo->setEditText(title);
            return combo;
        }
        default:
            break;
    }
    const QString className = classNameOf(item.windowClass);
    bool known = false;
    if (QWidget* widget = makeNamed(client_, item, className, title, known); known) return widget;
    return placeholder(client_, className);
}

void DialogPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frameWidth_ > 0) {
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = rect();
        frame.lineWidth = frameWidth_;
        frame.state |= QStyle::State_Raised;
        painter.fillRect(rect(), palette().color(QPalette::Window));
        style()->drawPrimitive(QStyle::PE_FrameWindow, &frame, &painter, this);
    }
    if (titleHeight_ > 0) {
        QStyleOptionTitleBar title;
        title.initFrom(this);
        title.rect = QRect(frameWidth_, frameWidth_, width() - 2 * frameWidth_, titleHeight_);
        title.text = qText(dialog_.title);
        title.state |= QStyle::State_Active | QStyle::State_Enabled;
        title.titleBarState = Qt::WindowActive;
        title.titleBarFlags = Qt::Window | Qt::WindowTitleHint;
        title.subControls = QStyle::SC_TitleBarLabel;
        if ((dialog_.style & ws::kSystemMenu) != 0) {
            title.titleBarFlags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
            title.subControls |= QStyle::SC_TitleBarCloseButton;
        }
        if ((dialog_.style & ws::kMinimizeBox) != 0) {
            title.titleBarFlags |= Qt::WindowMinimizeButtonHint;
            title.subControls |= QStyle::SC_TitleBarMinButton;
        }
        if ((dialog_.style & ws::kMaximizeBox) != 0) {
            title.titleBarFlags |= Qt::WindowMaximizeButtonHint;
            title.subControls |= QStyle::SC_TitleBarMaxButton;
        }
        style()->drawComplexControl(QStyle::CC_TitleBar, &title, &painter, this);
    }
}

}  // namespace kestrel::ui
