// The tree-list with as many rows as the largest modification shows: building
// every row (all branches expanded, laid out and painted once) and refreshing
// every row's texts and colour, the work of a view rebuild and of a refresh
// after a read-all. Runs offscreen unless a platform is chosen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QColor>
#include <QStringList>
#include <vector>

#include "controls/tree_list_ctrl.h"

namespace {

using TreeList::CTLItem;
using TreeList::CTreeListCtrl;
using TreeList::InsertPosition;

constexpr int kBranches = 60;
constexpr int kPerBranch = 20;  // 1200 parameter rows

const QColor kColours[] = {QColor(), QColor(213, 0, 0), QColor(64, 64, 255), QColor(0, 187, 0)};

QStringList RowTexts(int n, int round) {
    return {QString::number(n * 0.5 + round, 'f', 1),
            QString("p.%1").arg(n),
            QString::number(n),
            "float",
            "0.0",
            "100.0",
            "0.0",
            round % 2 ? QString("Нет ответа прибора") : QString()};
}

struct Tree {
    Tree() {
        std::vector<CTreeListCtrl::Column> columns;
        for (int i = 0; i < 9; ++i)
            columns.push_back({QString("Столбец %1").arg(i), i == 0 ? 240 : 100,
                               i == 0 ? Qt::AlignLeft : Qt::AlignHCenter});
        ctrl.SetColumns(columns);
        ctrl.SetGridLines(true);
        ctrl.resize(1280, 800);
        ctrl.show();
        QApplication::processEvents();
    }

    // Every row, every branch expanded, laid out and painted once; in one
    // update (announced once) or row by row.
    void Build(bool oneUpdate = false) {
        ctrl.DeleteAllItems();
        rows.clear();
        if (oneUpdate) ctrl.BeginUpdate();
        CTLItem* root = ctrl.InsertItem("Конфигурация", 25, 25);
        CTLItem* tree = ctrl.InsertItem("Параметры прибора", 5, 5, root);
        for (int b = 0; b < kBranches; ++b) {
            CTLItem* branch = ctrl.InsertItem(QString("Ветвь %1").arg(b), 5, 5, tree);
            for (int i = 0; i < kPerBranch; ++i) {
                const int n = b * kPerBranch + i;
                CTLItem* row = ctrl.InsertItemFast(QString("Параметр %1").arg(n), 28, 28, branch,
                                                   InsertPosition::Last, nullptr, 1, true, false);
                ctrl.SetItemTexts(row, RowTexts(n, 0), kColours[0]);
                rows.push_back(row);
            }
        }
        if (oneUpdate) ctrl.EndUpdate();
        ctrl.expandAll();
        ctrl.doItemsLayout();
        ctrl.viewport()->repaint();
    }

    // Every row's texts and colour taken again, then painted once (the
    // event loop paints once however many rows changed).
    void Refresh(int round, bool paint = true, bool oneUpdate = false) {
        if (oneUpdate) ctrl.BeginUpdate();
        for (size_t n = 0; n < rows.size(); ++n)
            ctrl.SetItemTexts(rows[n], RowTexts(static_cast<int>(n), round),
                              kColours[(n + static_cast<size_t>(round)) % 4]);
        if (oneUpdate) ctrl.EndUpdate();
        if (paint) ctrl.viewport()->repaint();
    }

    CTreeListCtrl ctrl;
    std::vector<CTLItem*> rows;
};

void BM_BuildEveryRow(benchmark::State& state) {
    Tree tree;
    for (auto _ : state)
        tree.Build();
    state.counters["rows"] = static_cast<double>(tree.ctrl.GetCount());
}
BENCHMARK(BM_BuildEveryRow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildEveryRowInOneUpdate(benchmark::State& state) {
    Tree tree;
    for (auto _ : state)
        tree.Build(true);
    state.counters["rows"] = static_cast<double>(tree.ctrl.GetCount());
}
BENCHMARK(BM_BuildEveryRowInOneUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RefreshEveryRow(benchmark::State& state) {
    Tree tree;
    tree.Build();
    int round = 0;
    for (auto _ : state)
        tree.Refresh(++round);
    state.counters["rows"] = static_cast<double>(tree.rows.size());
}
BENCHMARK(BM_RefreshEveryRow)->Unit(benchmark::kMillisecond)->UseRealTime();

// One paint of the full viewport, alone.
void BM_PaintOnce(benchmark::State& state) {
    Tree tree;
    tree.Build();
    for (auto _ : state)
        tree.ctrl.viewport()->repaint();
}
BENCHMARK(BM_PaintOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

// The refresh without its paint: what the rows' changes cost.
void BM_RefreshEveryRowTextsOnly(benchmark::State& state) {
    Tree tree;
    tree.Build();
    int round = 0;
    for (auto _ : state)
        tree.Refresh(++round, false);
    tree.ctrl.viewport()->repaint();
}
BENCHMARK(BM_RefreshEveryRowTextsOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RefreshEveryRowTextsOnlyInOneUpdate(benchmark::State& state) {
    Tree tree;
    tree.Build();
    int round = 0;
    for (auto _ : state)
        tree.Refresh(++round, false, true);
    tree.ctrl.viewport()->repaint();
}
BENCHMARK(BM_RefreshEveryRowTextsOnlyInOneUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

// One polled value arriving: one row's texts changed and the event loop
// run once, which paints what changed.
void BM_OneRowAndItsPaint(benchmark::State& state) {
    Tree tree;
    tree.Build();
    QApplication::processEvents();
    int round = 0;
    for (auto _ : state) {
        ++round;
        tree.ctrl.SetItemTexts(tree.rows[3], RowTexts(3, round), kColours[round % 4]);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_OneRowAndItsPaint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
