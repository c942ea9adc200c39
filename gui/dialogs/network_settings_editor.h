#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "elements/net_rs485.h"

class DeviceIO;
class QComboBox;
class QSpinBox;

// Setting name and value text, in the element's order.
using SettingValues = std::vector<std::pair<std::string, std::string>>;

// Why the settings cannot go together ("" when they can): 8 data bits with
// two stop bits and even or odd parity, or an address above 255 with 8-bit
// addressing.
std::string RefuseProgramSettings(const SettingValues& values);

// An editor of the program's side of the line: one row per setting of the
// element, each offering what the setting allows.
class NetworkSettingsEditor : public QDialog {
    Q_OBJECT

  public:
    NetworkSettingsEditor(const Elements::NetRS485prg& settings, QWidget* parent);

    SettingValues Values() const;
    // The editor of one setting, by its name; null when there is none.
    QWidget* Editor(const std::string& name) const;

    void accept() override;

  private:
    struct Row {
        std::string name;
        QComboBox* choice = nullptr;
        QSpinBox* number = nullptr;
    };
    std::vector<Row> rows_;
};

// Stores values into the program's settings, writes them to the settings
// store and reopens the port with them (reporting a port that will not open).
void ApplyProgramSettings(DeviceIO& io, const SettingValues& values);

// Runs the editor over the program's settings and applies what was accepted.
// True when the settings were changed.
bool EditProgramSettings(DeviceIO& io, QWidget* parent);
