#include "dialogs/properties_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/port_map_dialog.h"
#include "document/selvar_doc.h"
#include "document/tree_view_rules.h"
#include "elements/invisible_element.h"
#include "link/sio.h"
#include "platform/text.h"
#include "views/configuration_view.h"

namespace Dialogs {

namespace {

using TreeList::CTLItem;
using TreeList::InsertPosition;
namespace Column = TreeView::Column;

// The fourth command of a block, which has nothing to do here.
constexpr int kBlockReserved = 153;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

CTLItem* Item(RowHandle row) {
    return static_cast<CTLItem*>(row);
}

int Kind(RowKind kind) {
    return static_cast<int>(kind);
}

QColor ToQColor(TreeView::Rgb c) {
    return QColor(c.r, c.g, c.b);
}

bool IsPort(const Parameter& p) {
    return EqualsNoCase(p.name, "Port");
}

Parameter* ParameterOf(const CTLItem* item) {
    return item && static_cast<RowKind>(item->Kind()) == RowKind::Parameter
               ? static_cast<Parameter*>(item->Object())
               : nullptr;
}

// A port chosen by its mapped COM name may be one the list did not offer.
void OfferPort(Parameter& port, const std::string& name) {
    auto listed = [&] {
        for (const std::string& label : port.Labels())
            if (EqualsNoCase(label, name)) return true;
        return false;
    };
    if (listed()) return;
    port.type = Sio::ListPorts();
    if (!listed()) port.type = port.type.empty() ? name : port.type + ":" + name;
}

}  // namespace

CBlockPropertieDialog::CBlockPropertieDialog(CSelvarDoc& doc, Elements::InvisibleElement& element,
                                             bool rs232, QWidget* parent)
    : QDialog(parent), doc_(doc), element_(element) {
    setWindowTitle(QString::fromUtf8("Свойства блока схемы или отдельной ветви конфигурации"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    for (Parameter* p : element.parameters)
        mainRows_.emplace_back(p, p->treeItem);

    tree_ = new COrvinTreeListCtrl(this);
    tree_->SetColumns({{QString::fromUtf8("Описание"), 280, Qt::AlignLeft},
                       {QString::fromUtf8("Значение"), 120, Qt::AlignRight},
                       {QString::fromUtf8("Параметр"), 70, Qt::AlignRight}});
    tree_->header()->setFixedHeight(tree_->header()->fontMetrics().height() + 4);
    tree_->SetIconProvider(&TreeImage);
    tree_->setIconSize(QSize(16, 16));
    tree_->SetGridLines(true, QColor(200, 200, 200));

    connect(tree_, &TreeList::CTreeListCtrl::editRequested, this,
            [this](CTLItem* item, int column) { EditCell(item, column); });
    connect(tree_, &TreeList::CTreeListCtrl::editEnded, this,
            [this](CTLItem* item, int column, const QString& text, bool accepted) {
                if (accepted) Commit(item, column, text);
            });
    connect(tree_, &TreeList::CTreeListCtrl::listEnded, this,
            [this](CTLItem* item, int column, const QString& text, int, bool accepted) {
                if (accepted) Commit(item, column, text);
            });
    connect(tree_, &TreeList::CTreeListCtrl::ctrlEnterPressed, this,
            [this](CTLItem* item) { EditCell(item, Column::kValue); });

    if (&element == &doc.device().ProgramSettings()) {
        element.ShowInTree(*this, nullptr, -1, 0);
        tree_->ExpandQuietly(elementRow_);
    }
    if (rs232)
        for (auto& [item, p] : rows_)
            if (!IsPort(*p)) tree_->SetItemDisabled(item, true);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addLayout(buttons);
    resize(280 + 120 + 70 + 2 * tree_->frameWidth() + 30, 300);
}

CBlockPropertieDialog::~CBlockPropertieDialog() {
    RestoreRows();
}

CTLItem* CBlockPropertieDialog::RowOf(const char* name) const {
    for (const auto& [item, p] : rows_)
        if (EqualsNoCase(p->name, name)) return item;
    return nullptr;
}

void CBlockPropertieDialog::EditCell(CTLItem* item, int column) {
    Parameter* p = ParameterOf(item);
    if (!p || item->Disabled()) return;
    if (IsPort(*p) && column == Column::kValue && p->CanWrite()) {
        CPortDialog chooser(p->value, this);
        if (chooser.exec() != QDialog::Accepted) return;
        OfferPort(*p, chooser.Port());
        Commit(item, column, Q(chooser.Port()));
        return;
    }
    switch (TreeView::CellEditor(*p, column, item->Disabled())) {
        case TreeView::Editor::List: {
            const TreeView::ListChoice choice = TreeView::ListChoices(*p);
            QStringList labels;
            for (const std::string& label : choice.labels)
                labels << Q(label);
            tree_->OpenList(item, column, labels, choice.current);
            break;
        }
        case TreeView::Editor::EditBox: {
            const std::string type = p->type;
            tree_->OpenEditBox(item, column, item->Text(column), [type](QChar c) {
                return TreeView::AcceptsCharacter(type, c.unicode());
            });
            break;
        }
        case TreeView::Editor::None:
            break;
    }
}

void CBlockPropertieDialog::Commit(CTLItem* item, int column, const QString& typed) {
    Parameter* p = ParameterOf(item);
    if (!p) return;
    const TreeView::CellEdit edit{
        *p,
        column,
        item->Text(column).toStdString(),
        TreeView::NormaliseCellText(*p, column, false, typed.toStdString()),
        false,
        &element_,
        {}};
    const TreeView::CommitResult r = TreeView::CommitEdit(doc_, edit);
    if (r.refreshAll) RefreshRows();
    tree_->SetItemText(item, column, Q(r.cellText));
    if (r.colour) tree_->SetItemColor(item, ToQColor(*r.colour));
}

bool CBlockPropertieDialog::OnCommand(int id) {
    switch (id) {
        case CommandId::kBlockRead:
        case CommandId::kBlockWrite:
        case CommandId::kBlockWriteChanged:
            doc_.block = &element_;
            doc_.OnCommand(id);
            doc_.block = nullptr;
            return true;
        case kBlockReserved:
            return true;
        default:
            return false;
    }
}

void CBlockPropertieDialog::done(int result) {
    RestoreRows();
    QDialog::done(result);
}

void CBlockPropertieDialog::RestoreRows() {
    if (restored_) return;
    restored_ = true;
    for (auto& [p, mainRow] : mainRows_) {
        // A main view built anew meanwhile has given the parameter its new row.
        for (auto& [item, shown] : rows_)
            if (shown == p && p->treeItem == item) p->treeItem = mainRow;
    }
}

void CBlockPropertieDialog::ShowParameter(CTLItem* item, Parameter& p) {
    const TreeView::RowView view = TreeView::ParameterRowView(p, false);
    tree_->SetItemText(item, Column::kLabel, Q(view.texts[Column::kLabel]));
    tree_->SetItemTexts(item, {Q(view.texts[Column::kValue]), Q(view.texts[Column::kName])},
                        ToQColor(view.colour));
}

void CBlockPropertieDialog::RefreshRows() {
    for (auto& [item, p] : rows_)
        ShowParameter(item, *p);
}

RowHandle CBlockPropertieDialog::InsertParameterRow(RowHandle parent, Parameter& p,
                                                    const ParameterRow& row) {
    const TreeView::RowView view = TreeView::ParameterRowView(p, row, false);
    CTLItem* item =
        tree_->InsertItemFast(Q(view.texts[Column::kLabel]), view.image, view.image, Item(parent),
                              InsertPosition::Last, &p, Kind(RowKind::Parameter));
    if (!item) return nullptr;
    rows_.emplace_back(item, &p);
    ShowParameter(item, p);
    return item;
}

RowHandle CBlockPropertieDialog::InsertElementRow(RowHandle parent,
                                                  Elements::InvisibleElement& element,
                                                  const std::string& text, int image,
                                                  int selectedImage) {
    // An element without a name of its own is known by its kind.
    const std::string label = text.empty() ? element.TypeName() : text;
    CTLItem* item = tree_->InsertItemFast(Q(label), image, selectedImage, Item(parent),
                                          InsertPosition::Last, &element, Kind(RowKind::Element));
    if (&element == &element_) elementRow_ = item;
    return item;
}

RowHandle CBlockPropertieDialog::InsertSubRow(RowHandle parent, const std::string& text) {
    return tree_->InsertItemFast(Q(text), -1, -1, Item(parent), InsertPosition::Last, nullptr,
                                 Kind(RowKind::SubRow));
}

RowHandle CBlockPropertieDialog::InsertConnectorRow(RowHandle parent,
                                                    Elements::Connector& connector,
                                                    const std::string& text) {
    CTLItem* item = tree_->InsertItemFast(Q(text), -1, -1, Item(parent), InsertPosition::Last,
                                          &connector, Kind(RowKind::Connector));
    return item;
}

void CBlockPropertieDialog::UpdateParameterRow(RowHandle row, Parameter& p,
                                               const ParameterRow& texts) {
    (void)texts;
    if (row) ShowParameter(Item(row), p);
}

void CBlockPropertieDialog::UpdateSubRow(RowHandle row, const std::string& text) {
    if (row) tree_->SetItemText(Item(row), Column::kValue, Q(text));
}

void RunProgramNetworkDialog(CSelvarDoc& doc, bool rs232, QWidget* parent) {
    {
        CBlockPropertieDialog dialog(doc, doc.device().ProgramSettings(), rs232, parent);
        dialog.exec();
    }
    doc.device().reopen_port();
    if (doc.views) doc.views->Refresh(false);
}

}  // namespace Dialogs
