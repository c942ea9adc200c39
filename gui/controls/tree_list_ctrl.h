#pragma once

#include <QPointer>
#include <QTreeView>
#include <functional>
#include <vector>

#include "controls/in_place_editors.h"
#include "controls/tree_list_item.h"
#include "controls/tree_list_model.h"

namespace TreeList {

// A multi-column tree under a header: per-row text colour, disabled rows,
// check boxes, one in-place editor at a time and a tool tip. It knows
// nothing of what the rows show; the owner fills the rows, answers the
// notifications and decides what an edit means.
//
// Row handles are CTLItem pointers, valid until DeleteAllItems.
//
// Editing: a double click outside the tree column asks the owner
// (editRequested), who may open an edit box or a list there. The editor ends
// on Enter, Tab, loss of focus, scrolling, collapsing, another row becoming
// current, or Escape, and is always reported: editEnded/listEnded carry
// `accepted` false only for Escape, so the owner drops the text then.
class CTreeListCtrl : public QTreeView {
    Q_OBJECT
  public:
    using Column = CTreeListModel::Column;

    static constexpr int kGridColourDefault = 0xC0C0C0;

    explicit CTreeListCtrl(QWidget* parent = nullptr);
    ~CTreeListCtrl() override;

    // --- Columns
    void SetColumns(std::vector<Column> columns);
    int ColumnCount() const { return static_cast<int>(model_->Columns().size()); }

    // --- Rows
    // Null parent: top level. Null on failure, after the box
    // "Не удается создать часть дерева ..." with the caption "Ошибка в InsertItem".
    CTLItem* InsertItem(const QString& label, int image, int selectedImage,
                        CTLItem* parent = nullptr, InsertPosition position = InsertPosition::Last);
    // The same with the object and the edit flags set in one step (caption
    // "Ошибка в InsertItemFast" on failure).
    CTLItem* InsertItemFast(const QString& label, int image, int selectedImage, CTLItem* parent,
                            InsertPosition position, void* object, int kind = 0,
                            bool editBox = false, bool list = false);
    // Closes any editor without a report; every row handle becomes invalid.
    void DeleteAllItems();
    // Rows inserted since the last DeleteAllItems.
    int GetCount() const { return model_->Count(); }

    // Many changes at once (a build, a refresh of every row), in nested
    // pairs: the rows are not announced one by one and the end repaints once.
    // Rows inserted or deleted in between reset the control at the end: the
    // expansions, the selection and an open editor do not survive that, so
    // it suits building anew.
    void BeginUpdate();
    void EndUpdate();

    void SetItemText(CTLItem* item, int column, const QString& text);
    // Columns 1, 2, ... from `texts` (at most 8 are used) and the text
    // colour, repainted once: the refresh of one row.
    void SetItemTexts(CTLItem* item, const QStringList& texts, const QColor& colour);
    QString GetItemText(const CTLItem* item, int column) const;
    // An invalid colour means the window-text colour.
    void SetItemColor(CTLItem* item, const QColor& colour);
    // Sets or clears the mark on the row and every row below it; rows
    // inserted later under a disabled row are disabled too.
    void SetItemDisabled(CTLItem* item, bool disabled);
    void SetItemObject(CTLItem* item, void* object, int kind = 0);
    // The list flag clears the edit-box flag.
    void SetItemEditFlags(CTLItem* item, bool editBox, bool list);
    void SetItemCheck(CTLItem* item, CheckState state);
    void SetItemImage(CTLItem* item, int image, int selectedImage);
    // The row shows an expander before it has children; its first expansion
    // asks the owner for them (childrenNeeded).
    void SetChildrenOnDemand(CTLItem* item, bool onDemand);

    // --- Navigation
    // The invisible parent of the top-level rows (iterate its children).
    CTLItem* RootItem() const { return model_->Root(); }
    CTLItem* SelectedItem() const;
    // Makes the row current and selected, and scrolls it into view.
    void SelectItem(CTLItem* item);
    void ExpandItem(CTLItem* item, bool expand = true);
    bool IsExpanded(const CTLItem* item) const;
    void EnsureVisible(const CTLItem* item);
    // The row (and column) under a point of the viewport.
    CTLItem* ItemAt(QPoint viewportPos, int* column = nullptr) const;
    // The cell's rectangle in viewport coordinates (empty when not shown).
    QRect CellRect(const CTLItem* item, int column) const;
    // The check box of the row's tree column in viewport coordinates.
    QRect CheckBoxRect(const CTLItem* item) const;
    // Depth-first from `start`'s children (null: every row), first match.
    CTLItem* FindItem(const CTLItem* start, const std::function<bool(const CTLItem&)>& match) const;
    // The first row whose label equals `label` without regard to case and
    // leading spaces and, when `object` is given, shows that object.
    CTLItem* FindItemByLabel(const CTLItem* start, const QString& label,
                             const void* object = nullptr) const;

    // --- Look
    void SetIconProvider(std::function<QIcon(int)> provider);
    void SetGridLines(bool on, const QColor& colour = QColor(kGridColourDefault));
    bool GridLines() const { return grid_; }
    const QColor& GridColour() const { return gridColour_; }

    // --- Tool tip (wrapped at 250 pixels, shown until hidden; another row
    // becoming current or an editor ending hides it)
    void ShowToolTip(const QString& text, QPoint viewportPos);
    // Just right of the cell (right of the open editor when it is there).
    void ShowToolTipBeside(const CTLItem* item, int column, const QString& text);
    void HideToolTip();
    CTreeToolTipCtrl* ToolTip() const { return toolTip_; }

    // --- Editors (one at a time; opening one ends the open one first)
    // False when the row is disabled, not shown, or the column is outside.
    bool OpenEditBox(CTLItem* item, int column, const QString& text,
                     std::function<bool(QChar)> filter = {});
    bool OpenList(CTLItem* item, int column, const QStringList& labels, int current,
                  bool dropDown = true);
    bool EditorOpen() const { return editBox_ || comboBox_; }
    // Ends the open editor; `report` false closes it silently.
    void CloseEditor(bool report = true);
    CTreeListEditBox* EditBox() const { return editBox_; }
    CTreeListComboBox* ComboBox() const { return comboBox_; }
    CTLItem* EditedItem() const { return editItem_; }
    int EditedColumn() const { return editColumn_; }

    CTreeListModel* Model() const { return model_; }

  signals:
    void editEnded(TreeList::CTLItem* item, int column, const QString& text, bool accepted);
    void listEnded(TreeList::CTLItem* item, int column, const QString& text, int index,
                   bool accepted);
    void checkBoxClicked(TreeList::CTLItem* item);
    void selectedItemChanged(TreeList::CTLItem* current, TreeList::CTLItem* previous);
    void childrenNeeded(TreeList::CTLItem* item);
    void itemExpanded(TreeList::CTLItem* item);
    void itemCollapsed(TreeList::CTLItem* item);
    // The row is already selected and scrolled into view.
    void rightClicked(TreeList::CTLItem* item, QPoint globalPos);
    // A double click outside the tree column of an enabled row.
    void editRequested(TreeList::CTLItem* item, int column);
    void ctrlEnterPressed(TreeList::CTLItem* item);

  protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    // A text cut at its column's edge is shown whole in a tool tip.
    bool viewportEvent(QEvent* e) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;

  private:
    CTLItem* Insert(const char* caption, const QString& label, int image, int selectedImage,
                    CTLItem* parent, InsertPosition position);
    bool CanEdit(const CTLItem* item, int column) const;
    void EndEditor(EndReason reason, bool report = true);
    bool OnCheckBox(QPoint viewportPos, CTLItem** item) const;

    CTreeListModel* model_;
    bool grid_ = false;
    QColor gridColour_{kGridColourDefault};
    CTreeToolTipCtrl* toolTip_;
    QPointer<CTreeListEditBox> editBox_;
    QPointer<CTreeListComboBox> comboBox_;
    CTLItem* editItem_ = nullptr;
    int editColumn_ = -1;
    CTLItem* pressedCheck_ = nullptr;
    // EndUpdate's own announcements: one repaint covers them.
    bool endingUpdate_ = false;
};

}  // namespace TreeList
