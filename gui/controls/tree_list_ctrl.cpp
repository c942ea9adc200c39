#include "controls/tree_list_ctrl.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <new>
#include <utility>

#include "platform/ui_services.h"

namespace TreeList {

namespace {

// Keeps a coloured row's colour on the selected row (the selection is drawn
// light for that reason) and shows the selected image there.
class CTreeListDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void Init(QStyleOptionViewItem* option, const QModelIndex& index) const {
        initStyleOption(option, index);
    }

    // Cells beside the tree column hold one line of text and nothing else:
    // drawn directly they skip the style's general item layout, a fifth of
    // a full repaint.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.column() == 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const bool selected = cell.state & QStyle::State_Selected;
        if (selected) painter->fillRect(cell.rect, cell.palette.brush(QPalette::Highlight));
        if (cell.text.isEmpty()) return;
        const QWidget* widget = cell.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = cell.rect.adjusted(margin, 0, -margin, 0);
        painter->save();
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(area, static_cast<int>(cell.displayAlignment) | Qt::TextSingleLine,
                          cell.fontMetrics.elidedText(cell.text, Qt::ElideRight, area.width()));
        painter->restore();
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->palette.setColor(QPalette::HighlightedText, option->palette.color(QPalette::Text));
        if (option->state & QStyle::State_Selected) {
            const QIcon selected = index.data(CTreeListModel::kSelectedIconRole).value<QIcon>();
            if (!selected.isNull()) option->icon = selected;
        }
    }
};

QColor Blend(const QColor& a, const QColor& b, double share) {
    auto mix = [share](int x, int y) { return static_cast<int>(x * share + y * (1 - share)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

QString WithoutLeadingSpaces(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    return text.mid(i);
}

}  // namespace

CTreeListCtrl::CTreeListCtrl(QWidget* parent)
    : QTreeView(parent), model_(new CTreeListModel(this)), toolTip_(new CTreeToolTipCtrl(this)) {
    toolTip_->hide();
    setModel(model_);
    setItemDelegate(new CTreeListDelegate(this));
    setUniformRowHeights(true);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setAllColumnsShowFocus(true);
    setExpandsOnDoubleClick(true);
    setHorizontalScrollMode(ScrollPerPixel);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);

    // A light selection, so that red, blue and green rows stay readable.
    QPalette look = palette();
    const QColor light =
        Blend(look.color(QPalette::Active, QPalette::Highlight), look.color(QPalette::Base), 0.3);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        look.setColor(group, QPalette::Highlight, light);
        look.setColor(group, QPalette::HighlightedText, look.color(group, QPalette::Text));
    }
    setPalette(look);

    model_->onChildrenNeeded = [this](CTLItem* item) { emit childrenNeeded(item); };
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex& previous) {
                CTLItem* now = model_->ItemOf(current);
                if (EditorOpen() && now != editItem_) EndEditor(EndReason::Closed);
                HideToolTip();
                emit selectedItemChanged(now, model_->ItemOf(previous));
            });
    // The editor sits over one cell: anything that moves the cells ends it.
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        EndEditor(EndReason::Closed);
        emit itemExpanded(model_->ItemOf(index));
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        EndEditor(EndReason::Closed);
        emit itemCollapsed(model_->ItemOf(index));
    });
    connect(header(), &QHeaderView::sectionResized, this, [this] { EndEditor(EndReason::Closed); });
    // A reset may delete the edited row: the editor goes first, unreported.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        EndEditor(EndReason::Closed, false);
        HideToolTip();
        pressedCheck_ = nullptr;
    });
}

CTreeListCtrl::~CTreeListCtrl() {
    EndEditor(EndReason::Closed, false);
}

void CTreeListCtrl::SetColumns(std::vector<Column> columns) {
    EndEditor(EndReason::Closed, false);
    model_->SetColumns(columns);
    for (size_t i = 0; i < columns.size(); ++i)
        header()->resizeSection(static_cast<int>(i), columns[i].width);
}

CTLItem* CTreeListCtrl::Insert(const char* caption, const QString& label, int image,
                               int selectedImage, CTLItem* parent, InsertPosition position) {
    CTLItem* item = nullptr;
    try {
        item = model_->Insert(parent, position, label, image, selectedImage);
    } catch (const std::bad_alloc&) {
        item = nullptr;
    }
    if (!item)
        ShowMessage(
            "Не удается создать часть дерева '" + label.toStdString() + "'!\n(Возможно нет памяти)",
            caption, MessageIcon::Error);
    return item;
}

CTLItem* CTreeListCtrl::InsertItem(const QString& label, int image, int selectedImage,
                                   CTLItem* parent, InsertPosition position) {
    return Insert("Ошибка в InsertItem", label, image, selectedImage, parent, position);
}

CTLItem* CTreeListCtrl::InsertItemFast(const QString& label, int image, int selectedImage,
                                       CTLItem* parent, InsertPosition position, void* object,
                                       int kind, bool editBox, bool list) {
    CTLItem* item =
        Insert("Ошибка в InsertItemFast", label, image, selectedImage, parent, position);
    if (item) {
        model_->SetObject(item, object, kind);
        model_->SetEditFlags(item, editBox, list);
    }
    return item;
}

void CTreeListCtrl::DeleteAllItems() {
    EndEditor(EndReason::Closed, false);
    HideToolTip();
    pressedCheck_ = nullptr;
    model_->Clear();
}

void CTreeListCtrl::BeginUpdate() {
    model_->BeginBulk();
}

void CTreeListCtrl::EndUpdate() {
    if (!model_->InBulk()) return;
    endingUpdate_ = true;
    model_->EndBulk();
    endingUpdate_ = false;
    if (!model_->InBulk()) viewport()->update();
}

void CTreeListCtrl::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                const QList<int>& roles) {
    // Finding each changed cell on the screen costs more than painting the
    // whole viewport once.
    if (endingUpdate_) return;
    QTreeView::dataChanged(topLeft, bottomRight, roles);
}

void CTreeListCtrl::SetItemText(CTLItem* item, int column, const QString& text) {
    model_->SetText(item, column, text);
}

void CTreeListCtrl::SetItemTexts(CTLItem* item, const QStringList& texts, const QColor& colour) {
    model_->SetTexts(item, 1, texts.size() > 8 ? texts.mid(0, 8) : texts, colour);
}

QString CTreeListCtrl::GetItemText(const CTLItem* item, int column) const {
    return model_->Owns(item) ? item->Text(column) : QString();
}

void CTreeListCtrl::SetItemColor(CTLItem* item, const QColor& colour) {
    model_->SetColour(item, colour);
}

void CTreeListCtrl::SetItemDisabled(CTLItem* item, bool disabled) {
    if (disabled && editItem_) {
        // A row that cannot be edited any more drops its open editor.
        for (const CTLItem* up = editItem_; up; up = up->Parent()) {
            if (up == item) {
                EndEditor(EndReason::Closed, false);
                break;
            }
        }
    }
    model_->SetDisabled(item, disabled);
}

void CTreeListCtrl::SetItemObject(CTLItem* item, void* object, int kind) {
    model_->SetObject(item, object, kind);
}

void CTreeListCtrl::SetItemEditFlags(CTLItem* item, bool editBox, bool list) {
    model_->SetEditFlags(item, editBox, list);
}

void CTreeListCtrl::SetItemCheck(CTLItem* item, CheckState state) {
    model_->SetCheck(item, state);
}

void CTreeListCtrl::SetItemImage(CTLItem* item, int image, int selectedImage) {
    model_->SetImages(item, image, selectedImage);
}

void CTreeListCtrl::SetChildrenOnDemand(CTLItem* item, bool onDemand) {
    model_->SetChildrenOnDemand(item, onDemand);
}

CTLItem* CTreeListCtrl::SelectedItem() const {
    return model_->ItemOf(currentIndex());
}

void CTreeListCtrl::SelectItem(CTLItem* item) {
    const QModelIndex index = model_->IndexOf(item);
    if (!index.isValid()) return;
    setCurrentIndex(index);
    scrollTo(index);
}

void CTreeListCtrl::ExpandItem(CTLItem* item, bool expand) {
    const QModelIndex index = model_->IndexOf(item);
    if (index.isValid()) setExpanded(index, expand);
}

bool CTreeListCtrl::IsExpanded(const CTLItem* item) const {
    return isExpanded(model_->IndexOf(item));
}

void CTreeListCtrl::EnsureVisible(const CTLItem* item) {
    const QModelIndex index = model_->IndexOf(item);
    if (index.isValid()) scrollTo(index);
}

CTLItem* CTreeListCtrl::ItemAt(QPoint viewportPos, int* column) const {
    const QModelIndex index = indexAt(viewportPos);
    if (column) *column = index.isValid() ? index.column() : -1;
    return model_->ItemOf(index);
}

QRect CTreeListCtrl::CellRect(const CTLItem* item, int column) const {
    return visualRect(model_->IndexOf(item, column));
}

QRect CTreeListCtrl::CheckBoxRect(const CTLItem* item) const {
    const QModelIndex index = model_->IndexOf(item);
    if (!index.isValid() || item->Check() == CheckState::None) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    static_cast<const CTreeListDelegate*>(itemDelegate())->Init(&option, index);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

CTLItem* CTreeListCtrl::FindItem(const CTLItem* start,
                                 const std::function<bool(const CTLItem&)>& match) const {
    if (!start) start = model_->Root();
    if (!model_->Owns(start)) return nullptr;
    for (int i = 0; i < start->ChildCount(); ++i) {
        CTLItem* child = start->Child(i);
        if (match(*child)) return child;
        if (CTLItem* found = FindItem(child, match)) return found;
    }
    return nullptr;
}

CTLItem* CTreeListCtrl::FindItemByLabel(const CTLItem* start, const QString& label,
                                        const void* object) const {
    const QString wanted = WithoutLeadingSpaces(label);
    return FindItem(start, [&](const CTLItem& item) {
        return (!object || item.Object() == object) &&
               WithoutLeadingSpaces(item.Text(0)).compare(wanted, Qt::CaseInsensitive) == 0;
    });
}

void CTreeListCtrl::SetIconProvider(std::function<QIcon(int)> provider) {
    model_->SetIconProvider(std::move(provider));
    viewport()->update();
}

void CTreeListCtrl::SetGridLines(bool on, const QColor& colour) {
    grid_ = on;
    gridColour_ = colour;
    viewport()->update();
}

bool CTreeListCtrl::viewportEvent(QEvent* e) {
    if (e->type() != QEvent::ToolTip) return QTreeView::viewportEvent(e);
    auto* help = static_cast<QHelpEvent*>(e);
    const QModelIndex index = indexAt(help->pos());
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = visualRect(index);
    // The room the delegate leaves for the text: margins, and the icon and
    // check box of the tree column.
    int room = cell.width() - 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) - 4;
    if (index.column() == 0) room -= iconSize().width() + 8;
    if (index.isValid() && !text.isEmpty() && fontMetrics().horizontalAdvance(text) > room)
        QToolTip::showText(help->globalPos(), text, viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}

void CTreeListCtrl::ShowToolTip(const QString& text, QPoint viewportPos) {
    toolTip_->ShowAt(text, viewport()->mapToGlobal(viewportPos));
}

void CTreeListCtrl::ShowToolTipBeside(const CTLItem* item, int column, const QString& text) {
    QRect cell = CellRect(item, column);
    if (item == editItem_ && column == editColumn_) {
        if (editBox_) cell = editBox_->geometry();
        if (comboBox_) cell = comboBox_->geometry();
    }
    if (cell.isEmpty()) return;
    ShowToolTip(text, QPoint(cell.right() + 4, cell.top()));
}

void CTreeListCtrl::HideToolTip() {
    toolTip_->hide();
}

bool CTreeListCtrl::CanEdit(const CTLItem* item, int column) const {
    return model_->Owns(item) && item != model_->Root() && !item->Disabled() && column >= 0 &&
           column < ColumnCount();
}

bool CTreeListCtrl::OpenEditBox(CTLItem* item, int column, const QString& text,
                                std::function<bool(QChar)> filter) {
    if (!CanEdit(item, column)) return false;
    EndEditor(EndReason::Closed);
    scrollTo(model_->IndexOf(item, column));
    const QRect cell = CellRect(item, column);
    if (cell.isEmpty()) return false;
    auto* box = new CTreeListEditBox(viewport());
    box->setFont(font());
    box->setGeometry(cell);
    box->SetWidthLimits(cell.width(), viewport()->width() - cell.left());
    box->SetFilter(std::move(filter));
    box->setText(text);
    box->selectAll();
    connect(box, &CTreeListEditBox::finished, this,
            [this](EndReason reason) { EndEditor(reason); });
    editBox_ = box;
    editItem_ = item;
    editColumn_ = column;
    box->show();
    box->setFocus(Qt::OtherFocusReason);
    return true;
}

bool CTreeListCtrl::OpenList(CTLItem* item, int column, const QStringList& labels, int current,
                             bool dropDown) {
    if (!CanEdit(item, column)) return false;
    EndEditor(EndReason::Closed);
    scrollTo(model_->IndexOf(item, column));
    const QRect cell = CellRect(item, column);
    if (cell.isEmpty()) return false;
    auto* combo = new CTreeListComboBox(viewport());
    combo->setFont(font());
    combo->addItems(labels);
    combo->setCurrentIndex(current);
    combo->setGeometry(cell);
    connect(combo, &CTreeListComboBox::finished, this,
            [this](EndReason reason) { EndEditor(reason); });
    comboBox_ = combo;
    editItem_ = item;
    editColumn_ = column;
    combo->show();
    combo->setFocus(Qt::OtherFocusReason);
    if (dropDown) combo->showPopup();
    return true;
}

void CTreeListCtrl::CloseEditor(bool report) {
    EndEditor(EndReason::Closed, report);
}

void CTreeListCtrl::EndEditor(EndReason reason, bool report) {
    if (!EditorOpen()) return;
    // Taken out first: hiding the editor moves the focus, and the focus loss
    // must not end it a second time.
    CTLItem* item = std::exchange(editItem_, nullptr);
    const int column = std::exchange(editColumn_, -1);
    QWidget* editor = editBox_ ? static_cast<QWidget*>(editBox_) : comboBox_;
    const bool hadFocus = editor->hasFocus() || (comboBox_ && comboBox_->view()->isVisible());
    editor->disconnect(this);
    QString text;
    int index = -1;
    const bool list = comboBox_ != nullptr;
    if (editBox_) {
        text = editBox_->text();
    } else {
        text = comboBox_->currentText();
        index = comboBox_->currentIndex();
        comboBox_->hidePopup();
    }
    editBox_ = nullptr;
    comboBox_ = nullptr;
    editor->hide();
    editor->deleteLater();
    if (hadFocus) setFocus(Qt::OtherFocusReason);
    HideToolTip();
    if (!report) return;
    const bool accepted = reason != EndReason::Escaped;
    if (list)
        emit listEnded(item, column, text, index, accepted);
    else
        emit editEnded(item, column, text, accepted);
}

bool CTreeListCtrl::OnCheckBox(QPoint viewportPos, CTLItem** item) const {
    int column = -1;
    CTLItem* hit = ItemAt(viewportPos, &column);
    if (!hit || column != 0 || hit->Check() == CheckState::None) return false;
    if (!CheckBoxRect(hit).contains(viewportPos)) return false;
    *item = hit;
    return true;
}

void CTreeListCtrl::mousePressEvent(QMouseEvent* e) {
    CTLItem* item = nullptr;
    if (e->button() == Qt::LeftButton && OnCheckBox(e->position().toPoint(), &item)) {
        // The owner toggles the box (it may refuse), on the release.
        pressedCheck_ = item;
        setCurrentIndex(model_->IndexOf(item));
        return;
    }
    pressedCheck_ = nullptr;
    QTreeView::mousePressEvent(e);
}

void CTreeListCtrl::mouseReleaseEvent(QMouseEvent* e) {
    if (CTLItem* pressed = std::exchange(pressedCheck_, nullptr)) {
        CTLItem* item = nullptr;
        if (OnCheckBox(e->position().toPoint(), &item) && item == pressed)
            emit checkBoxClicked(item);
        return;
    }
    QTreeView::mouseReleaseEvent(e);
}

void CTreeListCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    CTLItem* item = nullptr;
    // The second click of a quick pair on a check box is not a toggle.
    if (e->button() == Qt::LeftButton && OnCheckBox(pos, &item)) return;
    int column = -1;
    item = ItemAt(pos, &column);
    if (!item || column == 0) {
        QTreeView::mouseDoubleClickEvent(e);
        return;
    }
    if (e->button() != Qt::LeftButton) return;
    EndEditor(EndReason::Closed);
    setFocus(Qt::MouseFocusReason);
    if (!item->Disabled()) emit editRequested(item, column);
}

void CTreeListCtrl::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && (e->modifiers() & Qt::ControlModifier)) {
        if (CTLItem* item = SelectedItem()) emit ctrlEnterPressed(item);
        return;
    }
    if (e->key() == Qt::Key_Space && e->modifiers() == Qt::NoModifier) {
        CTLItem* item = SelectedItem();
        if (item && item->Check() != CheckState::None) {
            emit checkBoxClicked(item);
            return;
        }
    }
    QTreeView::keyPressEvent(e);
    if (currentIndex().isValid()) scrollTo(currentIndex());
}

void CTreeListCtrl::contextMenuEvent(QContextMenuEvent* e) {
    const bool mouse = e->reason() == QContextMenuEvent::Mouse;
    CTLItem* item = mouse ? ItemAt(e->pos()) : SelectedItem();
    if (!item) return;
    SelectItem(item);
    const QPoint global =
        mouse ? e->globalPos() : viewport()->mapToGlobal(CellRect(item, 0).center());
    emit rightClicked(item, global);
}

void CTreeListCtrl::scrollContentsBy(int dx, int dy) {
    // The typed text is reported before the cell moves away from the box.
    EndEditor(EndReason::Scrolled);
    QTreeView::scrollContentsBy(dx, dy);
}

void CTreeListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QTreeView::drawRow(painter, option, index);
    if (!grid_) return;
    painter->save();
    painter->setPen(gridColour_);
    const QRect row = option.rect;
    painter->drawLine(row.left(), row.bottom(), row.right(), row.bottom());
    for (int section = 0; section < header()->count(); ++section) {
        const int x =
            header()->sectionViewportPosition(section) + header()->sectionSize(section) - 1;
        painter->drawLine(x, row.top(), x, row.bottom());
    }
    painter->restore();
}

}  // namespace TreeList
