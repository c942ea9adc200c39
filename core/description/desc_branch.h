#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "elements/connector.h"
#include "elements/invisible_element.h"

class ParameterTable;

// The texts the bit sub-rows of a refreshed "Inv.d" row show: "инвертор" for
// a set bit, "повторитель" for a clear one; false when the parameter is not
// "Inv.d" or its value is not an integer.
bool InverterBitTexts(const Parameter& p, std::array<std::string, 8>& texts);

// One node of a description tree: owns its child branches and connectors,
// refers to parameters of the device's table.
class DescBranch : public Elements::InvisibleElement {
  public:
    DescBranch() { ownsParameters = false; }
    ~DescBranch() override;

    void Serialize(Archive& ar) override;
    void DeleteParameters() override {}
    ListResult CompareAll(ParameterDevice& device) override;
    ListResult ReadAll(ParameterDevice& device) override;
    ListResult WriteAll(ParameterDevice& device, int mode) override;
    void ClearValues() override;
    void CollectRecords(std::vector<SavedRecord>& records) const override;
    void ApplyRecords(const RecordMap& map, int limit, int& missingCount,
                      std::string& missingText) override;
    int Image() const override { return valueB; }
    int SelectedImage() const override { return valueC; }

    // Builds the branch from the 512-byte tree records starting at cursor.
    virtual void ReadRecords(ParameterTable& table, std::size_t& cursor,
                             std::span<const std::uint8_t> records, const std::string& treeName);
    // Puts the branch and its subtree into the view.
    virtual void ShowTree(RowSink& view, RowHandle parent, int options);
    virtual bool IsLinkedTo(const Elements::InvisibleElement& element) const;
    virtual bool AcceptLink(const Elements::InvisibleElement* element) const;

    // Whole-subtree operations: own parameters first, then children in order.
    void PrepareOperative(const std::function<std::unique_ptr<PollTimer>()>& makeTimer);
    int IsPolling() const;
    int CollectPolled(std::vector<Parameter*>& list) const;
    int CollectErrors(std::vector<Parameter*>& list) const;
    int CountChanged(bool all) const;
    Parameter* FindParameter(std::string_view name, int index, const DescBranch** owner) const;
    using ObjectWithParameters::FindParameter;
    const DescBranch* FindOwner(const Parameter* p) const;
    int SelectByNames(const std::map<std::string, std::string>& selectors,
                      std::vector<Parameter*>& list) const;
    // Every branch of the subtree, this one first (depth-first, file order).
    template <typename Visit>
    void ForEachBranch(Visit visit) const {
        visit(*this);
        for (const auto& child : branches)
            child->ForEachBranch(visit);
    }

    int kindValue = 0;
    std::int32_t valueA = 0;
    std::int32_t valueB = 0;
    std::int32_t valueC = 0;
    std::vector<std::unique_ptr<DescBranch>> branches;
    std::vector<std::unique_ptr<Elements::Connector>> connectors;
    bool connectorsShown = false;
};
