#pragma once

#include <QDialog>
#include <memory>

#include "document/regulation.h"

class CSelvarDoc;
class QComboBox;
class QPushButton;

namespace myClass {
class CTableCtrl;
}

namespace Dialogs {

// "Запуск / Остановка регулирования": the states of the device's eight
// objects, refreshed one after another while the dialog is open, with start
// and stop commands for the selected object and the network start switch.
// The decisions and the watching thread are Regulation::Control's; this
// class shows them. The watching thread reaches it only through queued calls.
class CRegulDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kRowHeight = 21;

    // None after the box "Не найден параметр \"r.st\"!" when the device's
    // description has no "r.st".
    static std::unique_ptr<CRegulDlg> Create(CSelvarDoc& doc, QWidget* parent = nullptr);
    ~CRegulDlg() override;

    // Opens (fills, reads the switch, starts watching) and runs the dialog.
    int exec() override;
    // The opening step alone; once.
    void Open();
    // "Отмена", also Escape and the window's close button: the watching
    // thread is asked to end and the dialog closes once it has.
    void reject() override;

    Regulation::Control& Control() { return *control_; }
    myClass::CTableCtrl* Table() const { return table_; }
    QComboBox* NetworkStartBox() const { return networkStart_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The object row the user selected; -1 when none.
    int SelectedRow() const;
    // Refreshes of single objects shown so far.
    int Refreshes() const { return refreshes_; }

  protected:
    void resizeEvent(QResizeEvent* e) override;

  private:
    CRegulDlg(std::unique_ptr<Regulation::Control> control, QWidget* parent);
    void PlaceColumns();
    // One object's state read and shown (the watching thread's request).
    void OnRefresh(int k);
    void OnCommand(bool start);

    std::unique_ptr<Regulation::Control> control_;
    myClass::CTableCtrl* table_ = nullptr;
    QComboBox* networkStart_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool opened_ = false;
    bool closing_ = false;
    int refreshes_ = 0;
};

}  // namespace Dialogs
