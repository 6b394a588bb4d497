#include "ui/dialogs/add_resource_dlg.h"

#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <charconv>
#include <string>

#include "core/pe/resource_types.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/frame/resource_tree.h"
#include "ui/widgets/language_names.h"

namespace kestrel::ui {

namespace {

constexpr int kLastStandardType = 24;

QString toQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& text) {
    return text.toUtf8().toStdString();
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A whole number in `base`, nothing before or after it; nullopt when out of range.
std::optional<std::uint32_t> wholeNumber(std::string_view text, int base = 10) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool startsWithDigit(std::string_view text) {
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

// An ID (1..65535) or an upper-cased name; a text that starts like a number must be one.
std::optional<ResourceKey> parseKey(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    std::string_view digits = text.front() == '#' ? text.substr(1) : text;
    if (text.front() == '#' || startsWithDigit(text)) {
        std::optional<std::uint32_t> id = wholeNumber(digits);
        if (!id || *id == 0 || *id > 0xFFFF) return std::nullopt;
        return ResourceKey::ofId(static_cast<std::uint16_t>(*id));
    }
    const QString upper = toQt(text).toUpper();
    return ResourceKey::ofName(std::u16string(reinterpret_cast<const char16_t*>(upper.utf16()),
                                              static_cast<std::size_t>(upper.size())));
}

// Display names of the types that can be added (string tables live in STRINGS.XML).
QStringList standardTypeNames() {
    QStringList names;
    for (int number = 1; number <= kLastStandardType; ++number) {
        const std::string label = std::to_string(number);
        const std::string name = typeDisplayName(label);
        if (name != label && number != resource_type::kString) names << toQt(name);
    }
    return names;
}

}  // namespace

std::optional<ResourceKey> parseResourceType(std::string_view text) {
    const std::string_view typed = trimmed(text);
    for (int number = 1; number <= kLastStandardType; ++number) {
        const std::string label = std::to_string(number);
        const std::string name = typeDisplayName(label);
        if (name != label && iequalsAscii(name, typed))
            return ResourceKey::ofId(static_cast<std::uint16_t>(number));
    }
    return parseKey(typed);
}

std::optional<ResourceKey> parseResourceName(std::string_view text) {
    return parseKey(text);
}

std::optional<std::uint16_t> parseLanguage(std::string_view text) {
    text = trimmed(text);
    std::optional<std::uint32_t> value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        value = wholeNumber(text.substr(2), 16);
    } else {
        value = wholeNumber(text);
    }
    if (!value || *value > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

void offerLanguageNames(QLineEdit* field) {
    QStringList choices;
    for (std::uint16_t number : knownLanguages())
        choices << QString::number(number) + QLatin1Char(' ') + languageDisplayName(number);
    auto* completer = new QCompleter(choices, field);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    field->setCompleter(completer);
    auto showName = [field] {
        const std::optional<std::uint16_t> number =
            parseLanguage(languageNumberPart(field->text()).toStdString());
        field->setToolTip(number ? languageDisplayName(*number) : QString());
    };
    QObject::connect(field, &QLineEdit::textChanged, field, showName);
    showName();
}

QString languageNumberPart(const QString& text) {
    const QString trimmedText = text.trimmed();
    const qsizetype space = trimmedText.indexOf(QLatin1Char(' '));
    return space < 0 ? trimmedText : trimmedText.left(space);
}

CAddResourceDlg::CAddResourceDlg(std::uint16_t defaultLanguage, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("添加资源"));
    type_ = new QComboBox(this);
    type_->setEditable(true);
    type_->setInsertPolicy(QComboBox::NoInsert);
    type_->addItems(standardTypeNames());
    name_ = new QLineEdit(this);
    language_ = new QLineEdit(QString::number(defaultLanguage), this);
    offerLanguageNames(language_);
    file_ = new QLineEdit(this);
    auto* browseButton = new QToolButton(this);
    browseButton->setText(QStringLiteral("..."));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browseButton);

    auto* form = new QFormLayout;
    form->addRow(tr("类型(&T):"), type_);
    form->addRow(tr("名称或 ID(&N):"), name_);
    form->addRow(tr("语言(&L):"), language_);
    // A row of a layout gets no buddy from addRow: without one the mnemonic would show as "&".
    auto* fileLabel = new QLabel(tr("文件(&F):"), this);
    fileLabel->setBuddy(file_);
    form->addRow(fileLabel, fileRow);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(browseButton, &QToolButton::clicked, this, &CAddResourceDlg::browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddResourceDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddResourceDlg::reject);
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
}

void CAddResourceDlg::browse() {
    const QString chosen =
        QFileDialog::getOpenFileName(this, tr("选择资源文件"), file_->text(), tr("所有文件 (*)"));
    if (!chosen.isEmpty()) file_->setText(chosen);
}

std::optional<AddResourceRequest> CAddResourceDlg::request(bool showProblems) {
    auto problem = [&](const QString& text, QWidget* field) -> std::optional<AddResourceRequest> {
        if (showProblems) {
            uiSink().message(text.toStdString(), kAppName, MessageIcon::kExclamation);
            field->setFocus();
        }
        return std::nullopt;
    };
    AddResourceRequest result;
    std::optional<ResourceKey> type = parseResourceType(fromQt(type_->currentText()));
    if (!type) return problem(tr("请输入资源类型：标准类型、1 到 65535 的数字或名称。"), type_);
    std::optional<ResourceKey> name = parseResourceName(fromQt(name_->text()));
    if (!name) return problem(tr("请输入资源名称或 1 到 65535 的 ID。"), name_);
    std::optional<std::uint16_t> language = parseLanguage(fromQt(languageNumberPart(language_->text())));
    if (!language) return problem(tr("语言必须是 0 到 65535 的数字。"), language_);
    const std::string file(trimmed(fromQt(file_->text())));
    if (file.empty()) return problem(tr("请选择资源的文件。"), file_);
    result.type = std::move(*type);
    result.name = std::move(*name);
    result.language = *language;
    result.file = pathFromUtf8(file);
    return result;
}

void CAddResourceDlg::accept() {
    if (request(true)) QDialog::accept();
}

}  // namespace kestrel::ui
