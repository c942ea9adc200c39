#pragma once

#include <string>
#include <vector>

#include "elements/connector.h"
#include "elements/invisible_element.h"
#include "model/row_sink.h"

// Keeps the rows a tree puts into a view as indented lines: "  name" per level.
class RecordingSink : public RowSink {
  public:
    RowHandle InsertParameterRow(RowHandle parent, Parameter& p, const ParameterRow& row) override {
        return Add(parent, "P " + (p.treeLabel.empty() ? p.DisplayDescription() : p.treeLabel) +
                               " [" + row.name + "]" + (row.putFirst ? " first" : ""));
    }
    RowHandle InsertElementRow(RowHandle parent, Elements::InvisibleElement&,
                               const std::string& text, int image, int selectedImage) override {
        return Add(parent,
                   "B " + text + " " + std::to_string(image) + "/" + std::to_string(selectedImage));
    }
    RowHandle InsertSubRow(RowHandle parent, const std::string& text) override {
        return Add(parent, "S " + text);
    }
    RowHandle InsertConnectorRow(RowHandle parent, Elements::Connector& c,
                                 const std::string& text) override {
        return Add(parent, "C " + c.sourceText + " = " + text);
    }
    void UpdateParameterRow(RowHandle, Parameter&, const ParameterRow&) override { ++updates; }
    void UpdateSubRow(RowHandle row, const std::string& text) override {
        lines[Index(row)] += " -> " + text;
    }

    std::vector<std::string> lines;
    int updates = 0;

  private:
    std::vector<int> depth_;
    RowHandle Add(RowHandle parent, const std::string& text) {
        int d = parent ? depth_[Index(parent)] + 1 : 0;
        depth_.push_back(d);
        lines.push_back(std::string(static_cast<std::size_t>(2 * d), ' ') + text);
        return reinterpret_cast<RowHandle>(lines.size());
    }
    static std::size_t Index(RowHandle h) { return reinterpret_cast<std::size_t>(h) - 1; }
};
