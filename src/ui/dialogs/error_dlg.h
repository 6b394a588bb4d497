// The error dialog: a short summary beside the type's icon, the type's buttons of equal width, a
// send-report button and a details button that shows the whole chain of reports.
#pragma once

#include <QDialog>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors/errors.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kestrel::ui {

class ErrorDlg : public QDialog {
    Q_OBJECT

  public:
    ErrorDlg(std::string_view title, const ErrorDialogContents& contents, int type,
             std::span<const std::string> customCaptions, QWidget* parent);

    // The buttons of the row: the type's buttons, then send report, then details.
    QPushButton* buttonById(int controlId) const;
    QPushButton* defaultTypeButton() const;
    const std::vector<QPushButton*>& typeButtons() const { return typeButtons_; }
    QPushButton* detailsButton() const { return detailsButton_; }
    QPushButton* sendReportButton() const { return sendReportButton_; }
    QPlainTextEdit* detailsBox() const { return details_; }
    QLabel* summaryLabel() const { return summary_; }
    bool detailsShown() const;
    const std::string& detailsText() const { return detailsText_; }

    void toggleDetails();
    void sendReport();

    // Escape closes with Cancel only where the type has a Cancel meaning.
    void reject() override;

  private:
    ErrorDialogButtons layout_;
    std::string detailsText_;
    QLabel* summary_ = nullptr;
    QPlainTextEdit* details_ = nullptr;
    QPushButton* detailsButton_ = nullptr;
    QPushButton* sendReportButton_ = nullptr;
    std::vector<QPushButton*> typeButtons_;
};

// Shows a modal error dialog and returns the result of the button pressed.
int ErrorMessageBox(std::string_view title, std::optional<std::string_view> summary, QWidget* parent,
                    int type, std::span<const std::string> customCaptions = {});

// Takes the thread's error record and shows it with the application name as title.
int ShowErrorDialogWindow(int type = 0, QWidget* parent = nullptr);

}  // namespace kestrel::ui
