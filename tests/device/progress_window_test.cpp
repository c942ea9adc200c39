// The progress window without a link: registration, the button and the
// check box, log lines and counters as the renderer receives them.
#include <gtest/gtest.h>

#include "device/device.h"
#include "device/exchange_operations.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "support/progress_recorder.h"

namespace {

class ProgressWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Startup().driven = false;
        Outcome::Reset();
        OperationState().counters.Reset(4);
    }
    void TearDown() override {
        for (auto& w : windows)
            w->Close();
        Outcome::Reset();
        OperationState().counters.Reset();
    }
    std::shared_ptr<ProgressWindow> Make(ProgressRecorder& r) {
        windows.push_back(std::make_shared<ProgressWindow>(device, r));
        return windows.back();
    }

    Device device;
    ProgressRecorder recorder;
    ProgressRecorder other;  // outlives the windows TearDown closes
    std::vector<std::shared_ptr<ProgressWindow>> windows;
};

}  // namespace

TEST_F(ProgressWindowTest, StartRegistersResetsAndSignals) {
    device.stopEvent.Set();
    OperationState().counters.failed = 3;
    OperationStamp before = device.CurrentStamp();
    auto w = Make(recorder);
    ASSERT_TRUE(w->Start(OperationCode::kReadStructure));
    EXPECT_EQ(RegisteredProgressWindow(), w);
    EXPECT_FALSE(device.stopEvent.IsSet());
    EXPECT_EQ(OperationState().counters.failed, 0);
    EXPECT_NE(device.CurrentStamp(), before);
    EXPECT_TRUE(device.readStructureEvent.IsSet());
    EXPECT_EQ(recorder.title, "Идет чтение параметров структуры");
    EXPECT_FALSE(recorder.okEnabled);
    EXPECT_EQ(recorder.range, 4);
    EXPECT_TRUE(recorder.autoClose);
    EXPECT_EQ(w->ButtonText(), ProgressWindow::kClose);

    // Lines reach the window through the device and carry the counters.
    OperationState().counters.processed = 2;
    OperationState().counters.failed = 1;
    device.LogLine("строка", true, LogColour::kReadFailed, true);
    ASSERT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(recorder.lines[0].text, "строка");
    EXPECT_TRUE(recorder.lines[0].bold);
    EXPECT_TRUE(recorder.lines[0].italic);
    EXPECT_EQ(recorder.lines[0].colour, LogColour::kReadFailed);
    EXPECT_EQ(recorder.counters, "2 из 4");
    EXPECT_EQ(recorder.failed, 1);
    EXPECT_EQ(recorder.position, 2);
    EXPECT_EQ(recorder.elapsed, "00:00:00");
    EXPECT_EQ(w->LogLength(), 6u);  // characters, not bytes

    // Closing unregisters: later lines go nowhere.
    w->Close();
    EXPECT_EQ(RegisteredProgressWindow(), nullptr);
    EXPECT_EQ(device.GetProgressLog(), nullptr);
    device.LogLine("после", false, 0, false);
    EXPECT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(recorder.closed, 1);
}

TEST_F(ProgressWindowTest, GroupCodesSetTheModeAndUnknownCodesDoNothing) {
    auto w = Make(recorder);
    EXPECT_FALSE(w->Start(2));
    EXPECT_EQ(RegisteredProgressWindow(), nullptr);
    ASSERT_TRUE(w->Start(OperationCode::kGroupCompare));
    EXPECT_EQ(device.groupMode, 3);
    EXPECT_TRUE(device.groupEvent.IsSet());
    EXPECT_EQ(recorder.title, "Идет сравнение группы значений параметров");
}

TEST_F(ProgressWindowTest, ASecondWindowWaitsThenStaysInert) {
    auto first = Make(recorder);
    ASSERT_TRUE(first->Start(OperationCode::kReadAll));
    auto second = Make(other);
    EXPECT_FALSE(second->Start(OperationCode::kWriteAll, true, std::chrono::milliseconds(1)));
    EXPECT_EQ(RegisteredProgressWindow(), first);
    EXPECT_FALSE(device.writeAllEvent.IsSet());
    first->Close();
    EXPECT_TRUE(second->Start(OperationCode::kWriteAll, true, std::chrono::milliseconds(1)));
    EXPECT_EQ(RegisteredProgressWindow(), second);
}

TEST_F(ProgressWindowTest, ButtonAndCheckBox) {
    auto w = Make(recorder);
    ASSERT_TRUE(w->Start(OperationCode::kReadAll, false));
    EXPECT_EQ(w->ButtonText(), ProgressWindow::kStop);
    w->SetAutoClose(true);
    EXPECT_EQ(w->ButtonText(), ProgressWindow::kClose);
    w->SetAutoClose(false);
    EXPECT_EQ(w->ButtonText(), ProgressWindow::kStop);

    // "Остановить" stops the run and becomes "Закрыть"; the window stays.
    w->PressButton();
    EXPECT_TRUE(device.stopEvent.IsSet());
    EXPECT_EQ(w->ButtonText(), ProgressWindow::kClose);
    EXPECT_FALSE(w->IsClosed());
    EXPECT_TRUE(w->Cancelled());
    EXPECT_EQ(Outcome::Flags(), Outcome::kCancelled);
    w->PressButton();
    EXPECT_TRUE(w->IsClosed());

    // A command-line run keeps its button text; a press after the end of the
    // operation is no cancellation.
    Startup().driven = true;
    Outcome::Reset();
    auto w2 = Make(other);
    ASSERT_TRUE(w2->Start(OperationCode::kReadAll));
    w2->SetAutoClose(false);
    EXPECT_EQ(w2->ButtonText(), ProgressWindow::kClose);
    w2->MarkDone();
    w2->PressButton();
    EXPECT_TRUE(w2->IsClosed());
    EXPECT_FALSE(w2->Cancelled());
    EXPECT_EQ(Outcome::Flags(), 0u);
    Startup().driven = false;
}

TEST_F(ProgressWindowTest, ALongLogHandsOnlyTheNewLineToTheRenderer) {
    // Counts what the renderer is handed per line: a renderer that had to
    // redraw the log would receive the old lines again.
    struct Counting : ProgressRenderer {
        void AppendLine(const std::string& text, bool, std::uint32_t, bool) override {
            ++calls;
            bytes += text.size();
        }
        std::size_t calls = 0, bytes = 0;
    } counting;
    auto window = std::make_shared<ProgressWindow>(device, counting);
    windows.push_back(window);
    ASSERT_TRUE(window->Start(OperationCode::kReadAll));
    const std::string line = "  Чтение: in.sl:1 = 1.000";
    for (int i = 0; i < 10000; ++i)
        device.LogLine(line, false, 0, false);
    EXPECT_EQ(counting.calls, 10000u);
    EXPECT_EQ(counting.bytes, 10000 * line.size());
    EXPECT_EQ(window->LineCount(), 10000u);
    EXPECT_EQ(window->LogLength(), 10000 * Utf8Length(line));
    EXPECT_EQ(device.logLength, 10000 * Utf8Length(line));
    window->Close();  // before the renderer goes
}

TEST(ProgressWindowFormat, ElapsedTime) {
    EXPECT_EQ(FormatElapsed(0), "00:00:00");
    EXPECT_EQ(FormatElapsed(3 * 3600 + 25 * 60 + 7), "03:25:07");
    EXPECT_EQ(FormatElapsed(-5), "00:00:00");
}
