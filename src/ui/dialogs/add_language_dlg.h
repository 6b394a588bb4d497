// The dialog of Add Language: a language the file's resources have, and the new language their
// copies get, chosen by name or typed as a number.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class QComboBox;

namespace kestrel::ui {

struct AddLanguageRequest {
    std::uint16_t source = 0;
    std::uint16_t target = 0;
};

// A language's name as the locale data gives it, in English and in the language itself, with its
// number: "German (Germany) · Deutsch (Deutschland) · 0x0407". A language without locale data is
// shown by its number alone.
QString languageLabel(std::uint16_t language);

class CAddLanguageDlg : public QDialog {
    Q_OBJECT

  public:
    // `present`: the languages the file's resources have (at least one); `proposed` is selected as
    // the source when it is one of them.
    CAddLanguageDlg(const std::vector<std::uint16_t>& present, std::uint16_t proposed,
                    QWidget* parent = nullptr);

    // What the fields say; nullopt (and, when asked, a message naming the field at fault) when the
    // new language is neither a listed name nor a number from 0 to 65535, or is the source. A
    // language the file has already is taken: the copy itself refuses resources that clash.
    std::optional<AddLanguageRequest> request(bool showProblems = false);

    QComboBox* sourceBox() const { return source_; }
    QComboBox* targetBox() const { return target_; }

    void accept() override;

  private:
    std::vector<std::uint16_t> present_;
    QComboBox* source_ = nullptr;
    QComboBox* target_ = nullptr;
};

}  // namespace kestrel::ui
