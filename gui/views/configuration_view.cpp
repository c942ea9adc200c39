#include "views/configuration_view.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>
#include <atomic>
#include <ctime>
#include <optional>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "description/tooltips.h"
#include "device/exchange_operations.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "device/progress_window.h"
#include "elements/connector.h"
#include "link/port_setup.h"
#include "link/sio.h"
#include "platform/app_state.h"

using TreeList::CheckState;
using TreeList::CTLItem;
using TreeList::InsertPosition;
namespace Column = TreeView::Column;

namespace {

std::atomic<long long> g_buildPauseMs{100};

constexpr const char* kReadingText = "Чтение параметров...";

CTLItem* Item(RowHandle h) {
    return static_cast<CTLItem*>(h);
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The window-text colour is left to the palette, so that disabled and
// selected rows keep the control's own look.
QColor ToQColor(TreeView::Rgb c) {
    if (c == TreeView::kWindowText) return {};
    return QColor(c.r, c.g, c.b);
}

TreeView::Rgb ToRgb(const QColor& c) {
    if (!c.isValid()) return TreeView::kWindowText;
    return {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
            static_cast<std::uint8_t>(c.blue())};
}

int Kind(RowKind kind) {
    return static_cast<int>(kind);
}

const std::vector<CTLItem*> kNoRows;

// Which column shows a parameter's value in its row.
int ValueColumn(const Parameter& p) {
    return TreeView::IsOperative(p) ? Column::kName : Column::kValue;
}

}  // namespace

QIcon TreeImage(int index) {
    const QString path = QStringLiteral(":/tree/%1.svg").arg(index);
    if (!QFile::exists(path)) return {};
    return QIcon(path);
}

// --- the control ---

COrvinTreeListCtrl::COrvinTreeListCtrl(QWidget* parent) : TreeList::CTreeListCtrl(parent) {}

void COrvinTreeListCtrl::ExpandQuietly(CTLItem* item) {
    if (!item) return;
    ++programExpanding_;
    ExpandItem(item, true);
    --programExpanding_;
}

void COrvinTreeListCtrl::ExpandAllQuietly() {
    ++programExpanding_;
    expandAll();
    --programExpanding_;
}

RowHandle COrvinTreeListCtrl::Parent(RowHandle row) const {
    return row ? Item(row)->Parent() : nullptr;
}

RowHandle COrvinTreeListCtrl::FirstChild(RowHandle row) const {
    return row ? Item(row)->Child(0) : nullptr;
}

RowHandle COrvinTreeListCtrl::LastChild(RowHandle row) const {
    return row ? Item(row)->Child(Item(row)->ChildCount() - 1) : nullptr;
}

RowHandle COrvinTreeListCtrl::NextSibling(RowHandle row) const {
    return row ? Item(row)->NextSibling() : nullptr;
}

RowHandle COrvinTreeListCtrl::PreviousSibling(RowHandle row) const {
    return row ? Item(row)->PreviousSibling() : nullptr;
}

std::string COrvinTreeListCtrl::Text(RowHandle row) const {
    return row ? Item(row)->Text(0).toStdString() : std::string();
}

const void* COrvinTreeListCtrl::Object(RowHandle row) const {
    return row ? Item(row)->Object() : nullptr;
}

TreeView::Rgb COrvinTreeListCtrl::Colour(RowHandle row) const {
    return row ? ToRgb(Item(row)->Colour()) : TreeView::kWindowText;
}

void COrvinTreeListCtrl::Expand(RowHandle row) {
    ExpandQuietly(Item(row));
}

// --- the view ---

void COrvinTreeListView::SetBuildPause(std::chrono::milliseconds pause) {
    g_buildPauseMs = pause.count();
}

COrvinTreeListView::COrvinTreeListView(CSelvarDoc& doc, QWidget* parent)
    : QWidget(parent), doc_(doc), silentRenderer_(std::make_unique<ProgressRenderer>()) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    searchBar_ = new QWidget(this);
    auto* bar = new QHBoxLayout(searchBar_);
    bar->setContentsMargins(4, 3, 4, 3);
    auto* caption = new QLabel(QString::fromUtf8("Поиск:"), searchBar_);
    search_ = new QLineEdit(searchBar_);
    search_->setPlaceholderText(
        QString::fromUtf8("имя, название или описание параметра (Ctrl+F; Enter, F3 — следующий)"));
    search_->setClearButtonEnabled(true);
    searchCount_ = new QLabel(searchBar_);
    searchCount_->setMinimumWidth(
        searchCount_->fontMetrics().horizontalAdvance(QString::fromUtf8("Не найдено")) + 40);
    bar->addWidget(caption);
    bar->addWidget(search_, 1);
    bar->addWidget(searchCount_);
    layout->addWidget(searchBar_);

    ctrl_ = new COrvinTreeListCtrl(this);
    ctrl_->SetIconProvider(&TreeImage);
    ctrl_->SetGridLines(true, QColor(0xE0, 0xE0, 0xE0));
    ctrl_->setIconSize(QSize(16, 16));
    layout->addWidget(ctrl_, 1);

    connect(ctrl_, &TreeList::CTreeListCtrl::selectedItemChanged, this,
            [this](CTLItem* current, CTLItem*) { OnSelectionChanged(current); });
    connect(ctrl_, &TreeList::CTreeListCtrl::itemExpanded, this,
            [this](CTLItem* item) { OnExpanded(item); });
    connect(ctrl_, &TreeList::CTreeListCtrl::itemCollapsed, this,
            [this](CTLItem* item) { OnCollapsed(item); });
    connect(ctrl_, &TreeList::CTreeListCtrl::editRequested, this,
            [this](CTLItem* item, int column) { EditCell(item, column); });
    connect(ctrl_, &TreeList::CTreeListCtrl::editEnded, this,
            [this](CTLItem* item, int column, const QString& text, bool accepted) {
                OnEditEnded(item, column, text, accepted);
            });
    connect(ctrl_, &TreeList::CTreeListCtrl::listEnded, this,
            [this](CTLItem* item, int column, const QString& text, int, bool accepted) {
                OnEditEnded(item, column, text, accepted);
            });
    connect(ctrl_, &TreeList::CTreeListCtrl::checkBoxClicked, this,
            [this](CTLItem* item) { ToggleCheckBox(item); });
    connect(ctrl_, &TreeList::CTreeListCtrl::rightClicked, this,
            [this](CTLItem* item, QPoint pos) { OnRightClick(item, pos); });
    connect(ctrl_, &TreeList::CTreeListCtrl::ctrlEnterPressed, this, [this](CTLItem* item) {
        if (Parameter* p = ParameterOf(item)) EditCell(item, ValueColumn(*p));
    });
    connect(ctrl_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { OnDoubleClick(index); });
    // A width the user gave a column stays; until then the columns follow
    // the view's width.
    connect(ctrl_->header(), &QHeaderView::sectionResized, this, [this] {
        if (!applyingWidths_) userWidths_ = true;
    });

    connect(search_, &QLineEdit::textChanged, this, [this] { UpdateMatches(); });
    connect(search_, &QLineEdit::returnPressed, this, [this] { GoToMatch(true); });
    search_->installEventFilter(this);

    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] { FocusSearch(); });
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    next->setContext(Qt::WindowShortcut);
    connect(next, &QShortcut::activated, this, [this] { GoToMatch(true); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    previous->setContext(Qt::WindowShortcut);
    connect(previous, &QShortcut::activated, this, [this] { GoToMatch(false); });
    // F1 asks for the comment as the command's own key does.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, [this] { OnCommand(CommandId::kHelp); });
}

COrvinTreeListView::~COrvinTreeListView() = default;

// --- building ---

void COrvinTreeListView::CreateColumns() {
    if (ctrl_->ColumnCount() == TreeView::kColumnCount) return;
    std::vector<TreeList::CTreeListCtrl::Column> columns;
    const auto widths = Widths();
    for (int i = 0; i < TreeView::kColumnCount; ++i) {
        const auto& spec = TreeView::Columns()[static_cast<std::size_t>(i)];
        columns.push_back(
            {QString::fromUtf8(spec.header), widths[static_cast<std::size_t>(i)],
             spec.alignment == TreeView::Alignment::Left ? Qt::AlignLeft : Qt::AlignHCenter});
    }
    applyingWidths_ = true;
    ctrl_->SetColumns(std::move(columns));
    applyingWidths_ = false;
}

std::array<int, TreeView::kColumnCount> COrvinTreeListView::Widths() const {
    auto widths = TreeView::ColumnWidths(width());
    // A header is never cut: the room comes from the last column, which is
    // empty on most rows.
    const QFontMetrics metrics = ctrl_->header()->fontMetrics();
    int excess = 0;
    for (int i = 1; i + 1 < TreeView::kColumnCount; ++i) {
        auto& w = widths[static_cast<std::size_t>(i)];
        const int needed = metrics.horizontalAdvance(QString::fromUtf8(
                               TreeView::Columns()[static_cast<std::size_t>(i)].header)) +
                           14;
        if (w < needed) {
            excess += needed - w;
            w = needed;
        }
    }
    auto& last = widths[TreeView::kColumnCount - 1];
    last = std::max(last - excess, last / 2);
    return widths;
}

void COrvinTreeListView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (userWidths_ || ctrl_->ColumnCount() != TreeView::kColumnCount) return;
    const auto widths = Widths();
    applyingWidths_ = true;
    for (int i = 0; i < TreeView::kColumnCount; ++i)
        ctrl_->header()->resizeSection(i, widths[static_cast<std::size_t>(i)]);
    applyingWidths_ = false;
}

void COrvinTreeListView::ForgetRows() {
    ++generation_;
    root_ = configuration_ = operative_ = computer_ = protocol_ = jumped_ = nullptr;
    parameterRows_.clear();
    rowsOf_.clear();
    branchRows_.clear();
    connectorRows_.clear();
    matches_.clear();
    haystack_.clear();
    matchIndex_ = -1;
}

void COrvinTreeListView::RememberSelection() {
    if (CTLItem* selected = ctrl_->SelectedItem()) {
        remembered_.valid = true;
        remembered_.label = selected->Text(0);
        remembered_.object = selected->Object();
    }
}

void COrvinTreeListView::Clear() {
    RememberSelection();
    ForgetRows();
    ctrl_->DeleteAllItems();
    built_ = false;
    shownTree_ = shownOperative_ = nullptr;
    UpdateMatches();
}

QString COrvinTreeListView::RootText() const {
    const CDeviceDescription* m = doc_.Modification();
    return Q(TreeView::RootRowText(m ? m->displayName : std::string(), doc_.PathName()));
}

void COrvinTreeListView::Build() {
    CreateColumns();
    // Another program may have changed the converter type meanwhile.
    doc_.device().Port().transmissionMode = DecideConverterType(Rs485Option::kNotGiven);
    if (!remembered_.valid) RememberSelection();

    QApplication::setOverrideCursor(Qt::WaitCursor);
    ForgetRows();
    ctrl_->DeleteAllItems();
    noPort_ = Startup().noPort;
    ctrl_->setUpdatesEnabled(false);

    root_ = ctrl_->InsertItemFast(RootText(), TreeView::Image::kRoot, TreeView::Image::kRoot,
                                  nullptr, InsertPosition::Last, nullptr, Kind(RowKind::Root));
    if (!root_) {
        ctrl_->setUpdatesEnabled(true);
        QApplication::restoreOverrideCursor();
        return;
    }
    if (g_buildPauseMs > 0) {
        // The root shows first; the trees follow a moment later.
        ctrl_->setUpdatesEnabled(true);
        ctrl_->viewport()->repaint();
        QThread::msleep(static_cast<unsigned long>(g_buildPauseMs.load()));
        ctrl_->setUpdatesEnabled(false);
    }
    // Thousands of rows: announced to the control once, at the end.
    ctrl_->BeginUpdate();

    DescBranch* tree = doc_.ConfigurationTree();
    if (tree) {
        tree->ShowTree(*this, root_, 0);
        configuration_ = root_->Child(root_->ChildCount() - 1);
    } else {
        const TreeView::RowTexts texts = TreeView::PlaceholderRowTexts();
        configuration_ = ctrl_->InsertItemFast(
            Q(texts[Column::kLabel]), TreeView::Image::kPlaceholder, TreeView::Image::kPlaceholder,
            root_, InsertPosition::Last, nullptr, Kind(RowKind::Placeholder));
        if (configuration_)
            ctrl_->SetItemText(configuration_, Column::kName, Q(texts[Column::kName]));
    }

    if (doc_.ConfigurationSetUp() && !ExchangeThreadRunning()) doc_.StartExchange();

    DescBranch* operative = doc_.OperativeTree();
    if (operative) {
        operative->ShowTree(*this, root_, 0);
        operative_ = root_->Child(root_->ChildCount() - 1);
        if (noPort_) ctrl_->SetItemDisabled(operative_, true);
        // Put in front, the protocol row first: the header goes above it.
        Parameter& protocolParameter = doc_.ProtocolParameter();
        const TreeView::RowView protocolView = TreeView::ProtocolRowView(doc_, noPort_);
        protocol_ =
            ctrl_->InsertItemFast(Q(protocolView.texts[Column::kLabel]), TreeView::Image::kProtocol,
                                  TreeView::Image::kProtocol, operative_, InsertPosition::First,
                                  &protocolParameter, Kind(RowKind::Protocol));
        if (protocol_) {
            ShowRow(protocol_, protocolView);
            if (noPort_) ctrl_->SetItemDisabled(protocol_, true);
        }
        const TreeView::RowTexts header = TreeView::OperativeHeaderTexts();
        CTLItem* headerRow =
            ctrl_->InsertItemFast(Q(header[Column::kLabel]), TreeView::Image::kOperativeHeader,
                                  TreeView::Image::kOperativeHeader, operative_,
                                  InsertPosition::First, nullptr, Kind(RowKind::Header));
        if (headerRow) {
            QStringList texts;
            for (int i = 1; i < TreeView::kColumnCount; ++i)
                texts << Q(header[static_cast<std::size_t>(i)]);
            ctrl_->SetItemTexts(headerRow, texts, QColor(0x40, 0x40, 0x40));
        }
        if (!noPort_) StartPolling(doc_.device(), *operative);
    }

    computer_ = ctrl_->InsertItemFast(QString::fromUtf8(TreeView::kComputerRow),
                                      TreeView::Image::kComputer, TreeView::Image::kComputer, root_,
                                      InsertPosition::Last, nullptr, Kind(RowKind::Computer));
    if (computer_) {
        doc_.common().ShowInTree(*this, computer_, -1, 0);
        doc_.device().ProgramSettings().ShowInTree(*this, computer_, -1, 0);
        if (noPort_) ctrl_->SetItemDisabled(computer_->Child(computer_->ChildCount() - 1), true);
    }

    shownTree_ = tree;
    shownOperative_ = operative;
    built_ = true;
    ctrl_->EndUpdate();
    ctrl_->setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();

    if (remembered_.valid) {
        CTLItem* again = FindRow(root_, remembered_.label, remembered_.object);
        if (!again) again = FindRow(root_, remembered_.label);
        remembered_ = {};
        if (again) {
            RevealQuietly(again);
            ctrl_->SelectItem(again);
        }
    }
    ctrl_->ExpandQuietly(root_);
    ctrl_->ExpandQuietly(configuration_);
    UpdateMatches();
}

void COrvinTreeListView::Refresh(bool fromTop) {
    // An open editor would lose what the user is typing.
    if (ctrl_->EditorOpen()) return;
    if (!built_ || doc_.ConfigurationTree() != shownTree_ ||
        doc_.OperativeTree() != shownOperative_ || Startup().noPort != noPort_) {
        Build();
    } else {
        RefreshRows();
    }
    if (fromTop) ctrl_->scrollToTop();
}

void COrvinTreeListView::CloseMainWindow() {
    if (closeMainWindow) closeMainWindow();
}

void COrvinTreeListView::RefreshRows() {
    if (!built_) return;
    ctrl_->BeginUpdate();
    ctrl_->SetItemText(root_, Column::kLabel, RootText());
    for (auto& [item, p] : parameterRows_)
        ShowParameter(item, *p);
    for (auto& [item, branch] : branchRows_)
        ctrl_->SetItemColor(item, ToQColor(TreeView::BranchColour(*branch)));
    for (CTLItem* item : connectorRows_)
        ShowConnector(item);
    if (protocol_) ShowRow(protocol_, TreeView::ProtocolRowView(doc_, noPort_));
    ctrl_->EndUpdate();
}

void COrvinTreeListView::ShowRow(CTLItem* item, const TreeView::RowView& view) {
    QStringList texts;
    texts.reserve(TreeView::kColumnCount - 1);
    for (int i = 1; i < TreeView::kColumnCount; ++i)
        texts << Q(view.texts[static_cast<std::size_t>(i)]);
    ctrl_->SetItemText(item, Column::kLabel, Q(view.texts[Column::kLabel]));
    ctrl_->SetItemTexts(item, texts, ToQColor(view.colour));
    ctrl_->SetItemCheck(item, !view.hasCheckBox ? CheckState::None
                              : view.checked    ? CheckState::Checked
                                                : CheckState::Unchecked);
}

void COrvinTreeListView::ShowParameter(CTLItem* item, Parameter& p) {
    ShowRow(item, TreeView::ParameterRowView(p, noPort_));
    std::array<std::string, 8> bits;
    if (InverterBitTexts(p, bits)) ApplyBitTexts(item, bits, Column::kValue);
}

void COrvinTreeListView::ShowConnector(CTLItem* item) {
    const auto* connector = static_cast<const Elements::Connector*>(item->Object());
    const DescBranch* branch = BranchOf(item->Parent());
    if (connector && branch)
        ctrl_->SetItemText(item, Column::kName, Q(TreeView::ConnectorRowText(*connector, *branch)));
}

void COrvinTreeListView::ApplyBitTexts(CTLItem* item, const std::array<std::string, 8>& texts,
                                       int column) {
    for (int k = 0; k < item->ChildCount() && k < 8; ++k) {
        CTLItem* bit = item->Child(k);
        if (KindOfRow(bit) == RowKind::SubRow)
            ctrl_->SetItemText(bit, column, Q(texts[static_cast<std::size_t>(k)]));
    }
}

void COrvinTreeListView::UpdateRowsOf(Parameter& p) {
    for (CTLItem* item : RowsOf(p))
        ShowParameter(item, p);
}

const std::vector<CTLItem*>& COrvinTreeListView::RowsOf(const Parameter& p) const {
    auto it = rowsOf_.find(&p);
    return it == rowsOf_.end() ? kNoRows : it->second;
}

CTLItem* COrvinTreeListView::FindRow(CTLItem* start, const QString& label,
                                     const void* object) const {
    if (!start) start = root_;
    if (!start) return nullptr;
    return static_cast<CTLItem*>(TreeView::FindRow(*ctrl_, start, label.toStdString(), object));
}

// --- the core's rows ---

RowHandle COrvinTreeListView::InsertParameterRow(RowHandle parent, Parameter& p,
                                                 const ParameterRow& row) {
    const TreeView::RowView view = TreeView::ParameterRowView(p, row, noPort_);
    CTLItem* item =
        ctrl_->InsertItemFast(Q(view.texts[Column::kLabel]), view.image, view.image, Item(parent),
                              TreeView::PutFirst(p) ? InsertPosition::First : InsertPosition::Last,
                              &p, Kind(RowKind::Parameter));
    if (!item) return nullptr;
    ShowRow(item, view);
    parameterRows_.emplace_back(item, &p);
    rowsOf_[&p].push_back(item);
    return item;
}

RowHandle COrvinTreeListView::InsertElementRow(RowHandle parent,
                                               Elements::InvisibleElement& element,
                                               const std::string& text, int image,
                                               int selectedImage) {
    auto* branch = dynamic_cast<DescBranch*>(&element);
    CTLItem* item =
        ctrl_->InsertItemFast(Q(text), image, selectedImage, Item(parent), InsertPosition::Last,
                              &element, Kind(branch ? RowKind::Branch : RowKind::Element));
    if (!item) return nullptr;
    if (branch) {
        branchRows_.emplace_back(item, branch);
        ctrl_->SetItemColor(item, ToQColor(TreeView::BranchColour(*branch)));
    }
    return item;
}

RowHandle COrvinTreeListView::InsertSubRow(RowHandle parent, const std::string& text) {
    return ctrl_->InsertItemFast(Q(text), -1, -1, Item(parent), InsertPosition::Last, nullptr,
                                 Kind(RowKind::SubRow));
}

RowHandle COrvinTreeListView::InsertConnectorRow(RowHandle parent, Elements::Connector& connector,
                                                 const std::string& text) {
    CTLItem* item =
        ctrl_->InsertItemFast(Q(connector.sourceText), -1, -1, Item(parent), InsertPosition::Last,
                              &connector, Kind(RowKind::Connector));
    if (!item) return nullptr;
    ctrl_->SetItemText(item, Column::kName, Q(text));
    connectorRows_.push_back(item);
    return item;
}

void COrvinTreeListView::UpdateParameterRow(RowHandle row, Parameter& p,
                                            const ParameterRow& texts) {
    if (row) ShowRow(Item(row), TreeView::ParameterRowView(p, texts, noPort_));
}

void COrvinTreeListView::UpdateSubRow(RowHandle row, const std::string& text) {
    CTLItem* item = Item(row);
    if (!item) return;
    const Parameter* p = ParameterOf(item->Parent());
    ctrl_->SetItemText(item, p ? ValueColumn(*p) : Column::kValue, Q(text));
}

// --- what a row shows ---

RowKind COrvinTreeListView::KindOfRow(const CTLItem* item) const {
    return ctrl_->KindOf(item);
}

Parameter* COrvinTreeListView::ParameterOf(const CTLItem* item) const {
    if (KindOfRow(item) != RowKind::Parameter) return nullptr;
    return static_cast<Parameter*>(item->Object());
}

Elements::InvisibleElement* COrvinTreeListView::ElementOf(const CTLItem* item) const {
    const RowKind kind = KindOfRow(item);
    if (kind != RowKind::Branch && kind != RowKind::Element) return nullptr;
    return static_cast<Elements::InvisibleElement*>(item->Object());
}

DescBranch* COrvinTreeListView::BranchOf(const CTLItem* item) const {
    if (KindOfRow(item) != RowKind::Branch) return nullptr;
    return static_cast<DescBranch*>(static_cast<Elements::InvisibleElement*>(item->Object()));
}

bool COrvinTreeListView::Under(const CTLItem* item, const CTLItem* ancestor) const {
    if (!ancestor) return false;
    for (const CTLItem* up = item; up; up = up->Parent())
        if (up == ancestor) return true;
    return false;
}

void COrvinTreeListView::RevealQuietly(CTLItem* item) {
    std::vector<CTLItem*> chain;
    for (CTLItem* up = item ? item->Parent() : nullptr; up; up = up->Parent())
        chain.push_back(up);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (!ctrl_->IsExpanded(*it)) ctrl_->ExpandQuietly(*it);
}

// --- the user's actions ---

void COrvinTreeListView::OnSelectionChanged(CTLItem* current) {
    Parameter* p = ParameterOf(current);
    DescBranch* branch = BranchOf(current);
    if (p)
        doc_.SetSelection(p);
    else if (branch)
        doc_.SetSelection(branch);
    else
        doc_.SetSelection(std::monostate{});
}

bool COrvinTreeListView::PointBranchSelected() const {
    const DescBranch* branch = BranchOf(ctrl_->SelectedItem());
    return branch && branch->elementName.find("Точка") != std::string::npos;
}

void COrvinTreeListView::OnExpanded(CTLItem* item) {
    if (!item) return;
    ctrl_->SetItemImage(item, TreeView::FolderImage(item->Image(), true),
                        TreeView::FolderImage(item->SelectedImage(), true));
    if (ctrl_->ProgramExpanding()) return;
    if (KindOfRow(item) == RowKind::Branch || KindOfRow(item) == RowKind::Element)
        ReadChildrenOnExpand(item);
}

void COrvinTreeListView::OnCollapsed(CTLItem* item) {
    if (!item) return;
    ctrl_->SetItemImage(item, TreeView::FolderImage(item->Image(), false),
                        TreeView::FolderImage(item->SelectedImage(), false));
}

void COrvinTreeListView::ReadChildrenOnExpand(CTLItem* item) {
    doc_.device().RenewOperationStamp();
    std::vector<std::pair<CTLItem*, Parameter*>> children;
    for (int i = 0; i < item->ChildCount(); ++i) {
        CTLItem* child = item->Child(i);
        Parameter* p = ParameterOf(child);
        if (p && !TreeView::IsOperative(*p) && !TreeView::IsProtocolParameter(*p))
            children.emplace_back(child, p);
    }
    const int generation = generation_;
    std::optional<Sio::Hold> hold;
    for (auto& [child, p] : children) {
        // Re-asked each time: five timeouts in a row switch the reading off.
        if (!TreeView::ReadsOnExpand(*p, Modes().autoRead)) continue;
        if (!reading_) {
            auto* window = new QLabel(QString::fromUtf8(kReadingText), this,
                                      Qt::Tool | Qt::FramelessWindowHint);
            window->setAttribute(Qt::WA_DeleteOnClose);
            window->setFrameStyle(QFrame::Panel | QFrame::Raised);
            window->setLineWidth(2);
            window->setMargin(14);
            window->adjustSize();
            window->move(mapToGlobal(rect().center()) - window->rect().center());
            window->show();
            reading_ = window;
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        if (!hold) hold.emplace(doc_.device().Port());
        doc_.device().ReadParameter(*p);
        ++expandReads_;
        // The polling thread waits for its values to be shown meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (generation != generation_) break;
    }
    if (reading_) {
        reading_->close();
        reading_ = nullptr;
    }
    if (generation != generation_) return;
    for (auto& [child, p] : children)
        ShowParameter(child, *p);
    for (int i = 0; i < item->ChildCount(); ++i)
        if (KindOfRow(item->Child(i)) == RowKind::Connector) ShowConnector(item->Child(i));
}

void COrvinTreeListView::EditCell(CTLItem* item, int column) {
    if (!item) return;
    if (KindOfRow(item) == RowKind::Connector) {
        JumpToConnectorTarget(item);
        return;
    }
    Parameter* p = ParameterOf(item);
    if (!p) return;
    // Showing the cell must not count as the user expanding its branch.
    RevealQuietly(item);
    const TreeView::Editor editor = TreeView::CellEditor(*p, column, item->Disabled());
    bool opened = false;
    if (editor == TreeView::Editor::List) {
        const TreeView::ListChoice choice = TreeView::ListChoices(*p);
        QStringList labels;
        for (const std::string& label : choice.labels)
            labels << Q(label);
        opened = ctrl_->OpenList(item, column, labels, choice.current);
    } else if (editor == TreeView::Editor::EditBox) {
        std::function<bool(QChar)> filter;
        if (TreeView::IsOperative(*p) && column == Column::kValue) {
            // The period is milliseconds, whatever the value's type.
            filter = [](QChar c) { return c.isDigit(); };
        } else {
            const std::string type = p->type;
            filter = [type](QChar c) { return TreeView::AcceptsCharacter(type, c.unicode()); };
        }
        opened = ctrl_->OpenEditBox(item, column, item->Text(column), filter);
    }
    if (!opened) return;
    if (const CDeviceDescription* m = doc_.Modification()) {
        const std::string comment = FindComment(DescriptionPath(m->tooltipFile), *p);
        if (!comment.empty()) ctrl_->ShowToolTipBeside(item, column, Q(comment));
    }
}

void COrvinTreeListView::OnEditEnded(CTLItem* item, int column, const QString& text,
                                     bool accepted) {
    // Escape drops what was typed.
    if (!accepted || !item) return;
    Commit(item, column, text);
}

void COrvinTreeListView::Commit(CTLItem* item, int column, const QString& typed) {
    Parameter* p = ParameterOf(item);
    if (!p) return;
    const bool operative = TreeView::IsOperative(*p);
    const TreeView::CellEdit edit{
        *p,
        column,
        item->Text(column).toStdString(),
        TreeView::NormaliseCellText(*p, column, operative, typed.toStdString()),
        operative,
        ElementOf(item->Parent()),
        {}};

    const int generation = generation_;
    const TreeView::CommitResult r = TreeView::CommitEdit(doc_, edit);
    if (generation != generation_) return;  // the rows were built anew meanwhile
    if (r.refreshAll) {
        if (doc_.views) doc_.views->Refresh(false);
        if (generation != generation_) return;
    } else if (r.committed) {
        UpdateRowsOf(*p);
        for (Parameter* partner : p->linked)
            if (partner) UpdateRowsOf(*partner);
    }
    ctrl_->SetItemText(item, column, Q(r.cellText));
    if (r.colour) ctrl_->SetItemColor(item, ToQColor(*r.colour));
    if (r.errorText)
        ctrl_->SetItemText(item, operative ? Column::kMinimum : Column::kErrors, Q(*r.errorText));
}

void COrvinTreeListView::ToggleCheckBox(CTLItem* item) {
    if (!item || item->Check() == CheckState::None || item->Disabled()) return;
    const RowKind kind = KindOfRow(item);
    if (kind != RowKind::Parameter && kind != RowKind::Protocol) return;
    auto* p = static_cast<Parameter*>(item->Object());
    const bool want = item->Check() != CheckState::Checked;
    if (TreeView::ToggleCheck(doc_, *p, want))
        ctrl_->SetItemCheck(item, want ? CheckState::Checked : CheckState::Unchecked);
}

void COrvinTreeListView::JumpToConnectorTarget(CTLItem* item) {
    if (KindOfRow(item) != RowKind::Connector || !configuration_) return;
    const QString target = item->Text(Column::kName);
    if (target.trimmed().isEmpty()) return;
    CTLItem* found = FindRow(configuration_, target);
    if (!found) return;
    RevealQuietly(found);
    ctrl_->SelectItem(found);
    jumped_ = found;
}

void COrvinTreeListView::ShowInTree(const DescBranch& branch, Parameter& p) {
    if (!built_) return;
    const auto* element = static_cast<const Elements::InvisibleElement*>(&branch);
    CTLItem* branchRow =
        ctrl_->FindItem(root_, [element](const CTLItem& item) { return item.Object() == element; });
    CTLItem* row = nullptr;
    for (CTLItem* candidate : RowsOf(p))
        if (!row || (branchRow && Under(candidate, branchRow))) row = candidate;
    if (!row) return;
    RevealQuietly(row);
    ctrl_->SelectItem(row);
}

void COrvinTreeListView::OnDoubleClick(const QModelIndex& index) {
    // The tree column's double click expands; a connector has nothing to
    // expand and jumps instead.
    CTLItem* item = ctrl_->Model()->ItemOf(index);
    if (index.column() == Column::kLabel && KindOfRow(item) == RowKind::Connector)
        JumpToConnectorTarget(item);
}

// --- menus and commands ---

std::optional<TreeView::ContextMenu> COrvinTreeListView::MenuFor(CTLItem* item) const {
    if (!item) return std::nullopt;
    TreeView::MenuTarget target;
    target.branch = BranchOf(item);
    target.parameter = ParameterOf(item);
    target.inConfigurationTree = configuration_ && Under(item, configuration_);
    target.inOperativePart = operative_ && Under(item, operative_);
    return TreeView::ContextMenuFor(doc_.ConfigurationSetUp(), Startup().noPort, target);
}

void COrvinTreeListView::OnRightClick(CTLItem* item, QPoint globalPos) {
    const std::optional<TreeView::ContextMenu> menu = MenuFor(item);
    if (!menu) return;
    QMenu popup(this);
    popup.setObjectName(Q(menu->name));
    for (const TreeView::MenuItem& entry : menu->items) {
        if (entry.command == TreeView::MenuCommand::kSeparator) {
            popup.addSeparator();
            continue;
        }
        QAction* action = popup.addAction(Q(entry.text));
        action->setData(entry.command);
    }
    QAction* chosen = popup.exec(globalPos);
    if (chosen) OnMenuCommand(chosen->data().toInt());
}

void COrvinTreeListView::OnMenuCommand(int menuCommand) {
    if (menuCommand == TreeView::MenuCommand::kSetNoData) {
        SetNoData();
        return;
    }
    if (const int command = TreeView::ViewCommand(menuCommand)) OnCommand(command);
}

bool COrvinTreeListView::IsViewCommand(int id) {
    switch (id) {
        case CommandId::kReadBranch:
        case CommandId::kWriteBranch:
        case CommandId::kWriteChangedBranch:
        case CommandId::kCompareBranch:
        case CommandId::kPreviousProblem:
        case CommandId::kNextProblem:
        case CommandId::kHelp:
            return true;
        default:
            return false;
    }
}

bool COrvinTreeListView::OnCommand(int id) {
    switch (id) {
        case CommandId::kReadBranch:
        case CommandId::kWriteBranch:
        case CommandId::kWriteChangedBranch:
            OnSelectionChanged(ctrl_->SelectedItem());
            return doc_.OnCommand(id);
        case CommandId::kCompareBranch:
            return CompareBranch();
        case CommandId::kPreviousProblem:
        case CommandId::kNextProblem:
            FindError(id == CommandId::kNextProblem);
            return true;
        case CommandId::kHelp:
            ShowComment();
            return true;
        default:
            return false;
    }
}

bool COrvinTreeListView::CompareBranch() {
    CTLItem* selected = ctrl_->SelectedItem();
    DescBranch* branch = BranchOf(selected);
    Parameter* p = ParameterOf(selected);
    if (!branch && !p) return false;
    LaunchContext context{doc_.device(), doc_.renderer ? *doc_.renderer : *silentRenderer_,
                          doc_.presenter};
    const bool shown = branch ? LaunchCompare(context, branch) : LaunchGroup(context, {p}, 3);
    if (shown && doc_.refreshAllowed) RefreshRows();
    return true;
}

void COrvinTreeListView::FindError(bool forward) {
    if (!built_) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RowHandle found =
        TreeView::FindErrorRow(*ctrl_, ctrl_->SelectedItem(), configuration_, forward);
    QApplication::restoreOverrideCursor();
    if (found) {
        RevealQuietly(Item(found));
        ctrl_->SelectItem(Item(found));
    }
}

void COrvinTreeListView::ShowComment() {
    CTLItem* item = ctrl_->SelectedItem();
    Parameter* p = ParameterOf(item);
    DescBranch* branch = BranchOf(item);
    if (!p && !branch) return;
    OnSelectionChanged(item);
    std::string text;
    if (p) {
        text = doc_.HelpText(*p);
    } else {
        std::string comment;
        if (const CDeviceDescription* m = doc_.Modification())
            comment =
                FindComment(DescriptionPath(m->tooltipFile), branch->elementName, std::nullopt);
        text = branch->elementName + "\n" + (comment.empty() ? kCommentPrefix : comment);
    }
    ctrl_->setFocus(Qt::OtherFocusReason);
    ctrl_->EnsureVisible(item);
    const QRect cell = ctrl_->CellRect(item, Column::kValue);
    ctrl_->ShowToolTip(Q(text), cell.center());
}

void COrvinTreeListView::SetNoData() {
    CTLItem* item = ctrl_->SelectedItem();
    if (TreeView::SetNoData(ParameterOf(item)) && doc_.views) doc_.views->Refresh(false);
    if (item) ctrl_->SetItemColor(item, QColor());
}

// --- polled values ---

void COrvinTreeListView::OnOperativeValue(Parameter& p) {
    const TreeView::PolledValue shown = TreeView::OnPolledValue(doc_, p, std::time(nullptr));
    for (CTLItem* item : RowsOf(p)) {
        ctrl_->SetItemText(item, Column::kName, Q(shown.value));
        ctrl_->SetItemText(item, Column::kMinimum, Q(shown.error));
        ctrl_->SetItemColor(item, ToQColor(shown.colour));
        if (shown.hasBitRows) ApplyBitTexts(item, shown.bitRows, Column::kName);
    }
}

// --- the search field ---

void COrvinTreeListView::FocusSearch() {
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
}

void COrvinTreeListView::UpdateMatches() {
    matches_.clear();
    matchIndex_ = -1;
    const QString wanted = search_->text().trimmed();
    if (wanted.isEmpty() || !root_) {
        searchCount_->clear();
        return;
    }
    if (haystack_.empty()) {
        // Every parameter row in row order with what it can be found by.
        std::vector<CTLItem*> stack{root_};
        while (!stack.empty()) {
            CTLItem* row = stack.back();
            stack.pop_back();
            if (const Parameter* p = ParameterOf(row))
                haystack_.emplace_back(row, Q(p->name) + QLatin1Char('\n') + row->Text(0) +
                                                QLatin1Char('\n') + Q(p->description));
            for (int i = row->ChildCount() - 1; i >= 0; --i)
                stack.push_back(row->Child(i));
        }
    }
    for (const auto& [row, text] : haystack_)
        if (text.contains(wanted, Qt::CaseInsensitive)) matches_.push_back(row);
    searchCount_->setText(matches_.empty() ? QString::fromUtf8("Не найдено")
                                           : QString::fromUtf8("Найдено: %1").arg(matches_.size()));
}

void COrvinTreeListView::GoToMatch(bool forward) {
    if (matches_.empty()) return;
    const int n = static_cast<int>(matches_.size());
    matchIndex_ =
        matchIndex_ < 0 ? (forward ? 0 : n - 1) : (matchIndex_ + (forward ? 1 : n - 1)) % n;
    CTLItem* row = matches_[static_cast<std::size_t>(matchIndex_)];
    RevealQuietly(row);
    ctrl_->SelectItem(row);
    searchCount_->setText(QString::fromUtf8("%1 из %2").arg(matchIndex_ + 1).arg(n));
}

bool COrvinTreeListView::eventFilter(QObject* watched, QEvent* e) {
    if (watched == search_ && e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Escape) {
            search_->clear();
            ctrl_->setFocus(Qt::OtherFocusReason);
            return true;
        }
        if (key->key() == Qt::Key_F3) {
            GoToMatch(!(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Down) {
            ctrl_->setFocus(Qt::OtherFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}
