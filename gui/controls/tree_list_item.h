#pragma once

#include <QColor>
#include <QString>
#include <memory>
#include <vector>

namespace TreeList {

class CTreeListModel;

// The check box of a row's tree column.
enum class CheckState { None, Unchecked, Checked };

// Where a new row goes among its siblings.
enum class InsertPosition { First, Last };

// One row of the tree-list. The control owns it from insertion until
// DeleteAllItems; the owner keeps the pointer as the row's handle and
// changes the row only through the control, which repaints what changed.
class CTLItem {
  public:
    CTLItem(const CTLItem&) = delete;
    CTLItem& operator=(const CTLItem&) = delete;

    // What the row shows, given by the owner; `kind` tells the owner what
    // `object` points to. The control never looks behind either.
    void* Object() const { return object_; }
    int Kind() const { return kind_; }

    // Column 0 is the label in the tree column.
    const QString& Text(int column) const;
    // Invalid means the window-text colour.
    const QColor& Colour() const { return colour_; }
    bool Disabled() const { return disabled_; }
    bool EditBox() const { return editBox_; }
    bool List() const { return list_; }
    CheckState Check() const { return check_; }
    int Image() const { return image_; }
    int SelectedImage() const { return selectedImage_; }
    // Children inserted only when the row is first expanded.
    bool ChildrenOnDemand() const { return childrenOnDemand_; }

    // Null for a top-level row.
    CTLItem* Parent() const;
    int ChildCount() const { return static_cast<int>(children_.size()); }
    CTLItem* Child(int i) const;
    // Position among the siblings.
    int Row() const { return row_; }
    CTLItem* NextSibling() const;
    CTLItem* PreviousSibling() const;

  private:
    friend class CTreeListModel;
    CTLItem(CTreeListModel* model, CTLItem* parent) : model_(model), parent_(parent) {}

    CTreeListModel* model_;
    CTLItem* parent_;
    int row_ = 0;
    std::vector<std::unique_ptr<CTLItem>> children_;

    void* object_ = nullptr;
    int kind_ = 0;
    std::vector<QString> texts_;
    QColor colour_;
    bool disabled_ = false;
    bool editBox_ = false;
    bool list_ = false;
    bool childrenOnDemand_ = false;
    CheckState check_ = CheckState::None;
    int image_ = -1;
    int selectedImage_ = -1;
};

}  // namespace TreeList
