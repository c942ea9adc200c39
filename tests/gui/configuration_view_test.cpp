// The configuration view over the largest modification: typing into its real
// editors, the rows without a port, the error search, connector jumps, the
// search field, and against the simulated controller a whole read, reading
// on expand and polled values arriving while another row is edited.
#include "views/configuration_view.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "device/exchange_operations.h"
#include "device/polling.h"
#include "device/program_modes.h"
#include "document/selvar_doc.h"
#include "document/tree_view_rules.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "support/message_recorder.h"
#include "support/sim_process.h"

namespace fs = std::filesystem;
using TreeList::CheckState;
using TreeList::CTLItem;
namespace Column = TreeView::Column;

namespace {

bool HasBox(const MessageRecorder& boxes, const std::string& text, const std::string& caption) {
    for (const MessageRecorder::Box& b : boxes.boxes)
        if (b.text.rfind(text, 0) == 0 && b.caption == caption) return true;
    return false;
}

Parameter* ParameterOf(const CTLItem* item) {
    return item && item->Kind() == static_cast<int>(RowKind::Parameter)
               ? static_cast<Parameter*>(item->Object())
               : nullptr;
}

// Polled values reach the view as in the program: the polling thread's
// ticket is delivered on this thread.
class ViewNotices : public MainWindowNotifications {
  public:
    COrvinTreeListView* view = nullptr;
    QObject* context = nullptr;
    void OperativeValueRead(Parameter& p) override {
        if (view) view->OnOperativeValue(p);
    }
    void OperativeValueReady(const OperativeValueTicket& ticket) override {
        QMetaObject::invokeMethod(
            context, [ticket] { ticket.Deliver(); }, Qt::QueuedConnection);
    }
};

}  // namespace

class ConfigurationViewTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CSelvarDoc> doc;
    std::unique_ptr<COrvinTreeListView> view;
    std::unique_ptr<QAbstractItemModelTester> tester;
    ViewNotices notices;

    // b4 with the program's port on the simulator (or on nothing).
    void Open(bool withDevice, bool checkModel = false) {
        if (withDevice) {
            sim = std::make_unique<SimProcess>(
                SELVAR_SIM, std::vector<std::string>{"--modification", "b4", "--pty"});
            QVERIFY(sim->Running());
            SettingsStore::Instance().WriteText("port.COM1", sim->Address());
            // A converter that switches itself: whole frames at once, not
            // one character a character time apart as with a switched one.
            SettingsStore::Instance().WriteNumber("RS485type", 1);
        } else {
            SettingsStore::Instance().WriteText("port.COM1", "/nonexistent/selvar-test-port");
        }
        doc = std::make_unique<CSelvarDoc>();
        QVERIFY(doc->SetUpConfiguration(FindDeviceDescription("b4"), false));
        QVERIFY(doc->NewDocument());
        // Without a device nothing is read when a branch opens.
        Modes().autoRead = withDevice;
        view = std::make_unique<COrvinTreeListView>(*doc);
        if (checkModel)
            tester = std::make_unique<QAbstractItemModelTester>(
                view->Tree().Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        doc->views = view.get();
        notices.view = view.get();
        notices.context = view.get();
        SetMainWindowNotifications(&notices);
        view->resize(1280, 800);
        view->show();
        view->Refresh(true);
    }

    CTLItem* Find(const std::function<bool(const Parameter&)>& match, CTLItem* under = nullptr) {
        return view->Tree().FindItem(under ? under : view->ConfigurationRow(),
                                     [&](const CTLItem& item) {
                                         const Parameter* p = ParameterOf(&item);
                                         return p && match(*p);
                                     });
    }
    CTLItem* FindWritable(const char* type, CTLItem* under = nullptr) {
        return Find(
            [type](const Parameter& p) {
                return EqualsNoCase(p.type, type) && p.CanWrite() && !TreeView::IsOperative(p);
            },
            under);
    }
    // Opens the value cell's edit box, types (or pastes) the text and ends
    // the edit with Enter.
    void Enter(CTLItem* item, int column, const QString& typed, bool paste = false) {
        view->EditCell(item, column);
        TreeList::CTreeListEditBox* box = view->Tree().EditBox();
        QVERIFY(box);
        if (paste) {
            box->setText(typed);
        } else {
            box->selectAll();
            QTest::keyClicks(box, typed);
        }
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(!view->Tree().EditorOpen());
    }

  private slots:
    void initTestCase() {
        SetLinkPauses({0, 0});
        COrvinTreeListView::SetBuildPause(std::chrono::milliseconds(0));
        SetFinishPause(std::chrono::milliseconds(0));
    }

    void cleanup() {
        // The document first: its teardown tells the view to forget its rows.
        doc.reset();
        SetMainWindowNotifications(nullptr);
        tester.reset();
        view.reset();
        sim.reset();
        Startup().noPort = false;
        Modes().autoRead = true;
        Modes().instantWrite = false;
        fs::remove(SettingsStore::Instance().UserPath());
    }

    // --- the rows ---

    void rowsFromTheTopAndColumns() {
        Open(false, true);
        CTLItem* root = view->RootRow();
        QVERIFY(root);
        QVERIFY(root->Text(0).startsWith(QString::fromUtf8("Конфигурация Селвар-Б4(")));
        QCOMPARE(root->ChildCount(), 3);
        QCOMPARE(root->Child(0), view->ConfigurationRow());
        QCOMPARE(root->Child(1), view->OperativeRow());
        QCOMPARE(root->Child(2)->Text(0), QString::fromUtf8("Параметры компьютера"));
        QVERIFY(view->Tree().IsExpanded(root));
        QVERIFY(view->Tree().IsExpanded(view->ConfigurationRow()));
        // The configuration row is a folder: expanded, it shows the open one.
        QCOMPARE(view->ConfigurationRow()->Image(), TreeView::Image::kFolderOpen);
        view->Tree().ExpandItem(view->ConfigurationRow(), false);
        QCOMPARE(view->ConfigurationRow()->Image(), TreeView::Image::kFolderClosed);

        CTLItem* op = view->OperativeRow();
        QCOMPARE(op->Child(0)->Text(0), QString::fromUtf8("     Имя параметра"));
        QCOMPARE(op->Child(0)->Text(1), QString::fromUtf8("Период, мс"));
        QCOMPARE(op->Child(1), view->ProtocolRow());
        QCOMPARE(view->ProtocolRow()->Check(), CheckState::Unchecked);
        CTLItem* polled = Find([](const Parameter& p) { return TreeView::IsOperative(p); }, op);
        QVERIFY(polled);
        QCOMPARE(polled->Check(), CheckState::Unchecked);
        QCOMPARE(polled->Text(1), QString::number(ParameterOf(polled)->pollPeriod));

        // "nPC" comes before its siblings.
        if (CTLItem* npc = Find([](const Parameter& p) { return p.name == "nPC"; }))
            QCOMPARE(npc->Row(), 0);

        // Every header names its column and the columns fill the width.
        QHeaderView* header = view->Tree().header();
        QCOMPARE(header->count(), TreeView::kColumnCount);
        QCOMPARE(view->Tree().Model()->headerData(8, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString::fromUtf8("Ошибки обмена и несоответствия"));
        const auto widths = TreeView::ColumnWidths(view->width());
        int total = 0;
        for (int i = 0; i < TreeView::kColumnCount; ++i) {
            total += header->sectionSize(i);
            // No header is cut short.
            QVERIFY(header->sectionSize(i) >=
                    header->fontMetrics().horizontalAdvance(
                        view->Tree()
                            .Model()
                            ->headerData(i, Qt::Horizontal, Qt::DisplayRole)
                            .toString()));
        }
        QCOMPARE(header->sectionSize(0), widths[0]);
        QCOMPARE(header->sectionSize(1), widths[1]);
        QVERIFY(total <= view->width());
        // Until the user sets one, the widths follow the view.
        view->resize(1000, 600);
        QCOMPARE(header->sectionSize(0), TreeView::ColumnWidths(1000)[0]);
    }

    void rangesAndColours() {
        Open(false);
        // Equal bounds: no range, unless the type is a list of labels.
        CTLItem* plain = Find([](const Parameter& p) {
            return p.minValue == p.maxValue && p.Labels().empty() && !TreeView::IsOperative(p);
        });
        QVERIFY(plain);
        QVERIFY(plain->Text(Column::kMinimum).isEmpty());
        QVERIFY(plain->Text(Column::kMaximum).isEmpty());
        CTLItem* list = Find([](const Parameter& p) {
            return p.minValue == p.maxValue && !p.Labels().empty() &&
                   p.type.find(':') != std::string::npos;
        });
        QVERIFY(list);
        QCOMPARE(list->Text(Column::kMinimum),
                 QString::fromStdString(ParameterOf(list)->Labels().front()));

        CTLItem* row = FindWritable("float");
        Parameter* p = ParameterOf(row);
        p->error = "Знач-е в приборе: 1";
        view->Refresh(false);
        QCOMPARE(row->Colour(), QColor(64, 64, 255));
        // The branch above shows the difference too.
        QCOMPARE(row->Parent()->Colour(), QColor(64, 64, 255));
        p->error = "Таймаут";
        view->Refresh(false);
        QCOMPARE(row->Colour(), QColor(213, 0, 0));
        QCOMPARE(row->Text(Column::kErrors), QString::fromUtf8("Таймаут"));
        p->error.clear();
        p->needUpdate = true;
        view->Refresh(false);
        QCOMPARE(row->Colour(), QColor(0, 187, 0));

        // No data: value and marks gone, the window-text colour again.
        p->error = "Таймаут";
        view->Refresh(false);
        view->Tree().SelectItem(row);
        view->OnMenuCommand(TreeView::MenuCommand::kSetNoData);
        QCOMPARE(p->value, std::string("Нет данных"));
        QVERIFY(p->error.empty() && !p->needUpdate);
        QVERIFY(!row->Colour().isValid());
        QCOMPARE(row->Text(Column::kValue), QString::fromUtf8("Нет данных"));

        MessageRecorder boxes;
        view->Tree().SelectItem(view->ComputerRow());
        view->OnMenuCommand(TreeView::MenuCommand::kSetNoData);
        QVERIFY(HasBox(boxes, "Параметр не выделен!", ""));
    }

    // --- editing ---

    void typedTextIsFilteredNormalisedAndCommitted() {
        Open(false);
        Modes().instantWrite = false;
        MessageRecorder boxes;

        CTLItem* real = Find([](const Parameter& p) {
            return EqualsNoCase(p.type, "float") && p.CanWrite() && p.decimals >= 1 &&
                   p.minValue <= 12.5 && p.maxValue >= 12.5 && !TreeView::IsOperative(p);
        });
        QVERIFY(real);
        // Letters and the comma do not get into a number's box ...
        view->EditCell(real, Column::kValue);
        QTest::keyClicks(view->Tree().EditBox(), "1a2,5");
        QCOMPARE(view->Tree().EditBox()->text(), QString("125"));
        QTest::keyClick(view->Tree().EditBox(), Qt::Key_Escape);
        // ... but a pasted comma is read as the point.
        Enter(real, Column::kValue, "12,5", true);
        QVERIFY2(boxes.boxes.empty(), boxes.boxes.empty() ? "" : boxes.boxes.front().text.c_str());
        QCOMPARE(std::stod(ParameterOf(real)->value), 12.5);
        QCOMPARE(real->Text(Column::kValue), QString::fromStdString(ParameterOf(real)->value));
        QCOMPARE(real->Colour(), QColor(0, 187, 0));
        QVERIFY(doc->IsModified());

        CTLItem* minutes = FindWritable("CLK frm");
        QVERIFY(minutes);
        Enter(minutes, Column::kValue, "90");
        QCOMPARE(minutes->Text(Column::kValue), QString("01:30"));

        CTLItem* seconds = FindWritable("time");
        QVERIFY(seconds);
        Enter(seconds, Column::kValue, "3661");
        QCOMPARE(seconds->Text(Column::kValue), QString("01:01:01"));

        // No writable bit string in the description: a byte stands in.
        CTLItem* bits = FindWritable("byte");
        QVERIFY(bits);
        Parameter* b = ParameterOf(bits);
        b->type = "bin";
        b->minValue = b->maxValue = 0;
        Enter(bits, Column::kValue, "1021");  // typed: only 1 and 0 get in
        QCOMPARE(bits->Text(Column::kValue), QString("101"));
        Enter(bits, Column::kValue, "1021", true);
        QCOMPARE(bits->Text(Column::kValue), QString("1001"));

        // Escape drops the text.
        const QString before = seconds->Text(Column::kValue);
        view->EditCell(seconds, Column::kValue);
        QTest::keyClicks(view->Tree().EditBox(), "7");
        QTest::keyClick(view->Tree().EditBox(), Qt::Key_Escape);
        QCOMPARE(seconds->Text(Column::kValue), before);

        // A refused text: the box, and the cell as it was.
        boxes.boxes.clear();
        Enter(real, Column::kValue, "99999999");
        QVERIFY(HasBox(boxes, "Параметру '", "Не удалось изменить параметр"));
        QCOMPARE(real->Text(Column::kValue), QString::fromStdString(ParameterOf(real)->value));
        QCOMPARE(std::stod(ParameterOf(real)->value), 12.5);
    }

    void aListChoosesAmongTheLabels() {
        Open(false);
        CTLItem* row = Find([](const Parameter& p) {
            return p.CanWrite() && p.Labels().size() >= 2 && !TreeView::IsOperative(p) &&
                   p.type.find(':') != std::string::npos;
        });
        QVERIFY(row);
        view->EditCell(row, Column::kValue);
        QComboBox* combo = view->Tree().ComboBox();
        QVERIFY(combo);
        QCOMPARE(combo->count(), static_cast<int>(ParameterOf(row)->Labels().size()));
        combo->hidePopup();
        combo->setCurrentIndex(1);
        QTest::keyClick(combo, Qt::Key_Return);
        QCOMPARE(row->Text(Column::kValue), QString::fromStdString(ParameterOf(row)->Labels()[1]));
        // Other columns and the tree column open nothing.
        view->EditCell(row, Column::kName);
        QVERIFY(!view->Tree().EditorOpen());
    }

    void thePollingPeriodKeepsItsLowerBound() {
        Open(false);
        MessageRecorder boxes;
        CTLItem* row =
            Find([](const Parameter& p) { return TreeView::IsOperative(p); }, view->OperativeRow());
        QVERIFY(row);
        Parameter* p = ParameterOf(row);
        // The description has no writable operative parameter.
        p->writable = p->treeWritable = true;
        const int old = p->pollPeriod;
        Enter(row, Column::kValue, "999");
        QVERIFY(HasBox(boxes, Polling::kPeriodRefused, Polling::kPeriodCaption));
        QCOMPARE(p->pollPeriod, old);
        QCOMPARE(row->Text(Column::kValue), QString::number(old));
        boxes.boxes.clear();
        Enter(row, Column::kValue, "1000");
        QVERIFY(boxes.boxes.empty());
        QCOMPARE(p->pollPeriod, 1000);
        QCOMPARE(row->Text(Column::kValue), QString("1000"));
        // The period box takes digits only, whatever the value's type.
        Enter(row, Column::kValue, "20x00");
        QCOMPARE(p->pollPeriod, 2000);
    }

    void aRefreshWaitsForTheOpenEditor() {
        Open(false);
        CTLItem* row = FindWritable("float");
        view->EditCell(row, Column::kValue);
        QTest::keyClicks(view->Tree().EditBox(), "3");
        ParameterOf(row)->value = "7.000";
        view->Refresh(false);
        QVERIFY(view->Tree().EditorOpen());
        QCOMPARE(view->Tree().EditBox()->text(), QString("3"));
        QVERIFY(row->Text(Column::kValue) != QString("7.000"));
        view->Tree().CloseEditor(false);
        view->Refresh(false);
        QCOMPARE(row->Text(Column::kValue), QString("7.000"));
    }

    // --- without a port ---

    void noPortMeansNoMenusNoCheckBoxesAndDisabledRows() {
        Startup().noPort = true;
        Open(false);
        QVERIFY(view->OperativeRow()->Disabled());
        QVERIFY(view->ProtocolRow()->Disabled());
        QCOMPARE(view->ProtocolRow()->Check(), CheckState::None);
        CTLItem* polled =
            Find([](const Parameter& p) { return TreeView::IsOperative(p); }, view->OperativeRow());
        QVERIFY(polled->Disabled());
        QCOMPARE(polled->Check(), CheckState::None);
        view->EditCell(polled, Column::kValue);
        QVERIFY(!view->Tree().EditorOpen());
        CTLItem* computer = view->ComputerRow();
        CTLItem* network = computer->Child(computer->ChildCount() - 1);
        QVERIFY(network->Disabled());
        QVERIFY(network->ChildCount() > 0 && network->Child(0)->Disabled());
        QVERIFY(!computer->Child(0)->Disabled());  // the common parameters stay
        QVERIFY(!view->MenuFor(view->ConfigurationRow()));
        QVERIFY(!view->MenuFor(FindWritable("float")));

        // With a port the same rows have both.
        doc.reset();
        view.reset();
        tester.reset();
        Startup().noPort = false;
        Open(false);
        QVERIFY(view->MenuFor(view->ConfigurationRow()));
        QVERIFY(view->MenuFor(FindWritable("float")));
        QVERIFY(!view->MenuFor(view->OperativeRow()));  // the operative part has none
        QVERIFY(!view->OperativeRow()->Disabled());
    }

    // --- searches and jumps ---

    void theErrorSearchStopsAtTheLastError() {
        Open(false);
        CTLItem* first = FindWritable("float");
        CTLItem* second = FindWritable("CLK frm");
        QVERIFY(first && second);
        ParameterOf(first)->error = "Таймаут";
        ParameterOf(second)->error = "Знач-е в приборе: 00:10";
        view->Refresh(false);

        MessageRecorder boxes;
        view->Tree().SelectItem(view->ConfigurationRow());
        view->OnCommand(CommandId::kNextProblem);
        QCOMPARE(view->Tree().SelectedItem(), first);
        view->OnCommand(CommandId::kNextProblem);
        QCOMPARE(view->Tree().SelectedItem(), second);
        QVERIFY(boxes.boxes.empty());
        view->OnCommand(CommandId::kNextProblem);
        QVERIFY(HasBox(boxes, "Больше нет параметров с ошибками!", "Сообщение"));
        QCOMPARE(view->Tree().SelectedItem(), second);
        view->OnCommand(CommandId::kPreviousProblem);
        QCOMPARE(view->Tree().SelectedItem(), first);
    }

    void aConnectorJumpsOnlyToABranchThatExists() {
        Open(false);
        CTLItem* connector = view->Tree().FindItem(view->ConfigurationRow(), [](const CTLItem& i) {
            return i.Kind() == static_cast<int>(RowKind::Connector);
        });
        QVERIFY(connector);
        CTLItem* start = FindWritable("float");
        view->Tree().SelectItem(start);
        view->Tree().SetItemText(connector, Column::kName, QString::fromUtf8("Нет такой ветви"));
        view->JumpToConnectorTarget(connector);
        QCOMPARE(view->Tree().SelectedItem(), start);
        QVERIFY(!view->JumpedRow());

        view->Tree().SetItemText(connector, Column::kName, QString::fromUtf8("канал №2"));
        view->EditCell(connector, Column::kName);  // a double click outside the tree column
        CTLItem* target = view->Tree().SelectedItem();
        QVERIFY(target != start);
        QCOMPARE(target->Text(0), QString::fromUtf8("Канал №2"));
        QCOMPARE(view->JumpedRow(), target);
        QVERIFY(view->Tree().IsExpanded(target->Parent()));
    }

    void theSearchFieldFindsByNameLabelAndDescription() {
        Open(false);
        view->FocusSearch();
        QTest::keyClicks(view->SearchField(), "R.CN");
        QVERIFY(!view->Matches().empty());
        QCOMPARE(view->SearchCount()->text(),
                 QString::fromUtf8("Найдено: %1").arg(view->Matches().size()));
        QTest::keyClick(view->SearchField(), Qt::Key_Return);
        CTLItem* found = view->Tree().SelectedItem();
        QCOMPARE(ParameterOf(found)->name, std::string("r.cn"));
        QVERIFY(view->Tree().IsExpanded(found->Parent()));

        view->SearchField()->setText(QString::fromUtf8("ЗАДЕРЖКА ПЕРЕКЛЮЧЕНИЯ"));
        const auto n = view->Matches().size();
        QVERIFY(n >= 2);
        QTest::keyClick(view->SearchField(), Qt::Key_Return);
        CTLItem* one = view->Tree().SelectedItem();
        QTest::keyClick(view->SearchField(), Qt::Key_F3);
        QVERIFY(view->Tree().SelectedItem() != one);
        QCOMPARE(view->SearchCount()->text(), QString::fromUtf8("2 из %1").arg(n));

        view->SearchField()->setText("zzzz-nothing");
        QCOMPARE(view->SearchCount()->text(), QString::fromUtf8("Не найдено"));
    }

    void theSelectionIsKeptAcrossABuild() {
        Open(false);
        CTLItem* row = FindWritable("CLK frm");
        view->Tree().SelectItem(row);
        const QString label = row->Text(0);
        doc->TearDownConfiguration();
        QVERIFY(!view->RootRow());
        QVERIFY(doc->SetUpConfiguration(FindDeviceDescription("b4"), false));
        view->Refresh(false);
        CTLItem* again = view->Tree().SelectedItem();
        QVERIFY(again);
        QCOMPARE(again->Text(0), label);
    }

    // --- with the device ---

    void aWholeReadThenTheErrorSearchVisitsEveryError() {
        Open(true);
        sim.reset();
        sim = std::make_unique<SimProcess>(
            SELVAR_SIM, std::vector<std::string>{"--modification", "b4", "--pty", "--turnaround",
                                                 "0", "--fault-error", "5:0.04"});
        QVERIFY(sim->Running());
        SettingsStore::Instance().WriteText("port.COM1", sim->Address());
        doc->device().reopen_port();
        MessageRecorder boxes;
        QVERIFY(doc->OnCommand(CommandId::kReadAll));

        // The rows show what was read.
        std::vector<CTLItem*> errorRows;
        int stale = 0;
        view->Tree().FindItem(view->ConfigurationRow(), [&](const CTLItem& item) {
            const Parameter* p = ParameterOf(&item);
            if (p && !p->error.empty()) errorRows.push_back(const_cast<CTLItem*>(&item));
            if (p && item.Text(Column::kValue) != QString::fromStdString(p->value)) ++stale;
            return false;
        });
        QCOMPARE(stale, 0);
        const int withErrors = static_cast<int>(errorRows.size());
        QVERIFY2(withErrors > 0, "the simulator's faults left no error");

        view->Tree().SelectItem(view->ConfigurationRow());
        boxes.boxes.clear();
        std::vector<CTLItem*> visited;
        for (int i = 0; i <= withErrors; ++i) {
            view->OnCommand(CommandId::kNextProblem);
            if (!boxes.boxes.empty()) break;
            visited.push_back(view->Tree().SelectedItem());
        }
        QVERIFY(HasBox(boxes, "Больше нет параметров с ошибками!", "Сообщение"));
        QCOMPARE(visited, errorRows);
    }

    void expandingReadsParametersWithoutData() {
        Open(true);
        Modes().autoRead = true;
        CTLItem* row = FindWritable("CLK frm");
        CTLItem* branch = row->Parent();
        view->Tree().ExpandItem(branch, false);
        QCOMPARE(ParameterOf(row)->value, std::string("Нет данных"));
        view->Tree().ExpandItem(branch, true);  // as the user does
        QVERIFY(view->ExpandReads() > 0);
        QVERIFY(ParameterOf(row)->value != "Нет данных");
        QCOMPARE(row->Text(Column::kValue), QString::fromStdString(ParameterOf(row)->value));
        QVERIFY(!view->ReadingWindow());

        // The program's own expansions read nothing.
        const int reads = view->ExpandReads();
        ParameterOf(row)->value = "Нет данных";
        view->Tree().ExpandItem(branch, false);
        view->Tree().ExpandQuietly(branch);
        QCOMPARE(view->ExpandReads(), reads);
    }

    void polledValuesArriveWhileAnotherRowIsEdited() {
        Open(true);
        CTLItem* polled =
            Find([](const Parameter& p) { return TreeView::IsOperative(p) && p.name != "r.cn"; },
                 view->OperativeRow());
        QVERIFY(polled);
        view->ToggleCheckBox(polled);
        QCOMPARE(polled->Check(), CheckState::Checked);
        QVERIFY(ParameterOf(polled)->polling);
        view->ToggleCheckBox(view->ProtocolRow());
        QVERIFY(doc->recordProtocol);
        QCOMPARE(view->ProtocolRow()->Check(), CheckState::Checked);

        CTLItem* edited = FindWritable("float");
        view->EditCell(edited, Column::kValue);
        QTest::keyClicks(view->Tree().EditBox(), "4.5");
        QTRY_VERIFY_WITH_TIMEOUT(polled->Text(Column::kName) != QString::fromUtf8("Нет данных"),
                                 10000);
        QCOMPARE(polled->Text(Column::kName), QString::fromStdString(ParameterOf(polled)->value));
        QVERIFY(view->Tree().EditorOpen());
        QCOMPARE(view->Tree().EditBox()->text(), QString("4.5"));
        QTest::keyClick(view->Tree().EditBox(), Qt::Key_Return);
        QCOMPARE(std::stod(ParameterOf(edited)->value), 4.5);

        view->ToggleCheckBox(polled);
        QCOMPARE(polled->Check(), CheckState::Unchecked);
        QVERIFY(!ParameterOf(polled)->polling);
        view->ToggleCheckBox(view->ProtocolRow());
        QVERIFY(!doc->recordProtocol);
    }

    // SELVAR_VIEW_SHOTS=DIR: the view drawn in the states a user meets.
    void lookAtIt() {
        const QByteArray dir = qgetenv("SELVAR_VIEW_SHOTS");
        if (dir.isEmpty()) QSKIP("SELVAR_VIEW_SHOTS not set");
        Open(true);
        QDir().mkpath(QString::fromUtf8(dir));
        auto shot = [&](const char* name) {
            QApplication::processEvents();
            view->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
        };
        shot("built");
        CTLItem* row = FindWritable("CLK frm");
        view->Tree().ExpandItem(row->Parent(), true);
        view->Tree().SelectItem(row);
        ParameterOf(FindWritable("float"))->error = "Таймаут";
        ParameterOf(FindWritable("byte"))->needUpdate = true;
        view->Refresh(false);
        shot("expanded");
        view->EditCell(row, Column::kValue);
        QTest::keyClicks(view->Tree().EditBox(), "12");
        shot("editing");
        view->Tree().CloseEditor(false);
        for (int i = 0; i < 4; ++i) {
            CTLItem* polled = view->OperativeRow()->Child(2 + i);
            if (ParameterOf(polled)) view->ToggleCheckBox(polled);
        }
        view->Tree().ExpandItem(view->OperativeRow(), true);
        view->Tree().scrollTo(view->Tree().Model()->IndexOf(view->OperativeRow()),
                              QAbstractItemView::PositionAtTop);
        QTest::qWait(2500);
        shot("polling");
        view->SearchField()->setText("r.cn");
        shot("search");
    }
};

QTEST_MAIN(ConfigurationViewTest)
#include "configuration_view_test.moc"
