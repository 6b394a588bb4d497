#include "ui/dialogs/add_language_dlg.h"

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
#include "ui/dialogs/add_resource_dlg.h"
#include "ui/widgets/language_names.h"

namespace kestrel::ui {

namespace {

// The language part of the tag of the first known number with the same primary language (the low
// ten bits).
QString primaryTagOf(std::uint16_t language) {
    for (std::uint16_t known : knownLanguages()) {
        if ((known & 0x3FF) != (language & 0x3FF)) continue;
        const QString tag = languageTag(known);
        return tag.left(tag.indexOf(QLatin1Char('-')));
    }
    return {};
}

QString numberText(std::uint16_t language) {
    return QStringLiteral("0x") + QStringLiteral("%1").arg(language, 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

QString languageLabel(std::uint16_t language) {
    if (language == 0)
        return QCoreApplication::translate("kestrel::ui::CAddLanguageDlg", "中性") +
               QStringLiteral(" · 0x0000");
    const QString tag = languageTag(language);
    // A primary language without a sublanguage (as 0x0007) is the language wherever it is spoken.
    const bool regionless = tag.isEmpty() && (language >> 10) == 0;
    const QString name = !tag.isEmpty() ? tag : regionless ? primaryTagOf(language) : QString();
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
