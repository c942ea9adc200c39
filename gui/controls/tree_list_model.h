#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <functional>
#include <memory>
#include <vector>

#include "controls/tree_list_item.h"

namespace TreeList {

// The rows of a CTreeListCtrl as a Qt item model. Every change goes through
// a method here so that exactly the changed cells are announced; the
// rows themselves are plain CTLItem objects, so the owner's handle of a
// row is a stable pointer and no index bookkeeping leaks out.
class CTreeListModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    // The icon of the row's selected image, for the painting of the
    // selected row.
    static constexpr int kSelectedIconRole = Qt::UserRole + 1;

    struct Column {
        QString title;
        int width = 100;
        Qt::Alignment alignment = Qt::AlignLeft;
    };

    explicit CTreeListModel(QObject* parent = nullptr);
    ~CTreeListModel() override;

    // The invisible parent of the top-level rows.
    CTLItem* Root() const { return root_.get(); }
    // True when `item` is a row of this model (or its root).
    bool Owns(const CTLItem* item) const { return item && item->model_ == this; }

    void SetColumns(std::vector<Column> columns);
    const std::vector<Column>& Columns() const { return columns_; }

    // Null parent: top level. Returns the new row, or null when `parent`
    // belongs to another control.
    CTLItem* Insert(CTLItem* parent, InsertPosition position, const QString& label, int image,
                    int selectedImage);
    void Clear();
    int Count() const { return count_; }

    // Many changes at once (nested pairs count as one): until the outermost
    // EndBulk nothing is announced row by row. The first change of the rows'
    // structure opens a reset that EndBulk closes; rows whose data changed
    // are announced at the end, one range per parent.
    void BeginBulk();
    void EndBulk();
    bool InBulk() const { return bulk_ > 0; }

    void SetObject(CTLItem* item, void* object, int kind);
    void SetText(CTLItem* item, int column, const QString& text);
    // Columns first, first + 1, ... from `texts` and the colour, announced once.
    void SetTexts(CTLItem* item, int first, const QStringList& texts, const QColor& colour);
    void SetColour(CTLItem* item, const QColor& colour);
    // The row and every row below it.
    void SetDisabled(CTLItem* item, bool disabled);
    void SetEditFlags(CTLItem* item, bool editBox, bool list);
    void SetCheck(CTLItem* item, CheckState state);
    void SetImages(CTLItem* item, int image, int selectedImage);
    void SetChildrenOnDemand(CTLItem* item, bool onDemand);

    void SetIconProvider(std::function<QIcon(int)> provider);
    void SetGreyText(const QColor& grey) { grey_ = grey; }

    QModelIndex IndexOf(const CTLItem* item, int column = 0) const;
    CTLItem* ItemOf(const QModelIndex& index) const;

    // Called when a row marked ChildrenOnDemand is first expanded, before
    // its children are laid out.
    std::function<void(CTLItem*)> onChildrenNeeded;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    QIcon IconFor(int image) const;
    void ChangedRow(CTLItem* item, int firstColumn, int lastColumn);
    void Renumber(CTLItem* parent, int from);
    // True when the change must be announced now; in a bulk the first
    // structural change opens the reset instead.
    bool AnnounceStructure();

    std::unique_ptr<CTLItem> root_;
    std::vector<Column> columns_;
    int count_ = 0;
    int bulk_ = 0;
    bool resetOpen_ = false;
    // Rows changed in a bulk without a reset, announced by EndBulk.
    std::vector<CTLItem*> changed_;
    QColor grey_;
    std::function<QIcon(int)> iconProvider_;
    mutable QHash<int, QIcon> icons_;
};

}  // namespace TreeList
