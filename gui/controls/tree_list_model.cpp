#include "controls/tree_list_model.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>

namespace TreeList {

namespace {
const QString kEmpty;
}

const QString& CTLItem::Text(int column) const {
    if (column < 0 || column >= static_cast<int>(texts_.size())) return kEmpty;
    return texts_[static_cast<size_t>(column)];
}

CTLItem* CTLItem::Parent() const {
    // The invisible root is nobody's visible parent.
    return parent_ && parent_->parent_ ? parent_ : nullptr;
}

CTLItem* CTLItem::Child(int i) const {
    if (i < 0 || i >= ChildCount()) return nullptr;
    return children_[static_cast<size_t>(i)].get();
}

CTLItem* CTLItem::NextSibling() const {
    return parent_ ? parent_->Child(row_ + 1) : nullptr;
}

CTLItem* CTLItem::PreviousSibling() const {
    return parent_ ? parent_->Child(row_ - 1) : nullptr;
}

CTreeListModel::CTreeListModel(QObject* parent)
    : QAbstractItemModel(parent),
      root_(new CTLItem(this, nullptr)),
      grey_(QApplication::palette().color(QPalette::Disabled, QPalette::Text)) {
    columns_.push_back({});
}

CTreeListModel::~CTreeListModel() = default;

void CTreeListModel::SetColumns(std::vector<Column> columns) {
    if (columns.empty()) columns.push_back({});
    const bool announce = AnnounceStructure();
    if (announce) beginResetModel();
    columns_ = std::move(columns);
    if (announce) endResetModel();
}

bool CTreeListModel::AnnounceStructure() {
    if (bulk_ == 0) return true;
    if (!resetOpen_) {
        beginResetModel();
        resetOpen_ = true;
        // The reset covers them, and some may be deleted before its end.
        changed_.clear();
    }
    return false;
}

void CTreeListModel::BeginBulk() {
    ++bulk_;
}

void CTreeListModel::EndBulk() {
    if (bulk_ == 0 || --bulk_ > 0) return;
    if (resetOpen_) {
        resetOpen_ = false;
        endResetModel();
        return;
    }
    if (changed_.empty()) return;
    std::vector<CTLItem*> changed;
    changed.swap(changed_);
    std::sort(changed.begin(), changed.end(), [](const CTLItem* a, const CTLItem* b) {
        return a->parent_ != b->parent_ ? a->parent_ < b->parent_ : a->row_ < b->row_;
    });
    // One range per parent: the rows between that did not change are
    // announced too, which costs a view less than many small ranges.
    const int last = columnCount() - 1;
    for (size_t i = 0; i < changed.size();) {
        size_t j = i;
        while (j + 1 < changed.size() && changed[j + 1]->parent_ == changed[i]->parent_)
            ++j;
        emit dataChanged(IndexOf(changed[i], 0), IndexOf(changed[j], last));
        i = j + 1;
    }
}

CTLItem* CTreeListModel::Insert(CTLItem* parent, InsertPosition position, const QString& label,
                                int image, int selectedImage) {
    if (!parent) parent = root_.get();
    if (!Owns(parent)) return nullptr;
    std::unique_ptr<CTLItem> item(new CTLItem(this, parent));
    item->texts_.push_back(label);
    item->image_ = image;
    item->selectedImage_ = selectedImage;
    // Rows put in under a disabled row are disabled with it.
    item->disabled_ = parent != root_.get() && parent->disabled_;
    const int row = position == InsertPosition::First ? 0 : parent->ChildCount();
    item->row_ = row;
    CTLItem* raw = item.get();
    // Room first, so that nothing can throw between begin and end.
    auto& siblings = parent->children_;
    if (siblings.size() == siblings.capacity())
        siblings.reserve(std::max<size_t>(8, 2 * siblings.size()));
    const bool announce = AnnounceStructure();
    if (announce)
        beginInsertRows(parent == root_.get() ? QModelIndex() : IndexOf(parent), row, row);
    parent->children_.insert(parent->children_.begin() + row, std::move(item));
    Renumber(parent, row + 1);
    ++count_;
    if (announce) endInsertRows();
    return raw;
}

void CTreeListModel::Renumber(CTLItem* parent, int from) {
    for (int i = from; i < parent->ChildCount(); ++i)
        parent->children_[static_cast<size_t>(i)]->row_ = i;
}

void CTreeListModel::Clear() {
    const bool announce = AnnounceStructure();
    if (announce) beginResetModel();
    root_->children_.clear();
    count_ = 0;
    if (announce) endResetModel();
}

void CTreeListModel::SetObject(CTLItem* item, void* object, int kind) {
    if (!Owns(item)) return;
    item->object_ = object;
    item->kind_ = kind;
}

void CTreeListModel::SetText(CTLItem* item, int column, const QString& text) {
    if (!Owns(item) || column < 0) return;
    auto& texts = item->texts_;
    if (static_cast<int>(texts.size()) <= column) {
        if (text.isEmpty()) return;
        texts.resize(static_cast<size_t>(column) + 1);
    }
    QString& cell = texts[static_cast<size_t>(column)];
    if (cell == text) return;
    cell = text;
    ChangedRow(item, column, column);
}

void CTreeListModel::SetTexts(CTLItem* item, int first, const QStringList& texts,
                              const QColor& colour) {
    if (!Owns(item) || first < 0) return;
    auto& cells = item->texts_;
    const size_t end = static_cast<size_t>(first) + static_cast<size_t>(texts.size());
    if (cells.size() < end) cells.resize(end);
    bool changed = item->colour_ != colour;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        QString& cell = cells[static_cast<size_t>(first + i)];
        if (cell != texts[i]) {
            cell = texts[i];
            changed = true;
        }
    }
    item->colour_ = colour;
    // A refresh that changes nothing repaints nothing.
    if (changed) ChangedRow(item, 0, columnCount() - 1);
}

void CTreeListModel::SetColour(CTLItem* item, const QColor& colour) {
    if (!Owns(item) || item->colour_ == colour) return;
    item->colour_ = colour;
    ChangedRow(item, 0, columnCount() - 1);
}

void CTreeListModel::SetDisabled(CTLItem* item, bool disabled) {
    if (!Owns(item) || item == root_.get()) return;
    if (item->disabled_ != disabled) {
        item->disabled_ = disabled;
        ChangedRow(item, 0, columnCount() - 1);
    }
    for (auto& child : item->children_)
        SetDisabled(child.get(), disabled);
}

void CTreeListModel::SetEditFlags(CTLItem* item, bool editBox, bool list) {
    if (!Owns(item)) return;
    item->list_ = list;
    item->editBox_ = editBox && !list;
}

void CTreeListModel::SetCheck(CTLItem* item, CheckState state) {
    if (!Owns(item) || item->check_ == state) return;
    item->check_ = state;
    ChangedRow(item, 0, 0);
}

void CTreeListModel::SetImages(CTLItem* item, int image, int selectedImage) {
    if (!Owns(item)) return;
    if (item->image_ == image && item->selectedImage_ == selectedImage) return;
    item->image_ = image;
    item->selectedImage_ = selectedImage;
    ChangedRow(item, 0, 0);
}

void CTreeListModel::SetChildrenOnDemand(CTLItem* item, bool onDemand) {
    if (!Owns(item) || item == root_.get()) return;
    item->childrenOnDemand_ = onDemand;
}

void CTreeListModel::SetIconProvider(std::function<QIcon(int)> provider) {
    iconProvider_ = std::move(provider);
    icons_.clear();
    if (root_->ChildCount() == 0) return;
    if (bulk_ > 0) {
        if (!resetOpen_)
            for (auto& row : root_->children_)
                changed_.push_back(row.get());
        return;
    }
    emit dataChanged(index(0, 0), index(root_->ChildCount() - 1, 0), {Qt::DecorationRole});
}

QIcon CTreeListModel::IconFor(int image) const {
    if (image < 0 || !iconProvider_) return {};
    auto found = icons_.constFind(image);
    if (found != icons_.constEnd()) return *found;
    QIcon icon = iconProvider_(image);
    icons_.insert(image, icon);
    return icon;
}

void CTreeListModel::ChangedRow(CTLItem* item, int firstColumn, int lastColumn) {
    if (bulk_ > 0) {
        if (!resetOpen_) changed_.push_back(item);
        return;
    }
    emit dataChanged(IndexOf(item, firstColumn), IndexOf(item, lastColumn));
}

QModelIndex CTreeListModel::IndexOf(const CTLItem* item, int column) const {
    if (!Owns(item) || item == root_.get() || column < 0 || column >= columnCount()) return {};
    return createIndex(item->row_, column, const_cast<CTLItem*>(item));
}

CTLItem* CTreeListModel::ItemOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    return static_cast<CTLItem*>(index.internalPointer());
}

QModelIndex CTreeListModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column >= columnCount() || (parent.isValid() && parent.column() != 0))
        return {};
    const CTLItem* owner = parent.isValid() ? ItemOf(parent) : root_.get();
    CTLItem* child = owner ? owner->Child(row) : nullptr;
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex CTreeListModel::parent(const QModelIndex& child) const {
    const CTLItem* item = ItemOf(child);
    CTLItem* up = item ? item->Parent() : nullptr;
    return up ? createIndex(up->row_, 0, up) : QModelIndex();
}

int CTreeListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    const CTLItem* item = parent.isValid() ? ItemOf(parent) : root_.get();
    return item ? item->ChildCount() : 0;
}

int CTreeListModel::columnCount(const QModelIndex&) const {
    return static_cast<int>(columns_.size());
}

bool CTreeListModel::hasChildren(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return false;
    const CTLItem* item = parent.isValid() ? ItemOf(parent) : root_.get();
    return item && (item->ChildCount() > 0 || item->childrenOnDemand_);
}

QVariant CTreeListModel::data(const QModelIndex& index, int role) const {
    const CTLItem* item = ItemOf(index);
    if (!item) return {};
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            return item->Text(column);
        case Qt::ForegroundRole:
            if (item->disabled_) return grey_;
            if (item->colour_.isValid()) return item->colour_;
            return {};
        case Qt::TextAlignmentRole:
            return static_cast<int>(columns_[static_cast<size_t>(column)].alignment |
                                    Qt::AlignVCenter);
        case Qt::DecorationRole:
            return column == 0 ? QVariant(IconFor(item->image_)) : QVariant();
        case kSelectedIconRole:
            return column == 0 ? QVariant(IconFor(item->selectedImage_)) : QVariant();
        case Qt::CheckStateRole:
            if (column != 0 || item->check_ == CheckState::None) return {};
            return item->check_ == CheckState::Checked ? Qt::Checked : Qt::Unchecked;
        default:
            return {};
    }
}

QVariant CTreeListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const Column& column = columns_[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole) return column.title;
    // As a number: the header reads the alignment with toInt().
    if (role == Qt::TextAlignmentRole) return static_cast<int>(column.alignment | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags CTreeListModel::flags(const QModelIndex& index) const {
    const CTLItem* item = ItemOf(index);
    if (!item) return Qt::NoItemFlags;
    // A disabled row stays selectable (its menu and comment still work);
    // only editing is refused, by the control.
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0 && item->check_ != CheckState::None) result |= Qt::ItemIsUserCheckable;
    return result;
}

bool CTreeListModel::canFetchMore(const QModelIndex& parent) const {
    const CTLItem* item = ItemOf(parent);
    return item && parent.column() == 0 && item->childrenOnDemand_;
}

void CTreeListModel::fetchMore(const QModelIndex& parent) {
    CTLItem* item = ItemOf(parent);
    if (!item || parent.column() != 0 || !item->childrenOnDemand_) return;
    // Cleared first: the owner's insertions below must not ask again.
    item->childrenOnDemand_ = false;
    if (onChildrenNeeded) onChildrenNeeded(item);
}

}  // namespace TreeList
