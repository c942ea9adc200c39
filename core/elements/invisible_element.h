#pragma once

#include <string>
#include <string_view>

#include "model/object_with_parameters.h"

namespace Elements {

struct SchemeRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// An element of the controller's scheme that has no picture of its own.
class InvisibleElement : public ObjectWithParameters {
  public:
    void Serialize(Archive& ar) override;
    bool SetValue(std::string_view name, const std::string& newValue, bool markChanged) override;
    ListResult CompareAll(ParameterDevice& device) override;
    ListResult ReadAll(ParameterDevice& device) override;
    ListResult WriteAll(ParameterDevice& device, int mode) override;
    void ShowInTree(RowSink& view, RowHandle parent, int limit, int option) override;

    virtual SchemeRect SchemeRectangle() const { return {}; }
    virtual int Image() const { return 0; }
    virtual int SelectedImage() const { return 0; }
    virtual std::string TypeName() const { return "Невизуальный элемент"; }
    virtual int SchemeOrder() const { return -999; }
    virtual std::string GroupName() const { return "Не относящиеся ко схеме"; }
    std::string Title() const { return elementName + " (" + TypeName() + ")"; }
    virtual std::string SettingsSummary() const;

    void SetName(std::string name) { elementName = std::move(name); }
    const std::string& Name() const { return elementName; }

    std::string elementName;

  protected:
    // The element's own row; the branch adds its parameters and children.
    RowHandle ShowOwnRow(RowSink& view, RowHandle parent);
    // The parameter count and the parameters; loading reads the stored values
    // into the parameters the description built, in list order.
    void SerializeCountedParameters(Archive& ar);
};

}  // namespace Elements
