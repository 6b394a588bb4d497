#include "ui/add_language_dlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <string_view>

#include "core/platform/ui_sink.h"
#include "ui/add_resource_dlg.h"

namespace kestrel::ui {

namespace {

// Windows language numbers and the locale names the locale data knows them by.
struct KnownLanguage {
    std::uint16_t number;
    const char* tag;
};
constexpr KnownLanguage kKnownLanguages[] = {
    {0x0436, "af-ZA"},      {0x041C, "sq-AL"}, {0x0401, "ar-SA"},      {0x0801, "ar-IQ"},
    {0x0C01, "ar-EG"},      {0x042B, "hy-AM"}, {0x042C, "az-Latn-AZ"}, {0x042D, "eu-ES"},
    {0x0423, "be-BY"},      {0x0445, "bn-IN"}, {0x0402, "bg-BG"},      {0x0403, "ca-ES"},
    {0x0804, "zh-CN"},      {0x0404, "zh-TW"}, {0x0C04, "zh-HK"},      {0x1004, "zh-SG"},
    {0x041A, "hr-HR"},      {0x0405, "cs-CZ"}, {0x0406, "da-DK"},      {0x0413, "nl-NL"},
    {0x0813, "nl-BE"},      {0x0409, "en-US"}, {0x0809, "en-GB"},      {0x0C09, "en-AU"},
    {0x1009, "en-CA"},      {0x1409, "en-NZ"}, {0x1809, "en-IE"},      {0x0425, "et-EE"},
    {0x0438, "fo-FO"},      {0x0429, "fa-IR"}, {0x040B, "fi-FI"},      {0x040C, "fr-FR"},
    {0x080C, "fr-BE"},      {0x0C0C, "fr-CA"}, {0x100C, "fr-CH"},      {0x0456, "gl-ES"},
    {0x0437, "ka-GE"},      {0x0407, "de-DE"}, {0x0807, "de-CH"},      {0x0C07, "de-AT"},
    {0x0408, "el-GR"},      {0x040D, "he-IL"}, {0x0439, "hi-IN"},      {0x040E, "hu-HU"},
    {0x040F, "is-IS"},      {0x0421, "id-ID"}, {0x0410, "it-IT"},      {0x0810, "it-CH"},
    {0x0411, "ja-JP"},      {0x043F, "kk-KZ"}, {0x0412, "ko-KR"},      {0x0426, "lv-LV"},
    {0x0427, "lt-LT"},      {0x042F, "mk-MK"}, {0x043E, "ms-MY"},      {0x0414, "nb-NO"},
    {0x0814, "nn-NO"},      {0x0415, "pl-PL"}, {0x0416, "pt-BR"},      {0x0816, "pt-PT"},
    {0x0418, "ro-RO"},      {0x0417, "rm-CH"}, {0x0419, "ru-RU"},      {0x0C1A, "sr-Cyrl-RS"},
    {0x081A, "sr-Latn-RS"}, {0x041B, "sk-SK"}, {0x0424, "sl-SI"},      {0x0C0A, "es-ES"},
    {0x080A, "es-MX"},      {0x2C0A, "es-AR"}, {0x0441, "sw-KE"},      {0x041D, "sv-SE"},
    {0x0449, "ta-IN"},      {0x044A, "te-IN"}, {0x041E, "th-TH"},      {0x041F, "tr-TR"},
    {0x0422, "uk-UA"},      {0x0420, "ur-PK"}, {0x0443, "uz-Latn-UZ"}, {0x042A, "vi-VN"},
    {0x0452, "cy-GB"},
};

// Languages with a number of their own besides the table's: the traditional Spanish sort, and
// Serbian written in Latin as older files number it.
constexpr KnownLanguage kOtherNumbers[] = {{0x040A, "es-ES"}, {0x241A, "sr-Latn-RS"}, {0x0C1A, "sr-Cyrl-RS"}};

const char* tagOf(std::uint16_t language) {
    for (const KnownLanguage& known : kKnownLanguages)
        if (known.number == language) return known.tag;
    for (const KnownLanguage& known : kOtherNumbers)
        if (known.number == language) return known.tag;
    return nullptr;
}

// The language part of the first tag whose number has the same primary language (the low ten bits).
QString primaryTagOf(std::uint16_t language) {
    for (const KnownLanguage& known : kKnownLanguages) {
        if ((known.number & 0x3FF) != (language & 0x3FF)) continue;
        const std::string_view tag(known.tag);
        return QString::fromLatin1(tag.substr(0, tag.find('-')));
    }
    return {};
}

QString numberText(std::uint16_t language) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(language, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

const std::vector<std::uint16_t>& knownLanguages() {
    static const std::vector<std::uint16_t> numbers = [] {
        std::vector<std::uint16_t> list;
        for (const KnownLanguage& known : kKnownLanguages)
            list.push_back(known.number);
        return list;
    }();
    return numbers;
}

QString languageLabel(std::uint16_t language) {
    if (language == 0)
        return QCoreApplication::translate("kestrel::ui::CAddLanguageDlg", "中性") +
               QStringLiteral(" · 0x0000");
    const char* tag = tagOf(language);
    // A primary language without a sublanguage (as 0x0007) is the language wherever it is spoken.
    const bool regionless = tag == nullptr && (language >> 10) == 0;
    const QString name = tag != nullptr ? QString::fromLatin1(tag)
                         : regionless   ? primaryTagOf(language)
                                        : QString();
    if (name.isEmpty()) return numberText(language);
    const QLocale locale(name);
    if (locale.language() == QLocale::C) return numberText(language);
    QString english = QLocale::languageToString(locale.language());
    QString native = locale.nativeLanguageName();
    if (!regionless) {
        english += QStringLiteral(" (%1)").arg(QLocale::territoryToString(locale.territory()));
        if (!locale.nativeTerritoryName().isEmpty())
            native += QStringLiteral(" (%1)").arg(locale.nativeTerritoryName());
    }
    QString label = english;
    // A left-to-right mark ends a right-to-left name, so that the number after it is not drawn
    // into that name's run.
    if (!native.isEmpty() && native != english) label += QStringLiteral(" · ") + native + QChar(0x200E);
    return label + QStringLiteral(" · ") + numberText(language);
}

CAddLanguageDlg::CAddLanguageDlg(const std::vector<std::uint16_t>& present, std::uint16_t proposed,
                                 QWidget* parent)
    : QDialog(parent), present_(present) {
    setWindowTitle(tr("添加语言"));
    source_ = new QComboBox(this);
    for (std::uint16_t language : present_)
        source_->addItem(languageLabel(language), int{language});
    const int proposedRow = source_->findData(int{proposed});
    if (proposedRow >= 0) source_->setCurrentIndex(proposedRow);

    target_ = new QComboBox(this);
    target_->setEditable(true);
    target_->setInsertPolicy(QComboBox::NoInsert);
    std::vector<std::pair<QString, std::uint16_t>> offered;
    for (std::uint16_t language : knownLanguages()) {
        if (std::find(present_.begin(), present_.end(), language) == present_.end())
            offered.emplace_back(languageLabel(language), language);
    }
    std::sort(offered.begin(), offered.end(),
              [](const auto& a, const auto& b) { return a.first.localeAwareCompare(b.first) < 0; });
    for (const auto& [label, language] : offered)
        target_->addItem(label, int{language});
    target_->setCurrentIndex(-1);
    target_->lineEdit()->setPlaceholderText(tr("名称或数字，如 0x0407"));

    auto* form = new QFormLayout;
    form->addRow(tr("复制的语言(&S):"), source_);
    form->addRow(tr("新语言(&N):"), target_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddLanguageDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAddLanguageDlg::reject);
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 70);
}

std::optional<AddLanguageRequest> CAddLanguageDlg::request(bool showProblems) {
    auto problem = [&](const QString& text, QWidget* field) -> std::optional<AddLanguageRequest> {
        if (showProblems) {
            uiSink().message(text.toStdString(), kAppName, MessageIcon::kExclamation);
            field->setFocus();
        }
        return std::nullopt;
    };
    AddLanguageRequest result;
    if (source_->currentIndex() < 0) return problem(tr("请选择要复制的语言。"), source_);
    result.source = static_cast<std::uint16_t>(source_->currentData().toInt());
    // A name from the list, or a number typed in.
    const QString typed = target_->currentText().trimmed();
    const int row = target_->findText(typed);
    std::optional<std::uint16_t> target;
    if (row >= 0) {
        target = static_cast<std::uint16_t>(target_->itemData(row).toInt());
    } else {
        target = parseLanguage(typed.toStdString());
    }
    if (!target) return problem(tr("新语言必须是列表中的语言或 0 到 65535 的数字。"), target_);
    if (*target == result.source) return problem(tr("新语言不能与复制的语言相同。"), target_);
    result.target = *target;
    return result;
}

void CAddLanguageDlg::accept() {
    if (request(true)) QDialog::accept();
}

}  // namespace kestrel::ui
