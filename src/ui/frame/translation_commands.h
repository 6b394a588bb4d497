// File > Export translations and Import translations: the open project's texts as a gettext
// template, and a translated PO file made into a new language of the project.
#pragma once

#include <QString>
#include <filesystem>
#include <optional>

class QWidget;

namespace kestrel {
class CKsDoc;
}

namespace kestrel::ui {

// Writes the template of the project's source language into `target`, or into a file the user
// chooses. False when nothing was written (no project, cancelled, or failed: reported).
bool exportTranslations(QWidget* parent, CKsDoc& document,
                        std::optional<std::filesystem::path> target = std::nullopt);

// Makes the resources of `language` (asked for when not given: a number or a locale name) from the
// source language's with the texts of `poFile` (chosen by the user when not given), in the
// project's working folder; the project is then reopened and holds uncompiled edits, which Save
// compiles. False when nothing was changed.
bool importTranslations(QWidget* parent, CKsDoc& document,
                        std::optional<std::filesystem::path> poFile = std::nullopt,
                        std::optional<QString> language = std::nullopt);

}  // namespace kestrel::ui
