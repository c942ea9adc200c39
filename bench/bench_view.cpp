// The configuration view over the largest modification (b4), offscreen:
// building it with every branch expanded, refreshing every row after a read
// of everything, and 126 polled values a second arriving through the
// blocking notice while the event loop's longest stall is watched. Each
// figure is printed beside the core alone producing the same rows through a
// recording row sink.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "document/selvar_doc.h"
#include "document/tree_view_rules.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/ui_services.h"
#include "views/configuration_view.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The processor time the calling thread has used.
double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

QApplication& App() {
    static int argc = 1;
    static char name[] = "bench_view";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The rows as the core alone makes them: what each row would show, kept.
class RecordingRows : public RowSink {
  public:
    RowHandle InsertParameterRow(RowHandle, Parameter& p, const ParameterRow& row) override {
        views.push_back(TreeView::ParameterRowView(p, row, false));
        return Next();
    }
    RowHandle InsertElementRow(RowHandle, Elements::InvisibleElement& element,
                               const std::string& text, int, int) override {
        texts.push_back(text);
        if (auto* branch = dynamic_cast<DescBranch*>(&element))
            colours.push_back(TreeView::BranchColour(*branch));
        return Next();
    }
    RowHandle InsertSubRow(RowHandle, const std::string& text) override {
        texts.push_back(text);
        return Next();
    }
    RowHandle InsertConnectorRow(RowHandle, Elements::Connector&,
                                 const std::string& text) override {
        texts.push_back(text);
        return Next();
    }
    void UpdateParameterRow(RowHandle, Parameter&, const ParameterRow&) override {}
    void UpdateSubRow(RowHandle, const std::string&) override {}

    std::vector<TreeView::RowView> views;
    std::vector<std::string> texts;
    std::vector<TreeView::Rgb> colours;

  private:
    RowHandle Next() { return reinterpret_cast<RowHandle>(++count_); }
    std::size_t count_ = 0;
};

struct Fixture {
    Fixture() {
        App();
        SetLinkPauses({0, 0});
        COrvinTreeListView::SetBuildPause(std::chrono::milliseconds(0));
        Startup().noPort = true;  // no port, no threads: the rows alone
        doc = std::make_unique<CSelvarDoc>();
        ok = doc->SetUpConfiguration(FindDeviceDescription("b4"), false) && doc->NewDocument();
        view = std::make_unique<COrvinTreeListView>(*doc);
        view->resize(1280, 900);
        view->show();
        doc->views = view.get();
    }
    ~Fixture() {
        doc.reset();
        view.reset();
        Startup().noPort = false;
    }
    void CoreRows() {
        RecordingRows rows;
        doc->ConfigurationTree()->ShowTree(rows, nullptr, 0);
        doc->OperativeTree()->ShowTree(rows, nullptr, 0);
        doc->common().ShowInTree(rows, nullptr, -1, 0);
        doc->device().ProgramSettings().ShowInTree(rows, nullptr, -1, 0);
        benchmark::DoNotOptimize(rows.views.data());
    }
    std::vector<Parameter*> Parameters() const {
        std::vector<Parameter*> list;
        doc->ConfigurationTree()->ForEachBranch([&](const DescBranch& b) {
            list.insert(list.end(), b.parameters.begin(), b.parameters.end());
        });
        return list;
    }

    std::unique_ptr<CSelvarDoc> doc;
    std::unique_ptr<COrvinTreeListView> view;
    bool ok = false;
};

void BM_BuildEveryBranchExpanded(benchmark::State& state) {
    Fixture f;
    if (!f.ok) {
        state.SkipWithError("description files missing: build first");
        return;
    }
    double worst = 0, core = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        f.view->Build();
        f.view->Tree().ExpandAllQuietly();
        f.view->Tree().doItemsLayout();
        const double ms = Ms(Clock::now() - start);
        worst = std::max(worst, ms);
        state.SetIterationTime(ms / 1000);
        const auto coreStart = Clock::now();
        f.CoreRows();
        core = Ms(Clock::now() - coreStart);
    }
    state.counters["rows"] = f.view->Tree().GetCount();
    state.counters["view_worst_ms"] = worst;
    state.counters["core_ms"] = core;
    std::printf(
        "build, every branch expanded: %d rows, view %.2f ms (worst; target < 100), "
        "core alone %.2f ms\n",
        f.view->Tree().GetCount(), worst, core);
}
BENCHMARK(BM_BuildEveryBranchExpanded)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_RefreshAfterReadAll(benchmark::State& state) {
    Fixture f;
    if (!f.ok) {
        state.SkipWithError("description files missing: build first");
        return;
    }
    f.view->Build();
    f.view->Tree().ExpandAllQuietly();
    const std::vector<Parameter*> parameters = f.Parameters();
    QCoreApplication::processEvents();
    int round = 0;
    double worst = 0, paint = 0, core = 0;
    for (auto _ : state) {
        // A read of everything: new values, every twentieth with an error.
        ++round;
        int i = 0;
        for (Parameter* p : parameters) {
            p->value = std::to_string(round * 7 + i);
            p->error = (i++ % 20 == 0) ? "Таймаут" : "";
        }
        const auto start = Clock::now();
        f.view->RefreshRows();
        const double ms = Ms(Clock::now() - start);
        worst = std::max(worst, ms);
        state.SetIterationTime(ms / 1000);
        // The rows on the screen painted anew, once for the whole refresh.
        const auto paintStart = Clock::now();
        f.view->Tree().viewport()->repaint();
        paint = std::max(paint, Ms(Clock::now() - paintStart));
        const auto coreStart = Clock::now();
        std::size_t n = 0;
        for (Parameter* p : parameters)
            n += TreeView::ParameterRowView(*p, false).texts[1].size();
        f.doc->ConfigurationTree()->ForEachBranch(
            [&](const DescBranch& b) { n += TreeView::BranchColour(b).r; });
        benchmark::DoNotOptimize(n);
        core = Ms(Clock::now() - coreStart);
    }
    state.counters["view_worst_ms"] = worst;
    state.counters["paint_worst_ms"] = paint;
    state.counters["core_ms"] = core;
    std::printf(
        "refresh after a read of everything: %zu parameters, view %.2f ms (worst; target "
        "< 20), then one repaint %.2f ms, core alone %.2f ms\n",
        parameters.size(), worst, paint, core);
}
BENCHMARK(BM_RefreshAfterReadAll)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// The polling thread's side: hands each value over and waits until shown.
class Receiver : public MainWindowNotifications {
  public:
    COrvinTreeListView* view = nullptr;
    void OperativeValueRead(Parameter& p) override {
        const auto start = Clock::now();
        view->OnOperativeValue(p);
        longestDelivery = std::max(longestDelivery, Ms(Clock::now() - start));
    }
    void OperativeValueReady(const OperativeValueTicket& ticket) override {
        QMetaObject::invokeMethod(
            view, [ticket] { ticket.Deliver(); }, Qt::QueuedConnection);
    }
    double longestDelivery = 0;
};

void BM_PolledValues126PerSecond(benchmark::State& state) {
    Fixture f;
    if (!f.ok) {
        state.SkipWithError("description files missing: build first");
        return;
    }
    f.view->Build();
    f.view->Tree().ExpandAllQuietly();
    std::vector<Parameter*> polled;
    f.doc->OperativeTree()->CollectPolled(polled);
    if (polled.empty()) {
        state.SkipWithError("no operative parameters");
        return;
    }
    // The operative rows on the screen, as when the user watches them, so
    // that every value repaints its row; the first full paint is done before
    // the watch starts.
    f.view->Tree().scrollTo(f.view->Tree().Model()->IndexOf(f.view->OperativeRow()),
                            QAbstractItemView::PositionAtTop);
    QCoreApplication::processEvents();
    f.view->Tree().viewport()->repaint();
    Receiver receiver;
    receiver.view = f.view.get();
    SetMainWindowNotifications(&receiver);
    constexpr int kValues = 252;  // two seconds
    double stall = 0, busy = 0, core = 0;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::thread polling([&] {
            auto next = Clock::now();
            for (int i = 0; i < kValues; ++i) {
                next += std::chrono::microseconds(1000000 / 126);
                std::this_thread::sleep_until(next);
                Parameter& p = *polled[static_cast<std::size_t>(i) % polled.size()];
                p.value = std::to_string(i);
                auto ticketState = std::make_shared<OperativeValueTicket::State>(p);
                Notifications().OperativeValueReady(OperativeValueTicket(ticketState));
                ticketState->Wait();
            }
            done = true;
        });
        // A 1 ms timer: the longest gap between its ticks is the longest
        // stall. Beside it the processor time this thread spent in the gap:
        // on a busy machine the gap also holds time given to other processes.
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        ticks.setInterval(1);
        auto last = Clock::now();
        double lastCpu = ThreadCpuMs();
        double longest = 0, busiest = 0;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            const double cpu = ThreadCpuMs();
            longest = std::max(longest, Ms(now - last));
            busiest = std::max(busiest, cpu - lastCpu);
            last = now;
            lastCpu = cpu;
        });
        ticks.start();
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        polling.join();
        ticks.stop();
        stall = std::max(stall, longest);
        busy = std::max(busy, busiest);
        state.SetIterationTime(longest / 1000);

        const auto coreStart = Clock::now();
        for (int i = 0; i < kValues; ++i)
            benchmark::DoNotOptimize(TreeView::OnPolledValue(
                *f.doc, *polled[static_cast<std::size_t>(i) % polled.size()], 0));
        core = Ms(Clock::now() - coreStart) / kValues;
    }
    SetMainWindowNotifications(nullptr);
    state.counters["stall_ms"] = stall;
    state.counters["stall_cpu_ms"] = busy;
    state.counters["delivery_ms"] = receiver.longestDelivery;
    state.counters["core_per_value_ms"] = core;
    std::printf(
        "126 polled values a second: longest event-loop stall %.2f ms (target < 16; this "
        "thread busy %.2f ms of it), longest delivery %.3f ms, core alone %.4f ms a value\n",
        stall, busy, receiver.longestDelivery, core);
}
BENCHMARK(BM_PolledValues126PerSecond)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
