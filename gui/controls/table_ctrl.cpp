#include "controls/table_ctrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <utility>

#include "platform/ui_services.h"

namespace myClass {

namespace {
constexpr int kFlagsRole = Qt::UserRole + 1;
constexpr int kChoicesRole = Qt::UserRole + 2;
constexpr int kRowDisabledRole = Qt::UserRole + 3;
}  // namespace

CTableCtrl::CTableCtrl(QWidget* parent) : QTableWidget(parent) {
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setShowGrid(true);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
}

CTableCtrl::~CTableCtrl() {
    if (QWidget* editor = editBox_ ? static_cast<QWidget*>(editBox_) : comboBox_)
        editor->disconnect(this);
}

void CTableCtrl::SetColumns(const QStringList& titles, const QList<int>& widths) {
    setColumnCount(static_cast<int>(titles.size()));
    setHorizontalHeaderLabels(titles);
    for (qsizetype i = 0; i < widths.size() && i < titles.size(); ++i)
        setColumnWidth(static_cast<int>(i), widths[i]);
}

int CTableCtrl::AddRow(const QStringList& texts, int flags) {
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < columnCount(); ++column) {
        Cell(row, column)->setText(column < texts.size() ? texts[column] : QString());
        SetCellFlags(row, column, flags);
    }
    return row;
}

QTableWidgetItem* CTableCtrl::Cell(int row, int column) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell && row >= 0 && row < rowCount() && column >= 0 && column < columnCount()) {
        cell = new QTableWidgetItem;
        setItem(row, column, cell);
        ApplyFlags(row, column);
    }
    return cell;
}

void CTableCtrl::SetCellText(int row, int column, const QString& text) {
    if (QTableWidgetItem* cell = Cell(row, column)) cell->setText(text);
}

QString CTableCtrl::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void CTableCtrl::SetCellFlags(int row, int column, int flags) {
    if (QTableWidgetItem* cell = Cell(row, column)) {
        cell->setData(kFlagsRole, flags);
        ApplyFlags(row, column);
    }
}

int CTableCtrl::CellFlags(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->data(kFlagsRole).toInt() : 0;
}

void CTableCtrl::SetCellChoices(int row, int column, const QStringList& labels) {
    if (QTableWidgetItem* cell = Cell(row, column)) cell->setData(kChoicesRole, labels);
}

void CTableCtrl::SetRowDisabled(int row, bool disabled) {
    if (row < 0 || row >= rowCount()) return;
    if (disabled && EditorOpen() && editRow_ == row) EndEditor(TreeList::EndReason::Escaped);
    for (int column = 0; column < columnCount(); ++column) {
        Cell(row, column)->setData(kRowDisabledRole, disabled);
        ApplyFlags(row, column);
    }
    if (disabled && currentRow() == row) {
        clearSelection();
        setCurrentIndex({});
    }
}

bool CTableCtrl::RowDisabled(int row) const {
    const QTableWidgetItem* cell = item(row, 0);
    return cell && cell->data(kRowDisabledRole).toBool();
}

void CTableCtrl::ApplyFlags(int row, int column) {
    QTableWidgetItem* cell = item(row, column);
    if (!cell) return;
    // Without "enabled" the style draws the cell grey, and the view neither
    // selects it nor stops on it when the keys move the current row.
    const bool rowOff = cell->data(kRowDisabledRole).toBool();
    if (rowOff)
        cell->setFlags(Qt::NoItemFlags);
    else if (cell->data(kFlagsRole).toInt() & kDisabled)
        cell->setFlags(Qt::ItemIsSelectable);
    else
        cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

bool CTableCtrl::OpenEditor(int row, int column) {
    const int flags = CellFlags(row, column);
    if (RowDisabled(row) || (flags & kDisabled) || !(flags & (kEditable | kList))) return false;
    EndEditor(TreeList::EndReason::Closed);
    const QModelIndex index = model()->index(row, column);
    setCurrentIndex(index);
    scrollTo(index);
    const QRect cell = visualRect(index);
    if (cell.isEmpty()) return false;
    QWidget* editor = nullptr;
    if (flags & kList) {
        auto* combo = new TreeList::CTreeListComboBox(viewport());
        const QStringList labels = item(row, column)->data(kChoicesRole).toStringList();
        combo->addItems(labels);
        combo->setCurrentIndex(static_cast<int>(labels.indexOf(CellText(row, column))));
        connect(combo, &TreeList::CTreeListComboBox::finished, this,
                [this](TreeList::EndReason reason) { EndEditor(reason); });
        comboBox_ = combo;
        editor = combo;
    } else {
        auto* box = new TreeList::CTreeListEditBox(viewport());
        box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        box->setGeometry(cell);
        box->SetWidthLimits(cell.width(), viewport()->width() - cell.left());
        box->setText(CellText(row, column));
        box->selectAll();
        connect(box, &TreeList::CTreeListEditBox::finished, this,
                [this](TreeList::EndReason reason) { EndEditor(reason); });
        editBox_ = box;
        editor = box;
    }
    editor->setFont(font());
    if (comboBox_) editor->setGeometry(cell);
    editRow_ = row;
    editColumn_ = column;
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    return true;
}

void CTableCtrl::CloseEditor(bool store) {
    EndEditor(store ? TreeList::EndReason::Closed : TreeList::EndReason::Escaped);
}

void CTableCtrl::EndEditor(TreeList::EndReason reason) {
    if (!EditorOpen()) return;
    const int row = std::exchange(editRow_, -1);
    const int column = std::exchange(editColumn_, -1);
    QWidget* editor = editBox_ ? static_cast<QWidget*>(editBox_) : comboBox_;
    const bool hadFocus = editor->hasFocus();
    editor->disconnect(this);
    bool store = reason != TreeList::EndReason::Escaped;
    QString text;
    if (editBox_) {
        text = editBox_->text();
    } else {
        // A list stores only an entry the user chose.
        store = reason == TreeList::EndReason::Confirmed && comboBox_->currentIndex() >= 0;
        text = comboBox_->currentText();
        comboBox_->hidePopup();
    }
    editBox_ = nullptr;
    comboBox_ = nullptr;
    editor->hide();
    editor->deleteLater();
    if (hadFocus) setFocus(Qt::OtherFocusReason);
    if (store) Store(row, column, text);
}

void CTableCtrl::Store(int row, int column, const QString& text) {
    const QString old = CellText(row, column);
    if (text == old) return;
    SetCellText(row, column, text);
    QString error;
    if (!StoreCell(row, column, text, &error)) {
        SetCellText(row, column, old);
        ShowMessage(error.toStdString(), "Ошибка записи", MessageIcon::Exclamation);
        return;
    }
    emit cellStored(row, column, CellText(row, column));
}

bool CTableCtrl::StoreCell(int row, int column, const QString& text, QString* error) {
    return storeCell ? storeCell(row, column, text, error) : true;
}

void CTableCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(e->position().toPoint());
    if (index.isValid()) OpenEditor(index.row(), index.column());
}

void CTableCtrl::scrollContentsBy(int dx, int dy) {
    EndEditor(TreeList::EndReason::Scrolled);
    QTableWidget::scrollContentsBy(dx, dy);
}

}  // namespace myClass
