#pragma once

#include "elements/invisible_element.h"

namespace Elements {

// The program's own service parameters: version, copyright, operating system.
class CommonParams : public InvisibleElement {
  public:
    CommonParams() { DeleteParameters(); }
    void DeleteParameters() override;
    int Image() const override { return 20; }
    int SelectedImage() const override { return 20; }
    std::string TypeName() const override { return "Сервисные параметры программы"; }
};

// "Версия" text: product name and version from the build.
std::string ProductVersionText();
// The operating system, from uname.
std::string OperatingSystemText();

}  // namespace Elements
