// The tree-list and the table control, offscreen: disabled rows, the
// in-place editors and how they end, check boxes, double clicks, rows given
// on demand, the insert failure box, and the table's keyboard and store rules.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>
#include <vector>

#include "controls/table_ctrl.h"
#include "controls/tree_list_ctrl.h"
#include "support/message_recorder.h"

using TreeList::CheckState;
using TreeList::CTLItem;
using TreeList::CTreeListCtrl;
using TreeList::InsertPosition;

namespace {

struct Ended {
    CTLItem* item;
    int column;
    QString text;
    bool accepted;
};

// A tree-list in a window beside a line edit that can take the focus, with
// the model checked by Qt's tester and every notice recorded.
class TreeHarness {
  public:
    TreeHarness() {
        auto* layout = new QVBoxLayout(&window);
        tree = new CTreeListCtrl;
        other = new QLineEdit;
        layout->addWidget(tree);
        layout->addWidget(other);
        tester = std::make_unique<QAbstractItemModelTester>(
            tree->Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::vector<CTreeListCtrl::Column> columns;
        for (int i = 0; i < 9; ++i)
            columns.push_back({QString("Столбец %1").arg(i), i == 0 ? 160 : 70,
                               i == 0 ? Qt::AlignLeft : Qt::AlignHCenter});
        tree->SetColumns(columns);
        QObject::connect(tree, &CTreeListCtrl::editEnded, tree,
                         [this](CTLItem* item, int column, const QString& text, bool accepted) {
                             edits.push_back({item, column, text, accepted});
                         });
        QObject::connect(tree, &CTreeListCtrl::listEnded, tree,
                         [this](CTLItem* item, int column, const QString& text, int, bool ok) {
                             lists.push_back({item, column, text, ok});
                         });
        QObject::connect(tree, &CTreeListCtrl::editRequested, tree,
                         [this](CTLItem* item, int column) {
                             requests.push_back({item, column, {}, true});
                         });
        QObject::connect(tree, &CTreeListCtrl::checkBoxClicked, tree,
                         [this](CTLItem* item) { checks.push_back(item); });
        window.resize(900, 400);
        window.show();
        QApplication::setActiveWindow(&window);
        if (!QTest::qWaitForWindowExposed(&window)) qWarning("window not exposed");
    }

    // A top row with `n` children, expanded.
    CTLItem* Fill(int n) {
        CTLItem* top = tree->InsertItem("Конфигурация", 25, 25);
        for (int i = 0; i < n; ++i) {
            CTLItem* row = tree->InsertItem(QString("Параметр %1").arg(i), 28, 28, top);
            tree->SetItemTexts(row, {QString::number(i), QString("p%1").arg(i)}, {});
        }
        tree->ExpandItem(top);
        return top;
    }

    QPoint Centre(const CTLItem* item, int column) const {
        return tree->CellRect(item, column).center();
    }

    QWidget window;
    CTreeListCtrl* tree;
    QLineEdit* other;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::vector<Ended> edits, lists, requests;
    std::vector<CTLItem*> checks;
};

bool DigitsOnly(QChar c) {
    return c.isDigit();
}

// What a real double click delivers: a click, then the double click and
// its release.
void DoubleClick(QWidget* widget, QPoint pos) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT
  private slots:
    void disablingReachesEveryRowBelowAndBlocksEditing();
    void rowsGivenOnDemandAreAskedForOnce();
    void anUpdateAnnouncesItsChangesAtTheEnd();
    void scrollingReportsTheTypedTextFirst();
    void editBoxFiltersAndWidens();
    void editingEndsOnEnterTabFocusAndEscape();
    void oneEditorAtATime();
    void doubleClickExpandsInTreeColumnAndAsksElsewhere();
    void checkBoxClicksAreReportedNotToggled();
    void rightClickSelectsAndCtrlEnterReports();
    void selectedColouredRowKeepsItsColour();
    void findsRowsByLabelAndObject();
    void toolTipBesideTheEditorWrapsAndHides();
    void insertFailureShowsTheBox();
    void tableSkipsDisabledRowsWithTheKeys();
    void tableStoresEditsAndShowsRefusals();
    void tableListStoresOnlyAChosenEntry();
    void renderPictures();
};

void ControlsTest::disablingReachesEveryRowBelowAndBlocksEditing() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* branch = top->Child(1);
    CTLItem* leaf = h.tree->InsertItem("Вложенный", 28, 28, branch);
    CTLItem* deep = h.tree->InsertItem("Глубже", 28, 28, leaf);
    h.tree->ExpandItem(branch);
    h.tree->ExpandItem(leaf);

    h.tree->SetItemColor(leaf, QColor(213, 0, 0));
    h.tree->SetItemDisabled(branch, true);
    QVERIFY(branch->Disabled() && leaf->Disabled() && deep->Disabled());
    QVERIFY(!top->Disabled() && !top->Child(0)->Disabled() && !top->Child(2)->Disabled());
    // Grey wins over the row's own colour.
    const QColor grey = QApplication::palette().color(QPalette::Disabled, QPalette::Text);
    const auto model = h.tree->Model();
    QCOMPARE(model->data(model->IndexOf(leaf, 3), Qt::ForegroundRole).value<QColor>(), grey);
    // Rows put in later under a disabled row are disabled too.
    CTLItem* late = h.tree->InsertItem("Позже", 28, 28, leaf);
    QVERIFY(late->Disabled());

    QVERIFY(!h.tree->OpenEditBox(deep, 1, "1"));
    QVERIFY(!h.tree->OpenList(leaf, 1, {"a", "b"}, 0, false));
    QVERIFY(!h.tree->EditorOpen());
    DoubleClick(h.tree->viewport(), h.Centre(leaf, 1));
    QVERIFY(h.requests.empty());

    // Disabling the row being edited drops its editor unreported.
    QVERIFY(h.tree->OpenEditBox(top->Child(2), 1, "5"));
    h.tree->SetItemDisabled(top, true);
    QVERIFY(!h.tree->EditorOpen());
    QVERIFY(h.edits.empty());

    h.tree->SetItemDisabled(top, false);
    QVERIFY(!branch->Disabled() && !deep->Disabled() && !late->Disabled());
    QCOMPARE(model->data(model->IndexOf(leaf, 3), Qt::ForegroundRole).value<QColor>(),
             QColor(213, 0, 0));
    QVERIFY(h.tree->OpenEditBox(deep, 1, "1"));
}

void ControlsTest::rowsGivenOnDemandAreAskedForOnce() {
    TreeHarness h;
    CTLItem* top = h.Fill(2);
    CTLItem* branch = top->Child(0);
    h.tree->SetChildrenOnDemand(branch, true);
    QVERIFY(h.tree->Model()->hasChildren(h.tree->Model()->IndexOf(branch)));
    int asked = 0;
    std::vector<CTLItem*> expanded;
    QObject::connect(h.tree, &CTreeListCtrl::childrenNeeded, h.tree, [&](CTLItem* item) {
        ++asked;
        QCOMPARE(item, branch);
        for (int i = 0; i < 3; ++i)
            h.tree->InsertItem(QString("Ребёнок %1").arg(i), 28, 28, item);
    });
    QObject::connect(h.tree, &CTreeListCtrl::itemExpanded, h.tree,
                     [&](CTLItem* item) { expanded.push_back(item); });
    h.tree->ExpandItem(branch);
    QApplication::processEvents();
    QCOMPARE(asked, 1);
    QCOMPARE(branch->ChildCount(), 3);
    QVERIFY(!h.tree->CellRect(branch->Child(2), 0).isEmpty());
    QCOMPARE(expanded, std::vector<CTLItem*>{branch});
    h.tree->ExpandItem(branch, false);
    h.tree->ExpandItem(branch);
    QApplication::processEvents();
    QCOMPARE(asked, 1);
    QCOMPARE(branch->ChildCount(), 3);
}

void ControlsTest::anUpdateAnnouncesItsChangesAtTheEnd() {
    TreeHarness h;
    CTLItem* top = h.Fill(4);
    auto* model = h.tree->Model();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);

    // Texts only: one range per parent at the outermost end, nothing reset.
    h.tree->BeginUpdate();
    h.tree->BeginUpdate();
    h.tree->SetItemTexts(top->Child(1), {"7"}, QColor(213, 0, 0));
    h.tree->SetItemTexts(top->Child(3), {"8"}, {});
    h.tree->SetItemColor(top, QColor(0, 187, 0));
    h.tree->EndUpdate();
    QCOMPARE(changed.count(), 0);
    h.tree->EndUpdate();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(reset.count(), 0);
    bool rowsRange = false;
    for (const QList<QVariant>& args : changed) {
        const auto first = args[0].value<QModelIndex>();
        const auto last = args[1].value<QModelIndex>();
        QCOMPARE(last.column(), h.tree->ColumnCount() - 1);
        if (model->ItemOf(first)->Parent() == top) {
            rowsRange = true;
            QCOMPARE(first.row(), 1);
            QCOMPARE(last.row(), 3);
        }
    }
    QVERIFY(rowsRange);
    QCOMPARE(top->Child(1)->Text(1), QString("7"));
    QVERIFY(h.tree->IsExpanded(top));
    h.tree->EndUpdate();  // unmatched: nothing happens

    // New rows: no insertion announced, one reset at the end, which ends the
    // open editor unreported.
    QVERIFY(h.tree->OpenEditBox(top->Child(0), 1, "5"));
    changed.clear();
    h.tree->BeginUpdate();
    CTLItem* branch = h.tree->InsertItem("Ветвь", 5, 5, top, InsertPosition::First);
    for (int i = 0; i < 40; ++i)
        h.tree->SetItemText(h.tree->InsertItem(QString("Лист %1").arg(i), 28, 28, branch), 1,
                            QString::number(i));
    h.tree->SetItemDisabled(branch, true);
    h.tree->EndUpdate();
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(reset.count(), 1);
    QVERIFY(!h.tree->EditorOpen());
    QVERIFY(h.edits.empty());
    QCOMPARE(h.tree->GetCount(), 1 + 4 + 1 + 40);
    QCOMPARE(model->rowCount(model->IndexOf(branch)), 40);
    QVERIFY(branch->Child(39)->Disabled());
    h.tree->ExpandItem(top);
    h.tree->ExpandItem(branch);
    QVERIFY(!h.tree->CellRect(branch->Child(0), 1).isEmpty());

    // Outside an update every change is announced at once again.
    h.tree->InsertItem("После", 28, 28, top);
    QCOMPARE(inserted.count(), 1);
}

void ControlsTest::scrollingReportsTheTypedTextFirst() {
    TreeHarness h;
    CTLItem* top = h.Fill(200);
    CTLItem* row = top->Child(0);
    h.tree->SelectItem(top);
    QVERIFY(h.tree->OpenEditBox(row, 1, "0"));
    QTest::keyClicks(h.tree->EditBox(), "42");
    int shownWhenReported = -1;
    QObject::connect(h.tree, &CTreeListCtrl::editEnded, h.tree, [&] {
        // The box still sits over its cell when the text is handed over.
        shownWhenReported = h.tree->verticalScrollBar()->value();
    });
    h.tree->verticalScrollBar()->setValue(h.tree->verticalScrollBar()->maximum());
    QVERIFY(!h.tree->EditorOpen());
    QCOMPARE(h.edits.size(), size_t{1});
    QCOMPARE(h.edits[0].item, row);
    QCOMPARE(h.edits[0].column, 1);
    QCOMPARE(h.edits[0].text, QString("42"));
    QVERIFY(h.edits[0].accepted);
    QVERIFY(shownWhenReported >= 0);

    // Wheel scrolling is scrolling too.
    h.tree->verticalScrollBar()->setValue(0);
    QVERIFY(h.tree->OpenEditBox(top->Child(1), 2, "x"));
    QWheelEvent wheel(h.Centre(top->Child(3), 0), h.tree->viewport()->mapToGlobal(QPoint(5, 5)), {},
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(h.tree->viewport(), &wheel);
    QVERIFY(!h.tree->EditorOpen());
    QCOMPARE(h.edits.size(), size_t{2});
    QCOMPARE(h.edits[1].text, QString("x"));
}

void ControlsTest::editBoxFiltersAndWidens() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* row = top->Child(0);
    QVERIFY(h.tree->OpenEditBox(row, 1, "", DigitsOnly));
    auto* box = h.tree->EditBox();
    QCOMPARE(box->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(box->font(), h.tree->font());
    QTest::keyClicks(box, "1a2-3.");
    QCOMPARE(box->text(), QString("123"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->text(), QString("12"));

    const QRect cell = h.tree->CellRect(row, 1);
    QCOMPARE(box->width(), cell.width());
    QTest::keyClicks(box, QString(20, '7'));
    const int wide = box->width();
    QVERIFY(wide > cell.width());
    QVERIFY(wide >= box->fontMetrics().horizontalAdvance(box->text()) + 5);
    QCOMPARE(box->x(), cell.x());
    // Never past the right edge of the tree.
    QTest::keyClicks(box, QString(300, '7'));
    QCOMPARE(box->geometry().right(), h.tree->viewport()->width() - 1);
    h.tree->CloseEditor(false);
    QVERIFY(h.edits.empty());

    // An opened text is selected, so typing replaces it.
    QVERIFY(h.tree->OpenEditBox(row, 1, "999", DigitsOnly));
    QCOMPARE(h.tree->EditBox()->selectedText(), QString("999"));
    QTest::keyClicks(h.tree->EditBox(), "5");
    QTest::keyClick(h.tree->EditBox(), Qt::Key_Return);
    QCOMPARE(h.edits.back().text, QString("5"));
}

void ControlsTest::editingEndsOnEnterTabFocusAndEscape() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* row = top->Child(1);
    auto typeAndEnd = [&](const std::function<void(QWidget*)>& end) {
        h.edits.clear();
        if (!h.tree->OpenEditBox(row, 1, "")) return false;
        QTest::keyClicks(h.tree->EditBox(), "7");
        end(h.tree->EditBox());
        return !h.tree->EditorOpen() && h.edits.size() == 1 && h.edits[0].text == "7";
    };
    QVERIFY(typeAndEnd([](QWidget* w) { QTest::keyClick(w, Qt::Key_Enter); }));
    QVERIFY(h.edits[0].accepted);
    QVERIFY(h.tree->hasFocus());
    QVERIFY(typeAndEnd([](QWidget* w) { QTest::keyClick(w, Qt::Key_Tab); }));
    QVERIFY(h.edits[0].accepted);
    QVERIFY(typeAndEnd([&](QWidget*) { h.other->setFocus(); }));
    QVERIFY(h.edits[0].accepted);
    // The focus stays where the user put it.
    QVERIFY(h.other->hasFocus());
    // Escape reports the text as not accepted: the owner drops it.
    QVERIFY(typeAndEnd([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }));
    QVERIFY(!h.edits[0].accepted);
    // The list: Escape and a chosen entry.
    QVERIFY(h.tree->OpenList(row, 2, {"выкл", "вкл", "авто"}, 1, false));
    QCOMPARE(h.tree->ComboBox()->currentText(), QString("вкл"));
    QTest::keyClick(h.tree->ComboBox(), Qt::Key_Escape);
    QCOMPARE(h.lists.size(), size_t{1});
    QVERIFY(!h.lists[0].accepted);
    QVERIFY(h.tree->OpenList(row, 2, {"выкл", "вкл", "авто"}, 1, false));
    QTest::keyClick(h.tree->ComboBox(), Qt::Key_Down);
    QTest::keyClick(h.tree->ComboBox(), Qt::Key_Return);
    QCOMPARE(h.lists.size(), size_t{2});
    QCOMPARE(h.lists[1].text, QString("авто"));
    QVERIFY(h.lists[1].accepted);
    // Dropped down at once: the popup taking the focus does not end it, a
    // choice in the popup does.
    QVERIFY(h.tree->OpenList(row, 2, {"выкл", "вкл", "авто"}, 0));
    auto* popup = h.tree->ComboBox()->view();
    QTRY_VERIFY(popup->isVisible());
    QVERIFY(h.tree->EditorOpen());
    QTest::keyClick(popup, Qt::Key_Down);
    QCOMPARE(h.lists.size(), size_t{2});
    QTest::keyClick(popup, Qt::Key_Return);
    QCOMPARE(h.lists.size(), size_t{3});
    QCOMPARE(h.lists[2].text, QString("вкл"));
    QVERIFY(h.lists[2].accepted);
    QVERIFY(!h.tree->EditorOpen());
    // Collapsing the rows under an editor ends it with its result.
    QVERIFY(h.tree->OpenEditBox(row, 1, "3"));
    h.tree->ExpandItem(top, false);
    QVERIFY(!h.tree->EditorOpen());
    QCOMPARE(h.edits.back().text, QString("3"));
}

void ControlsTest::oneEditorAtATime() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    QVERIFY(h.tree->OpenEditBox(top->Child(0), 1, "1"));
    QTest::keyClicks(h.tree->EditBox(), "2");
    QVERIFY(h.tree->OpenList(top->Child(1), 2, {"a", "b"}, 0, false));
    QCOMPARE(h.edits.size(), size_t{1});
    QCOMPARE(h.edits[0].item, top->Child(0));
    QCOMPARE(h.edits[0].text, QString("2"));
    QVERIFY(h.edits[0].accepted);
    QVERIFY(!h.tree->EditBox());
    QVERIFY(h.tree->ComboBox());
    QVERIFY(h.tree->OpenEditBox(top->Child(2), 1, "9"));
    QCOMPARE(h.lists.size(), size_t{1});
    QVERIFY(!h.tree->ComboBox());
    // Another row becoming current ends the editor with its result.
    h.tree->SelectItem(top->Child(0));
    QVERIFY(!h.tree->EditorOpen());
    QCOMPARE(h.edits.back().text, QString("9"));
    // Deleting the rows closes the editor without a report.
    QVERIFY(h.tree->OpenEditBox(top->Child(1), 1, "4"));
    const size_t reported = h.edits.size();
    h.tree->DeleteAllItems();
    QVERIFY(!h.tree->EditorOpen());
    QCOMPARE(h.edits.size(), reported);
    QCOMPARE(h.tree->GetCount(), 0);
}

void ControlsTest::doubleClickExpandsInTreeColumnAndAsksElsewhere() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* branch = top->Child(0);
    h.tree->InsertItem("Вложенный", 28, 28, branch);
    QVERIFY(!h.tree->IsExpanded(branch));
    DoubleClick(h.tree->viewport(), h.Centre(branch, 0));
    QVERIFY(h.tree->IsExpanded(branch));
    QVERIFY(h.requests.empty());
    DoubleClick(h.tree->viewport(), h.Centre(branch, 0));
    QVERIFY(!h.tree->IsExpanded(branch));

    DoubleClick(h.tree->viewport(), h.Centre(branch, 2));
    QVERIFY(!h.tree->IsExpanded(branch));
    QCOMPARE(h.requests.size(), size_t{1});
    QCOMPARE(h.requests[0].item, branch);
    QCOMPARE(h.requests[0].column, 2);
    // The control opens nothing itself: the owner decides.
    QVERIFY(!h.tree->EditorOpen());

    // An open editor ends with its result before the owner is asked again.
    std::vector<QString> order;
    QObject::connect(h.tree, &CTreeListCtrl::editEnded, h.tree, [&] { order.push_back("ended"); });
    QObject::connect(h.tree, &CTreeListCtrl::editRequested, h.tree,
                     [&] { order.push_back("asked"); });
    QVERIFY(h.tree->OpenEditBox(top->Child(1), 1, "8"));
    DoubleClick(h.tree->viewport(), h.Centre(top->Child(2), 1));
    QCOMPARE(order, (std::vector<QString>{"ended", "asked"}));
    QCOMPARE(h.edits.back().text, QString("8"));
    QCOMPARE(h.requests.back().item, top->Child(2));
}

void ControlsTest::checkBoxClicksAreReportedNotToggled() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* row = top->Child(1);
    QVERIFY(h.tree->CheckBoxRect(row).isEmpty());
    h.tree->SetItemCheck(row, CheckState::Unchecked);
    const QRect box = h.tree->CheckBoxRect(row);
    QVERIFY(!box.isEmpty());
    QVERIFY(h.tree->CellRect(row, 0).contains(box));

    QTest::mouseClick(h.tree->viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(h.checks, std::vector<CTLItem*>{row});
    QCOMPARE(row->Check(), CheckState::Unchecked);
    QCOMPARE(h.tree->SelectedItem(), row);
    // The owner's answer shows.
    h.tree->SetItemCheck(row, CheckState::Checked);
    QCOMPARE(h.tree->Model()->data(h.tree->Model()->IndexOf(row), Qt::CheckStateRole).toInt(),
             int(Qt::Checked));
    // A click beside the box is no toggle; nor is a row without one.
    QTest::mouseClick(h.tree->viewport(), Qt::LeftButton, {}, h.Centre(row, 3));
    QTest::mouseClick(h.tree->viewport(), Qt::LeftButton, {},
                      h.tree->CellRect(top->Child(0), 0).topLeft() + QPoint(box.x(), 4));
    QCOMPARE(h.checks.size(), size_t{1});
    // The space bar toggles the selected row's box.
    h.tree->SelectItem(row);
    h.tree->setFocus();
    QTest::keyClick(h.tree, Qt::Key_Space);
    QCOMPARE(h.checks.size(), size_t{2});
    QCOMPARE(row->Check(), CheckState::Checked);
}

void ControlsTest::rightClickSelectsAndCtrlEnterReports() {
    TreeHarness h;
    CTLItem* top = h.Fill(5);
    h.tree->SelectItem(top->Child(0));
    std::vector<CTLItem*> right, ctrlEnter, selected;
    QObject::connect(h.tree, &CTreeListCtrl::rightClicked, h.tree, [&](CTLItem* item, QPoint) {
        right.push_back(item);
        QCOMPARE(h.tree->SelectedItem(), item);
    });
    QObject::connect(h.tree, &CTreeListCtrl::ctrlEnterPressed, h.tree,
                     [&](CTLItem* item) { ctrlEnter.push_back(item); });
    QObject::connect(h.tree, &CTreeListCtrl::selectedItemChanged, h.tree,
                     [&](CTLItem* item, CTLItem*) { selected.push_back(item); });
    const QPoint at = h.Centre(top->Child(3), 4);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, h.tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(h.tree->viewport(), &menu);
    QCOMPARE(right, std::vector<CTLItem*>{top->Child(3)});
    QCOMPARE(selected.back(), top->Child(3));

    h.tree->setFocus();
    QTest::keyClick(h.tree, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(ctrlEnter, std::vector<CTLItem*>{top->Child(3)});
    // Other keys move as usual.
    QTest::keyClick(h.tree, Qt::Key_Down);
    QCOMPARE(h.tree->SelectedItem(), top->Child(4));
}

void ControlsTest::selectedColouredRowKeepsItsColour() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* row = top->Child(1);
    h.tree->SetItemTexts(row, {"ОШИБКА", "name", "12", "float", "0", "100", "1", "Нет ответа"},
                         QColor(213, 0, 0));
    h.tree->SelectItem(row);
    QApplication::processEvents();
    const QImage shot = h.tree->viewport()->grab().toImage();
    const QRect cell = h.tree->CellRect(row, 1);
    int red = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 90 && c.blue() < 90) ++red;
        }
    QVERIFY2(red > 5, "the selected row lost its red text");
    // The selection is light enough behind dark text.
    const QColor back = shot.pixelColor(cell.left() + 2, cell.top() + 2);
    QVERIFY(back.lightness() > 170);
}

void ControlsTest::findsRowsByLabelAndObject() {
    TreeHarness h;
    int a = 0, b = 0;
    CTLItem* top = h.tree->InsertItem("Корень", 25, 25);
    CTLItem* first =
        h.tree->InsertItemFast("Вход", 28, 28, top, InsertPosition::Last, &a, 7, true, false);
    CTLItem* branch = h.tree->InsertItem("Ветвь", 5, 6, top);
    CTLItem* second =
        h.tree->InsertItemFast("  вход", 28, 28, branch, InsertPosition::Last, &b, 7, true, true);
    CTLItem* nPC =
        h.tree->InsertItemFast("nPC", 28, 28, top, InsertPosition::First, nullptr, 0, false, false);
    QCOMPARE(top->Child(0), nPC);
    QCOMPARE(first->Row(), 1);
    QCOMPARE(first->Kind(), 7);
    QVERIFY(first->EditBox() && !first->List());
    // The list flag clears the edit-box flag.
    QVERIFY(!second->EditBox() && second->List());
    QCOMPARE(h.tree->FindItemByLabel(nullptr, "ВХОД"), first);
    QCOMPARE(h.tree->FindItemByLabel(nullptr, "   вход", &b), second);
    QCOMPARE(h.tree->FindItemByLabel(branch, "Вход"), second);
    QCOMPARE(h.tree->FindItemByLabel(nullptr, "Выход"), nullptr);
    QCOMPARE(h.tree->GetCount(), 5);
    // Texts beyond the ninth column are not taken.
    h.tree->SetItemTexts(first, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, {});
    QCOMPARE(h.tree->GetItemText(first, 8), QString("8"));
    QCOMPARE(h.tree->GetItemText(first, 9), QString());
}

void ControlsTest::toolTipBesideTheEditorWrapsAndHides() {
    TreeHarness h;
    CTLItem* top = h.Fill(3);
    CTLItem* row = top->Child(0);
    h.tree->SelectItem(row);
    QVERIFY(h.tree->OpenEditBox(row, 1, "1"));
    QTest::keyClicks(h.tree->EditBox(), QString(15, '5'));
    const QString comment =
        "Период опроса параметра в миллисекундах; меньше тысячи не принимается, "
        "а значение сохраняется в файле конфигурации вместе с остальными.";
    h.tree->ShowToolTipBeside(row, 1, comment);
    auto* tip = h.tree->ToolTip();
    QVERIFY(tip->isVisible());
    QCOMPARE(tip->text(), comment);
    QVERIFY(tip->width() <= 250);
    QVERIFY(tip->height() > tip->fontMetrics().height() * 2);
    const QRect box(h.tree->viewport()->mapToGlobal(h.tree->EditBox()->geometry().topLeft()),
                    h.tree->EditBox()->size());
    QVERIFY(tip->x() > box.right());
    QTest::keyClick(h.tree->EditBox(), Qt::Key_Return);
    QVERIFY(!tip->isVisible());

    h.tree->ShowToolTip("коротко", h.Centre(row, 1));
    QVERIFY(tip->isVisible());
    QVERIFY(tip->width() < 250);
    h.tree->SelectItem(top->Child(2));
    QVERIFY(!tip->isVisible());

    // A text cut at its column's edge is shown whole on hovering; one that
    // fits needs no tip.
    const QString longText(200, QChar(0x0416));
    h.tree->SetItemText(row, 1, longText);
    QHelpEvent over(QEvent::ToolTip, h.Centre(row, 1),
                    h.tree->viewport()->mapToGlobal(h.Centre(row, 1)));
    QApplication::sendEvent(h.tree->viewport(), &over);
    QCOMPARE(QToolTip::text(), longText);
    h.tree->SetItemText(row, 1, "1");
    QApplication::sendEvent(h.tree->viewport(), &over);
    QTRY_VERIFY(!QToolTip::isVisible());
}

void ControlsTest::insertFailureShowsTheBox() {
    MessageRecorder boxes;
    TreeHarness h;
    CTreeListCtrl stranger;
    CTLItem* foreign = stranger.InsertItem("Чужой", 1, 1);
    QCOMPARE(h.tree->InsertItem("Ветвь", 5, 6, foreign), nullptr);
    QCOMPARE(h.tree->InsertItemFast("r.co", 28, 28, foreign, InsertPosition::Last, nullptr),
             nullptr);
    QCOMPARE(boxes.boxes.size(), size_t{2});
    QCOMPARE(boxes.boxes[0].text,
             std::string("Не удается создать часть дерева 'Ветвь'!\n(Возможно нет памяти)"));
    QCOMPARE(boxes.boxes[0].caption, std::string("Ошибка в InsertItem"));
    QCOMPARE(boxes.boxes[1].caption, std::string("Ошибка в InsertItemFast"));
    QCOMPARE(h.tree->GetCount(), 0);
    QCOMPARE(stranger.GetCount(), 1);
}

namespace {

struct TableHarness {
    TableHarness() {
        table.SetColumns({"Объект", "Режим", "Значение"}, {120, 100, 100});
        for (int i = 0; i < 6; ++i)
            table.AddRow({QString("Канал %1").arg(i), "выкл", QString::number(i * 10)},
                         myClass::CTableCtrl::kEditable);
        for (int i = 0; i < 6; ++i) {
            table.SetCellFlags(i, 1, myClass::CTableCtrl::kList);
            table.SetCellChoices(i, 1, {"выкл", "вкл", "авто"});
        }
        table.storeCell = [this](int row, int column, const QString& text, QString* error) {
            stores.push_back({row, column, text});
            if (text == "666") {
                *error = "Значение 666 не допускается";
                return false;
            }
            return true;
        };
        table.resize(400, 250);
        table.show();
        QApplication::setActiveWindow(&table);
        if (!QTest::qWaitForWindowExposed(&table)) qWarning("table not exposed");
    }
    QPoint Centre(int row, int column) {
        return table.visualRect(table.model()->index(row, column)).center();
    }
    struct Store {
        int row, column;
        QString text;
    };
    myClass::CTableCtrl table;
    std::vector<Store> stores;
};

}  // namespace

void ControlsTest::tableSkipsDisabledRowsWithTheKeys() {
    TableHarness h;
    h.table.SetRowDisabled(1, true);
    h.table.SetRowDisabled(2, true);
    h.table.SetRowDisabled(5, true);
    h.table.setFocus();
    h.table.setCurrentCell(0, 0);
    QTest::keyClick(&h.table, Qt::Key_Down);
    QCOMPARE(h.table.currentRow(), 3);
    QTest::keyClick(&h.table, Qt::Key_Up);
    QCOMPARE(h.table.currentRow(), 0);
    QTest::keyClick(&h.table, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(h.table.currentRow(), 4);
    QTest::keyClick(&h.table, Qt::Key_Down);
    QCOMPARE(h.table.currentRow(), 4);
    // Nor can the mouse select it.
    QTest::mouseClick(h.table.viewport(), Qt::LeftButton, {}, h.Centre(2, 0));
    QCOMPARE(h.table.currentRow(), 4);
    QVERIFY(!h.table.OpenEditor(2, 2));
    DoubleClick(h.table.viewport(), h.Centre(1, 2));
    QVERIFY(!h.table.EditorOpen());
    // Disabling the current row leaves no disabled row selected.
    h.table.setCurrentCell(3, 0);
    h.table.SetRowDisabled(3, true);
    QVERIFY(h.table.selectionModel()->selectedRows().isEmpty());
}

void ControlsTest::tableStoresEditsAndShowsRefusals() {
    MessageRecorder boxes;
    TableHarness h;
    DoubleClick(h.table.viewport(), h.Centre(3, 2));
    QVERIFY(h.table.EditBox());
    QCOMPARE(h.table.EditBox()->text(), QString("30"));
    QTest::keyClicks(h.table.EditBox(), "35");
    QTest::keyClick(h.table.EditBox(), Qt::Key_Return);
    QCOMPARE(h.stores.size(), size_t{1});
    QCOMPARE(h.stores[0].row, 3);
    QCOMPARE(h.stores[0].column, 2);
    QCOMPARE(h.stores[0].text, QString("35"));
    QCOMPARE(h.table.CellText(3, 2), QString("35"));
    QVERIFY(boxes.boxes.empty());

    // A refusal: its text in the box, the old text back in the cell.
    QVERIFY(h.table.OpenEditor(4, 2));
    QTest::keyClicks(h.table.EditBox(), "666");
    h.table.setFocus();
    QCOMPARE(h.stores.size(), size_t{2});
    QCOMPARE(boxes.boxes.size(), size_t{1});
    QCOMPARE(boxes.boxes[0].text, std::string("Значение 666 не допускается"));
    QCOMPARE(boxes.boxes[0].caption, std::string("Ошибка записи"));
    QCOMPARE(boxes.boxes[0].icon, MessageIcon::Exclamation);
    QCOMPARE(h.table.CellText(4, 2), QString("40"));

    // Escape and an unchanged text store nothing.
    QVERIFY(h.table.OpenEditor(0, 2));
    QTest::keyClicks(h.table.EditBox(), "1");
    QTest::keyClick(h.table.EditBox(), Qt::Key_Escape);
    QVERIFY(h.table.OpenEditor(0, 2));
    QTest::keyClick(h.table.EditBox(), Qt::Key_Tab);
    QCOMPARE(h.stores.size(), size_t{2});
    QCOMPARE(h.table.CellText(0, 2), QString("0"));
    // A disabled cell in an enabled row is not edited.
    h.table.SetCellFlags(0, 2, myClass::CTableCtrl::kEditable | myClass::CTableCtrl::kDisabled);
    QVERIFY(!h.table.OpenEditor(0, 2));
}

void ControlsTest::tableListStoresOnlyAChosenEntry() {
    TableHarness h;
    QVERIFY(h.table.OpenEditor(2, 1));
    auto* combo = h.table.ComboBox();
    QVERIFY(combo);
    QCOMPARE(combo->currentText(), QString("выкл"));
    QTest::keyClick(combo, Qt::Key_Down);
    h.table.setFocus();  // left without choosing
    QVERIFY(!h.table.EditorOpen());
    QVERIFY(h.stores.empty());
    QCOMPARE(h.table.CellText(2, 1), QString("выкл"));

    QVERIFY(h.table.OpenEditor(2, 1));
    QTest::keyClick(h.table.ComboBox(), Qt::Key_Down);
    QTest::keyClick(h.table.ComboBox(), Qt::Key_Return);
    QCOMPARE(h.stores.size(), size_t{1});
    QCOMPARE(h.stores[0].text, QString("вкл"));
    QCOMPARE(h.table.CellText(2, 1), QString("вкл"));

    // Scrolling with an edit box open stores it first.
    for (int i = 0; i < 30; ++i)
        h.table.AddRow({"x", "выкл", "1"}, myClass::CTableCtrl::kEditable);
    QVERIFY(h.table.OpenEditor(0, 2));
    QTest::keyClicks(h.table.EditBox(), "77");
    h.table.verticalScrollBar()->setValue(h.table.verticalScrollBar()->maximum());
    QVERIFY(!h.table.EditorOpen());
    QCOMPARE(h.stores.back().text, QString("77"));
    QCOMPARE(h.table.CellText(0, 2), QString("77"));
}

// Pictures of both controls for a person to look at; written only when
// SELVAR_CONTROLS_PNG names a folder.
void ControlsTest::renderPictures() {
    TreeHarness h;
    const char* titles[] = {"Название", "Значение", "Имя",       "Индекс", "Тип",
                            "Минимум",  "Максимум", "Заводское", "Ошибки"};
    std::vector<CTreeListCtrl::Column> columns;
    for (int i = 0; i < 9; ++i) {
        const bool wide = i == 0 || i == 8;
        columns.push_back({titles[i], wide ? 175 : 75, wide ? Qt::AlignLeft : Qt::AlignHCenter});
    }
    h.tree->SetColumns(columns);
    h.window.resize(1000, 400);
    h.tree->SetGridLines(true);
    h.tree->SetIconProvider([](int image) {
        QPixmap pixmap(16, 16);
        pixmap.fill(QColor::fromHsv((image * 47) % 360, 160, 220));
        return QIcon(pixmap);
    });
    CTLItem* top = h.tree->InsertItem("Конфигурация Селвар-Б4 (новая)", 25, 25);
    CTLItem* branch = h.tree->InsertItem("Входы", 6, 6, top);
    const QColor colours[] = {{}, QColor(213, 0, 0), QColor(64, 64, 255), QColor(0, 187, 0)};
    for (int i = 0; i < 8; ++i) {
        CTLItem* row =
            h.tree->InsertItem(QString("Тип датчика входа %1").arg(i + 1), 28, 28, branch);
        h.tree->SetItemTexts(
            row,
            {QString::number(i * 1.5, 'f', 1), QString("in.t%1").arg(i), QString::number(100 + i),
             "float", "0.0", "100.0", "0.0", i % 4 == 1 ? "Нет ответа прибора" : ""},
            colours[i % 4]);
    }
    CTLItem* operative = h.tree->InsertItem("Оперативные параметры", 6, 6, top);
    CTLItem* polled = h.tree->InsertItem("Температура", 17, 17, operative);
    h.tree->SetItemTexts(polled, {"1000", "23.4"}, {});
    h.tree->SetItemCheck(polled, CheckState::Checked);
    CTLItem* idle = h.tree->InsertItem("Давление", 17, 17, operative);
    h.tree->SetItemCheck(idle, CheckState::Unchecked);
    h.tree->SetItemDisabled(operative, true);
    h.tree->ExpandItem(top);
    h.tree->ExpandItem(branch);
    h.tree->ExpandItem(operative);
    h.tree->SelectItem(branch->Child(1));
    QVERIFY(h.tree->OpenEditBox(branch->Child(2), 1, "3.0"));
    QTest::keyClicks(h.tree->EditBox(), "12345.678");
    QApplication::processEvents();
    const QPixmap treeShot = h.window.grab();
    QVERIFY(!treeShot.isNull());

    TableHarness t;
    t.table.SetRowDisabled(2, true);
    t.table.setCurrentCell(1, 0);
    QVERIFY(t.table.OpenEditor(3, 2));
    QApplication::processEvents();
    const QPixmap tableShot = t.table.grab();
    QVERIFY(!tableShot.isNull());

    const QString folder = qEnvironmentVariable("SELVAR_CONTROLS_PNG");
    if (folder.isEmpty()) return;
    QVERIFY(treeShot.save(folder + "/tree_list.png"));
    QVERIFY(tableShot.save(folder + "/table.png"));
}

QTEST_MAIN(ControlsTest)
#include "controls_test.moc"
