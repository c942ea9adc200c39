#pragma once

#include <QDialog>
#include <functional>

#include "document/single_point.h"

class CSelvarDoc;
class DescBranch;
class Parameter;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace Dialogs {

// "Произвольный доступ к отдельным параметрам (Single Point)": reads or
// writes one parameter by name, optionally over a range of indexes, and
// shows the exchange line by line. SinglePoint decides everything; this
// dialog shows the fields and the log.
class CSinglePoint : public QDialog {
    Q_OBJECT
  public:
    explicit CSinglePoint(CSelvarDoc& doc, QWidget* parent = nullptr);

    // Shows the parameter's row in the configuration view; the main window
    // sets it while a view is there to show it.
    std::function<void(const DescBranch& branch, Parameter& p)> showInTree;
    // Brings the main window back from the tray.
    std::function<void()> restoreWindow;

    // The fields as they stand.
    SinglePoint::Request CurrentRequest() const;

    // "Выполнить!" and "Найти и показать этот параметр в \"дереве\"".
    void Execute();
    void FindInTree();

    QComboBox* CommandField() const { return command_; }
    QLineEdit* HashField() const { return hash_; }
    QLineEdit* DescriptionField() const { return description_; }
    QRadioButton* ReadButton() const { return read_; }
    QRadioButton* WriteButton() const { return write_; }
    QComboBox* ValueField() const { return value_; }
    QLabel* ValueLabel() const { return valueLabel_; }
    QCheckBox* LinearIndexBox() const { return linearIndex_; }
    QLineEdit* IndexFromField() const { return from_; }
    QLineEdit* IndexToField() const { return to_; }
    QRadioButton* IndexInDataButton() const { return inData_; }
    QRadioButton* IndexInAddressButton() const { return inAddress_; }
    QListWidget* Log() const { return log_; }
    QPushButton* ExecuteButton() const { return execute_; }
    QPushButton* FindButton() const { return find_; }
    QPushButton* ExitButton() const { return exit_; }

  private:
    void FillCommandList();
    void OnCommandChanged(const QString& text);
    void OnOperationChanged();
    void OnLinearIndexChanged();
    void OnIndexFromChanged(const QString& text);

    CSelvarDoc& doc_;
    QComboBox* command_ = nullptr;
    QLineEdit* hash_ = nullptr;
    QLineEdit* description_ = nullptr;
    QButtonGroup* operation_ = nullptr;
    QRadioButton* read_ = nullptr;
    QRadioButton* write_ = nullptr;
    QLabel* valueLabel_ = nullptr;
    QComboBox* value_ = nullptr;
    QCheckBox* linearIndex_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QLineEdit* from_ = nullptr;
    QLineEdit* to_ = nullptr;
    QButtonGroup* placement_ = nullptr;
    QRadioButton* inData_ = nullptr;
    QRadioButton* inAddress_ = nullptr;
    QListWidget* log_ = nullptr;
    QPushButton* execute_ = nullptr;
    QPushButton* find_ = nullptr;
    QPushButton* exit_ = nullptr;
};

}  // namespace Dialogs
