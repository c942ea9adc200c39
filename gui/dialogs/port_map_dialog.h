#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "link/port_map.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace myClass {
class CTableCtrl;
}

namespace Dialogs {

// What a port of the list stands for: "/dev/ttyUSB0 — <adapter>", or the
// converter's address.
std::string PortTargetText(const PortInfo& port);

// Whether a typed text names a device path or a converter (tcp://host:port
// with a port of 1..65535).
bool IsPortTarget(const std::string& text);

// The COM name for a typed port: a COM name stays; a device path or a
// converter's address gets the COM name the port map already gives it, else
// the first name that is neither mapped nor present, mapped to it in the
// user's settings. "" (with `error`) when the text names no port or the map
// cannot be written.
std::string ComNameFor(const std::string& typed, std::string& error);

// The computer's port: the COM names the port map resolves, each with what
// it stands for, a field that also takes a device path or tcp://host:port,
// and the port map's editor.
class CPortDialog : public QDialog {
    Q_OBJECT
  public:
    CPortDialog(const std::string& current, QWidget* parent = nullptr);

    // The chosen COM name once accepted.
    const std::string& Port() const { return port_; }
    QTreeWidget* List() const { return list_; }
    QLineEdit* Field() const { return field_; }
    QPushButton* MapButton() const { return map_; }

    void accept() override;
    // Lists the ports again (after the map changed).
    void FillList();

  private:
    QTreeWidget* list_ = nullptr;
    QLineEdit* field_ = nullptr;
    QPushButton* map_ = nullptr;
    std::string port_;
};

// "Карта портов": which device path or converter each COM name stands for,
// written to the user's settings.
class CPortMapDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CPortMapDialog(QWidget* parent = nullptr);

    myClass::CTableCtrl* Table() const { return table_; }
    // A new row, its name the first unmapped COM name.
    void AddRow();
    // Removes the selected row.
    void RemoveRow();
    // Checks every row, writes the changes; stays open on a refusal.
    void accept() override;

  private:
    myClass::CTableCtrl* table_ = nullptr;
    std::vector<std::string> before_;  // the names mapped on opening
};

}  // namespace Dialogs
