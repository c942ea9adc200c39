#pragma once

#include <string>

#include "elements/invisible_element.h"

namespace Elements {

// The device's own RS-485 settings, read from and written to the device
// like any other branch.
class NetRS485 : public InvisibleElement {
  public:
    NetRS485() { NetRS485::DeleteParameters(); }
    void DeleteParameters() override;
    int Image() const override { return 4; }
    int SelectedImage() const override { return 4; }
    std::string TypeName() const override { return "Настройки RS-485"; }

  protected:
    void CreateSettings();
};

// The same settings for the program's side of the line, plus the computer's
// port. They live in the settings store and configure the serial port.
class NetRS485prg : public NetRS485 {
  public:
    NetRS485prg() { NetRS485prg::DeleteParameters(); }
    ~NetRS485prg() override;
    void DeleteParameters() override;
    int Image() const override { return 19; }
    int SelectedImage() const override { return 19; }
    std::string TypeName() const override { return "Сетевые параметры программы"; }
    std::string SettingsSummary() const override;

    // Writes the settings into the settings store.
    void Store() const;
};

// Index of a setting's label ("PrtY", "Sbit"), -1 when the value is none of them.
int SettingIndex(const InvisibleElement& element, const std::string& name);

// Refuses 8 data bits with 2 stop bits and even or odd parity.
bool CheckCombination(const InvisibleElement& element, const std::string& editedName,
                      const std::string& newValue);
// Refuses an address above 255 with 8-bit addressing; `message` says why.
bool CheckAddress(const InvisibleElement& element, const std::string& editedName,
                  const std::string& newValue, std::string& message);

}  // namespace Elements
