#pragma once

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "controls/tree_list_ctrl.h"
#include "document/selvar_doc.h"
#include "document/tree_view_rules.h"
#include "model/row_sink.h"

class QLabel;
class QLineEdit;
class QToolButton;
class ProgressRenderer;

// The picture of an image index of the tree (our own icon set); an empty
// icon for indexes the set has none for.
QIcon TreeImage(int index);

// What a row of the configuration tree shows; the control keeps it as the
// row's kind.
enum class RowKind {
    None = 0,
    Root,
    Placeholder,  // "Параметры прибора" without a tree
    Branch,       // a DescBranch (also the configuration and operative rows)
    Element,      // another scheme element (common parameters, network settings)
    Parameter,
    SubRow,  // a bit of the parameter above it
    Connector,
    Header,    // the operative parameters' column names
    Protocol,  // the protocol switch
    Computer,  // "Параметры компьютера"
};

// The tree-list control of the configuration view: the rows as the core's
// searches walk them.
class COrvinTreeListCtrl : public TreeList::CTreeListCtrl, public TreeView::RowTree {
    Q_OBJECT
  public:
    explicit COrvinTreeListCtrl(QWidget* parent = nullptr);

    RowKind KindOf(const TreeList::CTLItem* item) const {
        return item ? static_cast<RowKind>(item->Kind()) : RowKind::None;
    }
    // Expansions by the program itself (building, the error search) read
    // nothing from the device.
    bool ProgramExpanding() const { return programExpanding_ > 0; }
    void ExpandQuietly(TreeList::CTLItem* item);
    // Every row with children expanded, in one layout, reading nothing.
    void ExpandAllQuietly();

    // --- TreeView::RowTree
    RowHandle Parent(RowHandle row) const override;
    RowHandle FirstChild(RowHandle row) const override;
    RowHandle LastChild(RowHandle row) const override;
    RowHandle NextSibling(RowHandle row) const override;
    RowHandle PreviousSibling(RowHandle row) const override;
    std::string Text(RowHandle row) const override;
    const void* Object(RowHandle row) const override;
    TreeView::Rgb Colour(RowHandle row) const override;
    void Expand(RowHandle row) override;

  private:
    int programExpanding_ = 0;
};

// The main window's one view: the active document's configuration as a tree
// of nine columns with in-place editing, check boxes for polling and the
// protocol, context menus and the search field above it. The core decides
// every rule (TreeView::...); this class only shows the answers and turns
// the user's actions into calls.
class COrvinTreeListView : public QWidget, public DocumentViews, public RowSink {
    Q_OBJECT
  public:
    explicit COrvinTreeListView(CSelvarDoc& doc, QWidget* parent = nullptr);
    ~COrvinTreeListView() override;

    // The wait between the root row and the trees while building; tests and
    // the benchmark set it to zero.
    static void SetBuildPause(std::chrono::milliseconds pause);

    COrvinTreeListCtrl& Tree() { return *ctrl_; }
    QLineEdit* SearchField() const { return search_; }
    QLabel* SearchCount() const { return searchCount_; }

    // --- DocumentViews
    void Clear() override;
    // Ignored while an editor is open; otherwise a new configuration is
    // built, a known one has its rows taken again from their objects.
    void Refresh(bool fromTop) override;
    void CloseMainWindow() override;
    std::function<void()> closeMainWindow;

    // Builds every row anew from the document.
    void Build();
    // Takes every row's texts and colour again from its object.
    void RefreshRows();
    // A value the polling read, on this thread: recorded when recording is
    // on and shown in its rows.
    void OnOperativeValue(Parameter& p);

    // The commands the main window routes here (284, 285, 281, 282, 278,
    // 279, 57670); false for other numbers.
    bool OnCommand(int id);
    static bool IsViewCommand(int id);
    // The selected row is a branch whose name has "Точка".
    bool PointBranchSelected() const;
    // The context menu's command (32831 ... 32866).
    void OnMenuCommand(int menuCommand);
    // The menu a right click on the row would show (none: no menu).
    std::optional<TreeView::ContextMenu> MenuFor(TreeList::CTLItem* item) const;

    // Rows this view built.
    TreeList::CTLItem* RootRow() const { return root_; }
    TreeList::CTLItem* ConfigurationRow() const { return configuration_; }
    TreeList::CTLItem* OperativeRow() const { return operative_; }
    TreeList::CTLItem* ComputerRow() const { return computer_; }
    TreeList::CTLItem* ProtocolRow() const { return protocol_; }
    TreeList::CTLItem* JumpedRow() const { return jumped_; }
    // Every row that shows p.
    const std::vector<TreeList::CTLItem*>& RowsOf(const Parameter& p) const;
    // The first row under start (null: every row) whose label is `label`.
    TreeList::CTLItem* FindRow(TreeList::CTLItem* start, const QString& label,
                               const void* object = nullptr) const;

    // Selects p's row under the branch's row, the branch expanded (the
    // single point dialog's search); p's first row when the branch has none.
    void ShowInTree(const DescBranch& branch, Parameter& p);
    // Opens the editor of a cell as a double click there does.
    void EditCell(TreeList::CTLItem* item, int column);
    // A double click on a connector row: the branch it names is selected.
    void JumpToConnectorTarget(TreeList::CTLItem* item);
    // Toggles the row's check box as a click on it does.
    void ToggleCheckBox(TreeList::CTLItem* item);

    // --- the search field
    void FocusSearch();
    // The matches of the field's text, in row order.
    const std::vector<TreeList::CTLItem*>& Matches() const { return matches_; }
    // Selects the next (previous) match, its branch expanded.
    void GoToMatch(bool forward = true);

    // Expanding read parameters from the device with this window up.
    QWidget* ReadingWindow() const { return reading_; }
    int ExpandReads() const { return expandReads_; }

    // --- RowSink
    RowHandle InsertParameterRow(RowHandle parent, Parameter& p, const ParameterRow& row) override;
    RowHandle InsertElementRow(RowHandle parent, Elements::InvisibleElement& element,
                               const std::string& text, int image, int selectedImage) override;
    RowHandle InsertSubRow(RowHandle parent, const std::string& text) override;
    RowHandle InsertConnectorRow(RowHandle parent, Elements::Connector& connector,
                                 const std::string& text) override;
    void UpdateParameterRow(RowHandle row, Parameter& p, const ParameterRow& texts) override;
    void UpdateSubRow(RowHandle row, const std::string& text) override;

  protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    struct Remembered {
        bool valid = false;
        QString label;
        const void* object = nullptr;
    };

    void CreateColumns();
    // The columns' widths by the tenths of the width, headers kept whole.
    std::array<int, TreeView::kColumnCount> Widths() const;
    void ForgetRows();
    void RememberSelection();
    void ShowRow(TreeList::CTLItem* item, const TreeView::RowView& view);
    void ShowParameter(TreeList::CTLItem* item, Parameter& p);
    void ShowConnector(TreeList::CTLItem* item);
    void UpdateRowsOf(Parameter& p);
    void ApplyBitTexts(TreeList::CTLItem* item, const std::array<std::string, 8>& texts,
                       int column);
    Parameter* ParameterOf(const TreeList::CTLItem* item) const;
    DescBranch* BranchOf(const TreeList::CTLItem* item) const;
    Elements::InvisibleElement* ElementOf(const TreeList::CTLItem* item) const;
    bool Under(const TreeList::CTLItem* item, const TreeList::CTLItem* ancestor) const;
    RowKind KindOfRow(const TreeList::CTLItem* item) const;
    // Expands the row's ancestors without reading anything.
    void RevealQuietly(TreeList::CTLItem* item);
    QString RootText() const;

    void OnSelectionChanged(TreeList::CTLItem* current);
    void OnExpanded(TreeList::CTLItem* item);
    void OnCollapsed(TreeList::CTLItem* item);
    void OnEditEnded(TreeList::CTLItem* item, int column, const QString& text, bool accepted);
    void Commit(TreeList::CTLItem* item, int column, const QString& typed);
    void OnRightClick(TreeList::CTLItem* item, QPoint globalPos);
    void OnDoubleClick(const QModelIndex& index);
    void ReadChildrenOnExpand(TreeList::CTLItem* item);
    void FindError(bool forward);
    void ShowComment();
    void SetNoData();
    bool CompareBranch();
    void UpdateMatches();

    CSelvarDoc& doc_;
    COrvinTreeListCtrl* ctrl_ = nullptr;
    QWidget* searchBar_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLabel* searchCount_ = nullptr;
    QPointer<QWidget> reading_;
    std::unique_ptr<ProgressRenderer> silentRenderer_;

    TreeList::CTLItem* root_ = nullptr;
    TreeList::CTLItem* configuration_ = nullptr;
    TreeList::CTLItem* operative_ = nullptr;
    TreeList::CTLItem* computer_ = nullptr;
    TreeList::CTLItem* protocol_ = nullptr;
    TreeList::CTLItem* jumped_ = nullptr;
    // What the rows were built from: another tree means building anew.
    const DescBranch* shownTree_ = nullptr;
    const DescBranch* shownOperative_ = nullptr;
    bool built_ = false;
    bool noPort_ = false;
    bool userWidths_ = false;
    bool applyingWidths_ = false;
    // Renewed whenever the rows are deleted: a step that let events run
    // checks it before it touches a row again.
    int generation_ = 0;
    Remembered remembered_;

    std::vector<std::pair<TreeList::CTLItem*, Parameter*>> parameterRows_;
    std::unordered_map<const Parameter*, std::vector<TreeList::CTLItem*>> rowsOf_;
    std::vector<std::pair<TreeList::CTLItem*, DescBranch*>> branchRows_;
    std::vector<TreeList::CTLItem*> connectorRows_;
    std::vector<TreeList::CTLItem*> matches_;
    std::vector<std::pair<TreeList::CTLItem*, QString>> haystack_;
    int matchIndex_ = -1;
    int expandReads_ = 0;
};
