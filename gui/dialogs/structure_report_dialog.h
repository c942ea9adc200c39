#pragma once

#include <QDialog>
#include <string>

class CSelvarDoc;
class QLabel;
class QPushButton;

namespace Dialogs {

// "Отчет о структуре конфигурации": which object each channel, commutator,
// signal converter and key belongs to, as the document's structure listing
// says. A listing without data is read from the device first while
// automatic reading is on.
class CReport : public QDialog {
    Q_OBJECT
  public:
    explicit CReport(CSelvarDoc& doc, QWidget* parent = nullptr);

    // Makes the report (reading first when it lacks data) and shows the dialog.
    int exec() override;
    // The opening step alone: the report, read first when it lacks data.
    void Prepare();
    // "Перечитать": the structural parameters again, then the report.
    void Reread();

    QLabel* Text() const { return text_; }
    QPushButton* RereadButton() const { return reread_; }
    QPushButton* OkButton() const { return ok_; }

  private:
    // Makes the listing and shows it; returns it.
    std::string ShowListing();

    CSelvarDoc& doc_;
    QLabel* text_ = nullptr;
    QPushButton* reread_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace Dialogs
