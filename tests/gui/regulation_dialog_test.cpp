// The regulation dialog against the simulated controller. With SELVAR_SHOTS
// set to a folder the dialog is also rendered there, objects running and
// stopped, as a picture to look at.
#include "dialogs/regulation_dialog.h"

#include <unistd.h>

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "controls/table_ctrl.h"
#include "description/device_description.h"
#include "device/device.h"
#include "device/program_modes.h"
#include "document/selvar_doc.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/pty_peer.h"
#include "support/sim_process.h"
#include "support/widget_test_main.h"

namespace fs = std::filesystem;

namespace {

void Shot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("SELVAR_SHOTS");
    if (dir.isEmpty()) return;
    QCoreApplication::processEvents();
    w.grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name));
}

int Count(const MessageRecorder& boxes, const char* text) {
    int n = 0;
    for (const MessageRecorder::Box& b : boxes.boxes)
        if (b.text == text) ++n;
    return n;
}

}  // namespace

class RegulationDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<CSelvarDoc> doc_;

    // A document of the modification on the simulator of it.
    bool Connect(const char* alias) {
        sim_ = std::make_unique<SimProcess>(
            SELVAR_SIM, std::vector<std::string>{"--modification", alias, "--pty"});
        if (!sim_->Running()) return false;
        doc_ = std::make_unique<CSelvarDoc>();
        if (!doc_->SetUpConfiguration(FindDeviceDescription(alias), false)) return false;
        doc_->device().Port().portName = sim_->Address();
        doc_->device().Port().speed = 115200;
        return true;
    }
    // Waits until every object was refreshed once more.
    static void CycleOnce(Dialogs::CRegulDlg& d) {
        const int until = d.Refreshes() + Regulation::kObjects;
        QTRY_VERIFY_WITH_TIMEOUT(d.Refreshes() >= until, 20000);
    }

  private slots:
    void initTestCase() {
        SetLinkPauses({0, 0});
        Startup().noPort = false;
        Modes().instantWrite = false;
    }
    void init() { ResetConsecutiveTimeouts(); }
    void cleanup() {
        doc_.reset();
        sim_.reset();
    }

    void withoutStateParameterNoDialogIsMade() {
        MessageRecorder boxes;
        CSelvarDoc doc;
        doc.device().Table().Allocate(1);
        doc.device().Table().At(0)->name = "str.s";
        QVERIFY(Dialogs::CRegulDlg::Create(doc) == nullptr);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text, std::string("Не найден параметр \"r.st\"!"));
    }

    void opensWithTheObjectsAndDisablesThoseWithoutChannels() {
        QVERIFY(Connect("b2"));
        MessageRecorder boxes;
        auto d = Dialogs::CRegulDlg::Create(*doc_);
        QVERIFY(d);
        d->show();
        d->Open();
        myClass::CTableCtrl* t = d->Table();
        QCOMPARE(t->columnCount(), 4);
        QStringList titles;
        for (int c = 0; c < 4; ++c)
            titles << t->horizontalHeaderItem(c)->text();
        QCOMPARE(titles, QStringList({"№ объекта", "Описание", "Параметр", "Значение"}));
        QCOMPARE(t->rowCount(), 8);
        QCOMPARE(t->CellText(7, 0), QStringLiteral("8"));
        QCOMPARE(t->CellText(1, 1), QString::fromUtf8("Состояние объекта №2"));
        QCOMPARE(t->CellText(1, 2), QStringLiteral("r.St"));
        QCOMPARE(t->rowHeight(0), Dialogs::CRegulDlg::kRowHeight);
        QCOMPARE(int(t->item(0, 1)->textAlignment()), int(Qt::AlignCenter));
        // The description's column is three times the number's.
        QVERIFY(qAbs(t->columnWidth(1) - 3 * t->columnWidth(0)) <= 3);

        QCOMPARE(d->NetworkStartBox()->count(), 2);
        QCOMPARE(d->NetworkStartBox()->currentText(), QString::fromUtf8("Разрешен"));

        QTRY_VERIFY_WITH_TIMEOUT(t->RowDisabled(7), 20000);
        for (int k = 2; k < 8; ++k)
            QVERIFY2(t->RowDisabled(k), qPrintable(QString::number(k)));
        QVERIFY(!t->RowDisabled(0));
        QVERIFY(!t->RowDisabled(1));
        CycleOnce(*d);
        QCOMPARE(t->CellText(0, 3), QString::fromUtf8("Работа"));
        QCOMPARE(t->CellText(5, 3), QString::fromUtf8("Стоп"));
        QVERIFY(boxes.boxes.empty());
    }

    void startAndStopFollowTheSelectedObject() {
        QVERIFY(Connect("b4"));  // eight objects, all with channels
        MessageRecorder boxes;
        auto d = Dialogs::CRegulDlg::Create(*doc_);
        d->show();
        d->Open();
        CycleOnce(*d);
        d->StartButton()->click();
        QCOMPARE(Count(boxes, "Нет выделенного параметра!"), 1);
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Information);

        for (int k : {2, 5}) {
            d->Table()->selectRow(k);
            QCOMPARE(d->SelectedRow(), k);
            d->StopButton()->click();
        }
        CycleOnce(*d);
        CycleOnce(*d);
        QCOMPARE(d->Table()->CellText(2, 3), QString::fromUtf8("Стоп"));
        QCOMPARE(d->Table()->CellText(5, 3), QString::fromUtf8("Стоп"));
        QCOMPARE(d->Table()->CellText(4, 3), QString::fromUtf8("Работа"));
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        d->Table()->selectRow(4);
        Shot(*d, "regulation.png");
    }

    void aStopTheDeviceIgnoresIsRetriedTwiceThenReported() {
        QVERIFY(Connect("b4"));
        MessageRecorder boxes;
        auto d = Dialogs::CRegulDlg::Create(*doc_);
        d->show();
        d->Open();
        // The user forbids control over the network.
        d->NetworkStartBox()->setCurrentIndex(0);
        emit d->NetworkStartBox()->activated(0);
        Parameter* strs = doc_->device().FindParameter("str.s");
        strs->value = "?";
        QCOMPARE(doc_->device().ReadParameter(*strs), 0);
        QCOMPARE(strs->value, std::string("Запрещен"));

        d->Table()->selectRow(3);
        d->StopButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), std::size_t(1), 20000);
        QCOMPARE(boxes.boxes[0].text, std::string(Regulation::kStopFailed));
        QCOMPARE(boxes.boxes[0].caption, std::string("Ошибка"));
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Exclamation);
        QCOMPARE(d->Control().Retries(3), 2);
        QCOMPARE(d->Table()->CellText(3, 3), QString::fromUtf8("Работа"));
    }

    void cancelWaitsForTheRunningExchangeThenCloses() {
        // A device that never answers: the first channel count is on the
        // line when "Отмена" is pressed.
        PtyPeer silent;
        MessageRecorder boxes;
        doc_ = std::make_unique<CSelvarDoc>();
        QVERIFY(doc_->SetUpConfiguration(FindDeviceDescription("b4"), false));
        doc_->device().Port().portName = silent.Path();
        doc_->device().Port().speed = 115200;
        auto d = Dialogs::CRegulDlg::Create(*doc_);
        QSignalSpy rejected(d.get(), &QDialog::rejected);
        d->show();
        d->Open();
        QVERIFY(!silent.ReadRequest().empty());
        d->CancelButton()->click();
        QVERIFY(!d->CancelButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(rejected.count(), 1, 20000);
        QVERIFY(!d->isVisible());
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(d->Refreshes(), 0);

        // Closing the window at once, while the line is busy, is safe too.
        auto again = Dialogs::CRegulDlg::Create(*doc_);
        again->show();
        again->Open();
        QVERIFY(!silent.ReadRequest().empty());
        again.reset();
        QCoreApplication::processEvents();
    }

    void cancelWithoutWatchingClosesAtOnce() {
        QVERIFY(Connect("a1"));
        auto d = Dialogs::CRegulDlg::Create(*doc_);
        d->show();
        d->reject();
        QVERIFY(!d->isVisible());
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<RegulationDialogTest>(argc, argv, "regulation-test");
}

#include "regulation_dialog_test.moc"
