#pragma once

#include <QPointer>
#include <QTableWidget>
#include <functional>

#include "controls/in_place_editors.h"

namespace myClass {

// A table whose cells are edited in place (edit box or drop-down list) and
// whose disabled rows can be neither selected nor edited. Each edit is handed
// to StoreCell; a refusal is shown with the caption "Ошибка записи" and the
// cell keeps its old text, so what is shown is what was stored.
//
// Escape closes an editor without storing; so does leaving a drop-down list
// without choosing an entry. An edit box that loses the focus or is
// scrolled away stores its text.
class CTableCtrl : public QTableWidget {
    Q_OBJECT
  public:
    enum CellFlag : int {
        kEditable = 1,  // an edit box
        kList = 2,      // a drop-down list of the cell's choices
        kDisabled = 4,  // grey, never edited
    };

    explicit CTableCtrl(QWidget* parent = nullptr);
    ~CTableCtrl() override;

    // Column titles and, optionally, widths.
    void SetColumns(const QStringList& titles, const QList<int>& widths = {});
    // Appends a row with these texts; returns its number.
    int AddRow(const QStringList& texts, int flags = 0);
    void SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;
    void SetCellFlags(int row, int column, int flags);
    int CellFlags(int row, int column) const;
    void SetCellChoices(int row, int column, const QStringList& labels);
    // A disabled row is grey, cannot be selected and is skipped by the keys.
    void SetRowDisabled(int row, bool disabled);
    bool RowDisabled(int row) const;

    // Opens the cell's editor as a double click does; false when the cell
    // cannot be edited.
    bool OpenEditor(int row, int column);
    // Ends the open editor, storing an edit box's text when `store`.
    void CloseEditor(bool store = true);
    bool EditorOpen() const { return editBox_ || comboBox_; }
    TreeList::CTreeListEditBox* EditBox() const { return editBox_; }
    TreeList::CTreeListComboBox* ComboBox() const { return comboBox_; }

    // Stores an edited cell; false refuses it with the reason in `error`.
    // The default asks `storeCell` when set, else accepts.
    virtual bool StoreCell(int row, int column, const QString& text, QString* error);
    std::function<bool(int row, int column, const QString& text, QString* error)> storeCell;

  signals:
    void cellStored(int row, int column, const QString& text);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    QTableWidgetItem* Cell(int row, int column);
    void ApplyFlags(int row, int column);
    void EndEditor(TreeList::EndReason reason);
    void Store(int row, int column, const QString& text);

    QPointer<TreeList::CTreeListEditBox> editBox_;
    QPointer<TreeList::CTreeListComboBox> comboBox_;
    int editRow_ = -1;
    int editColumn_ = -1;
};

}  // namespace myClass
