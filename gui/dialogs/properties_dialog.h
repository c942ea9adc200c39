#pragma once

#include <QDialog>
#include <utility>
#include <vector>

#include "model/row_sink.h"

class CSelvarDoc;
class COrvinTreeListCtrl;
class QPushButton;

namespace Elements {
class InvisibleElement;
}
namespace TreeList {
class CTLItem;
}

namespace Dialogs {

// "Свойства блока схемы или отдельной ветви конфигурации": the parameters of
// one element in a small tree-list of their own, edited in place by the
// configuration view's rules. It is the dialog of the program's network
// settings; the computer's port is chosen from the ports the port map
// resolves.
class CBlockPropertieDialog : public QDialog, public RowSink {
    Q_OBJECT
  public:
    // rs232: the document's interface is RS-232, where only "Port" counts.
    CBlockPropertieDialog(CSelvarDoc& doc, Elements::InvisibleElement& element, bool rs232,
                          QWidget* parent = nullptr);
    ~CBlockPropertieDialog() override;

    COrvinTreeListCtrl* Tree() const { return tree_; }
    QPushButton* OkButton() const { return ok_; }
    TreeList::CTLItem* ElementRow() const { return elementRow_; }
    // The row of a parameter of the element by its name; null when none.
    TreeList::CTLItem* RowOf(const char* name) const;

    // Opens the cell's editor as a double click does (the port: its list).
    void EditCell(TreeList::CTLItem* item, int column);
    // Hands an edited text to the view's rules and shows the outcome.
    void Commit(TreeList::CTLItem* item, int column, const QString& typed);
    // 150, 151, 152 go to the document; 153 does nothing. False for others.
    bool OnCommand(int id);

    // Gives each parameter back its row in the main view.
    void done(int result) override;

    // --- RowSink
    RowHandle InsertParameterRow(RowHandle parent, Parameter& p, const ParameterRow& row) override;
    RowHandle InsertElementRow(RowHandle parent, Elements::InvisibleElement& element,
                               const std::string& text, int image, int selectedImage) override;
    RowHandle InsertSubRow(RowHandle parent, const std::string& text) override;
    RowHandle InsertConnectorRow(RowHandle parent, Elements::Connector& connector,
                                 const std::string& text) override;
    void UpdateParameterRow(RowHandle row, Parameter& p, const ParameterRow& texts) override;
    void UpdateSubRow(RowHandle row, const std::string& text) override;

  private:
    void ShowParameter(TreeList::CTLItem* item, Parameter& p);
    void RefreshRows();
    void RestoreRows();

    CSelvarDoc& doc_;
    Elements::InvisibleElement& element_;
    COrvinTreeListCtrl* tree_ = nullptr;
    QPushButton* ok_ = nullptr;
    TreeList::CTLItem* elementRow_ = nullptr;
    // Each parameter with its row in the main view, as found on opening.
    std::vector<std::pair<Parameter*, void*>> mainRows_;
    std::vector<std::pair<TreeList::CTLItem*, Parameter*>> rows_;
    bool restored_ = false;
};

// Command 268: the dialog over the program's network settings; afterwards
// the port is reopened with them, whatever the outcome, and the views show
// them.
void RunProgramNetworkDialog(CSelvarDoc& doc, bool rs232, QWidget* parent);

}  // namespace Dialogs
