// The dialog of Add Resource: the type (a standard type by its display name, a number or a name),
// the name or ID, the language and the file the resource is made from.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "core/pe/resource_reader.h"

class QComboBox;
class QLineEdit;

namespace kestrel::ui {

struct AddResourceRequest {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    std::filesystem::path file;
};

// A type as typed: a standard type's display name (any case) or a number is an ID, anything else
// a name.
std::optional<ResourceKey> parseResourceType(std::string_view text);
// A name or ID as typed: a number (also written "#123") is an ID, anything else a name. Names are
// upper-cased, as the system's resource lookup upper-cases the names it is asked for.
std::optional<ResourceKey> parseResourceName(std::string_view text);
// A language: a decimal number, or hexadecimal with 0x, up to 0xFFFF.
std::optional<std::uint16_t> parseLanguage(std::string_view text);
// The number at the start of a language field's text ("1033 English (United States)" as the list
// of language names offers it, or the number alone).
QString languageNumberPart(const QString& text);
// Offers the known languages by number and name ("1031 Deutsch (Deutschland)") while a language
// is typed into `field`, and shows the name of the number typed in its tooltip.
void offerLanguageNames(QLineEdit* field);

class CAddResourceDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAddResourceDlg(std::uint16_t defaultLanguage, QWidget* parent = nullptr);

    // What the fields say; nullopt (and a message naming the field at fault) when one is wrong.
    std::optional<AddResourceRequest> request(bool showProblems = false);

    QComboBox* typeBox() const { return type_; }
    QLineEdit* nameEdit() const { return name_; }
    QLineEdit* languageEdit() const { return language_; }
    QLineEdit* fileEdit() const { return file_; }

    void accept() override;

  private:
    void browse();

    QComboBox* type_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* language_ = nullptr;
    QLineEdit* file_ = nullptr;
};

}  // namespace kestrel::ui
