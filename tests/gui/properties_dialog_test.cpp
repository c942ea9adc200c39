// The program's network settings dialog, the computer's port chosen from
// what the port map resolves, and the port map's editor. The device and
// kernel folders are fake ones built for the test. With SELVAR_SHOTS set to
// a folder the dialogs are also rendered there.
#include "dialogs/properties_dialog.h"

#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "controls/table_ctrl.h"
#include "dialogs/port_map_dialog.h"
#include "document/selvar_doc.h"
#include "document/tree_view_rules.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "support/message_recorder.h"
#include "support/pty_peer.h"
#include "support/widget_test_main.h"
#include "views/configuration_view.h"

namespace fs = std::filesystem;
using Dialogs::CBlockPropertieDialog;
using Dialogs::CPortDialog;
using Dialogs::CPortMapDialog;
using TreeList::CTLItem;

namespace {

fs::path g_dir;

void Shot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("SELVAR_SHOTS");
    if (dir.isEmpty()) return;
    w.show();
    QCoreApplication::processEvents();
    w.grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name));
}

template <class T, class Step>
void WhenModal(Step step) {
    QTimer::singleShot(0, [step] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) step(*dialog);
    });
}

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

// A USB serial adapter as the kernel shows it, at /dev/ttyUSB0.
void MakeFakeDevices() {
    const fs::path dev = g_dir / "dev";
    const fs::path sys = g_dir / "sys";
    Write(dev / "ttyUSB0", "");
    const fs::path usb = sys / "devices" / "usb1" / "1-1";
    Write(usb / "idVendor", "0403");
    Write(usb / "idProduct", "6001");
    Write(usb / "manufacturer", "FTDI");
    Write(usb / "product", "FT232R USB UART");
    Write(usb / "serial", "A1B2");
    fs::create_directories(usb / "1-1:1.0" / "ttyUSB0");
    fs::create_directories(sys / "class" / "tty" / "ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0", sys / "class" / "tty" / "ttyUSB0" / "device");
    setenv("SELVAR_DEV_ROOT", dev.c_str(), 1);
    setenv("SELVAR_SYS_ROOT", sys.c_str(), 1);
}

// The user's own layer, read alone.
std::string UserValue(const std::string& name) {
    SettingsStore user("", SettingsStore::Instance().UserPath());
    return user.ReadText(name, "<none>");
}

QStringList ListRow(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == name)
            return {list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1)};
    return {};
}

}  // namespace

class PropertiesDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<CSelvarDoc> doc_;

  private slots:
    void initTestCase() {
        SetLinkPauses({0, 0});
        Startup().noPort = false;
        MakeFakeDevices();
    }
    void init() {
        fs::remove(SettingsStore::Instance().UserPath());
        SettingsStore::Instance().WriteText("port.COM7", "tcp://10.0.0.5:4001");
        doc_ = std::make_unique<CSelvarDoc>();
    }
    void cleanup() { doc_.reset(); }

    void showsTheProgramSettingsWithTheirOwnHeader() {
        auto& settings = doc_->device().ProgramSettings();
        int mainRow = 0;
        for (Parameter* p : settings.parameters)
            p->treeItem = &mainRow;
        auto d = std::make_unique<CBlockPropertieDialog>(*doc_, settings, false);
        QCOMPARE(d->windowTitle(),
                 QString::fromUtf8("Свойства блока схемы или отдельной ветви конфигурации"));
        QHeaderView* header = d->Tree()->header();
        QCOMPARE(d->Tree()->ColumnCount(), 3);
        QCOMPARE(d->Tree()->model()->headerData(1, Qt::Horizontal).toString(),
                 QString::fromUtf8("Значение"));
        QCOMPARE(header->sectionSize(0), 280);
        QCOMPARE(header->sectionSize(1), 120);
        QCOMPARE(header->sectionSize(2), 70);
        QCOMPARE(header->height(), header->fontMetrics().height() + 4);
        QCOMPARE(d->Tree()->GridColour(), QColor(200, 200, 200));

        QVERIFY(d->ElementRow());
        QCOMPARE(d->ElementRow()->Text(0), QString::fromUtf8("Сетевые параметры программы"));
        QVERIFY(d->Tree()->IsExpanded(d->ElementRow()));
        QCOMPARE(d->ElementRow()->ChildCount(), 7);
        CTLItem* speed = d->RowOf("bPS");
        QCOMPARE(speed->Text(0), QString::fromUtf8("Скорость обмена"));
        QCOMPARE(speed->Text(1), QStringLiteral("9600"));
        QCOMPARE(speed->Text(2), QStringLiteral("bPS"));
        QCOMPARE(d->RowOf("Port")->Text(1), QStringLiteral("COM1"));
        QVERIFY(!speed->Disabled());

        // The rows are the dialog's while it is open, the main view's after.
        QCOMPARE(settings.FindParameter("bPS")->treeItem, static_cast<void*>(speed));
        Shot(*d, "network-settings.png");
        d->accept();
        for (Parameter* p : settings.parameters)
            QCOMPARE(p->treeItem, static_cast<void*>(&mainRow));
        d.reset();
        for (Parameter* p : settings.parameters)
            p->treeItem = nullptr;
    }

    void withRs232OnlyThePortCanBeChanged() {
        CBlockPropertieDialog d(*doc_, doc_->device().ProgramSettings(), true);
        d.show();
        for (const char* name : {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"}) {
            QVERIFY2(d.RowOf(name)->Disabled(), name);
            d.EditCell(d.RowOf(name), TreeView::Column::kValue);
            QVERIFY(!d.Tree()->EditorOpen());
        }
        QVERIFY(!d.RowOf("Port")->Disabled());
        bool offered = false;
        WhenModal<CPortDialog>([&](CPortDialog& chooser) {
            offered = true;
            chooser.reject();
        });
        d.EditCell(d.RowOf("Port"), TreeView::Column::kValue);
        QVERIFY(offered);
    }

    void editsFollowTheViewsRules() {
        MessageRecorder boxes;
        CBlockPropertieDialog d(*doc_, doc_->device().ProgramSettings(), false);
        d.show();
        d.EditCell(d.RowOf("bPS"), TreeView::Column::kValue);
        QVERIFY(d.Tree()->ComboBox());
        d.Tree()->CloseEditor(false);
        d.Commit(d.RowOf("bPS"), TreeView::Column::kValue, QStringLiteral("19200"));
        QCOMPARE(d.RowOf("bPS")->Text(1), QStringLiteral("19200"));
        QCOMPARE(SettingsStore::Instance().ReadNumber("baud_rate", 0), 19200);

        d.Commit(d.RowOf("Sbit"), TreeView::Column::kValue, QStringLiteral("2"));
        d.Commit(d.RowOf("PrtY"), TreeView::Column::kValue, QStringLiteral("Even"));
        QCOMPARE(d.RowOf("PrtY")->Text(1), QStringLiteral("No Parity"));
        QCOMPARE(doc_->device().ProgramSettings().GetValue("PrtY"), std::string("No Parity"));
        QCOMPARE(boxes.boxes.back().text,
                 std::string("Заданные сетевые настройки не поддерживаются прибором!"));

        QVERIFY(d.OnCommand(153));
        QVERIFY(!d.OnCommand(154));
    }

    void thePortListShowsWhatEachNameStandsFor() {
        CPortDialog chooser("COM1");
        QTreeWidget* list = chooser.List();
        const std::string usb = (g_dir / "dev" / "ttyUSB0").string();
        QCOMPARE(
            ListRow(list, "COM1"),
            QStringList({"COM1", QString::fromStdString(usb) +
                                     QString::fromUtf8(" — FTDI FT232R USB UART, serial A1B2")}));
        QCOMPARE(ListRow(list, "COM7"), QStringList({"COM7", "tcp://10.0.0.5:4001"}));
        QCOMPARE(chooser.Field()->text(), QStringLiteral("COM1"));
        Shot(chooser, "port-list.png");

        // Choosing a row puts its name into the field.
        list->setCurrentItem(list->topLevelItem(1));
        QCOMPARE(chooser.Field()->text(), list->topLevelItem(1)->text(0));
    }

    void aTypedConverterAddressGetsAComNameInTheUsersMap() {
        MessageRecorder boxes;
        CPortDialog chooser("COM1");
        chooser.show();
        chooser.Field()->setText("tcp://10.0.0.9");  // no port number
        chooser.accept();
        QVERIFY(chooser.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));

        // COM1 is the adapter's, so the first free name is COM2.
        chooser.Field()->setText(" tcp://10.0.0.9:4002 ");
        chooser.accept();
        QCOMPARE(chooser.result(), int(QDialog::Accepted));
        QCOMPARE(chooser.Port(), std::string("COM2"));
        QCOMPARE(UserValue("port.COM2"), std::string("tcp://10.0.0.9:4002"));

        // The same address again keeps its name; a mapped one is found too.
        std::string error;
        QCOMPARE(Dialogs::ComNameFor("tcp://10.0.0.9:4002", error), std::string("COM2"));
        QCOMPARE(Dialogs::ComNameFor("tcp://10.0.0.5:4001", error), std::string("COM7"));
        QCOMPARE(Dialogs::ComNameFor("com12", error), std::string("COM12"));
        QCOMPARE(Dialogs::ComNameFor("/dev/ttyS3", error), std::string("COM3"));
        QCOMPARE(Dialogs::ComNameFor("ttyS3", error), std::string());
        QVERIFY(!error.empty());
        QVERIFY(!Dialogs::IsPortTarget("tcp://host:70000"));
        QVERIFY(!Dialogs::IsPortTarget("tcp://:4001"));
    }

    void thePortChosenInTheDialogIsTheProgramsPort() {
        MessageRecorder boxes(MessageResult::No);
        CBlockPropertieDialog d(*doc_, doc_->device().ProgramSettings(), false);
        d.show();
        WhenModal<CPortDialog>([](CPortDialog& chooser) {
            chooser.Field()->setText("/dev/pts/selvar-converter");
            chooser.accept();
        });
        d.EditCell(d.RowOf("Port"), TreeView::Column::kValue);
        QCOMPARE(d.RowOf("Port")->Text(1), QStringLiteral("COM2"));
        QCOMPARE(doc_->device().ProgramSettings().GetValue("Port"), std::string("COM2"));
        QCOMPARE(SettingsStore::Instance().ReadNumber("port_number", 0), 2);
        QCOMPARE(ResolvePortName("COM2"), std::string("/dev/pts/selvar-converter"));
    }

    void thePortMapIsEditedIntoTheUsersLayer() {
        MessageRecorder boxes;
        CPortMapDialog map;
        map.show();
        myClass::CTableCtrl* t = map.Table();
        QCOMPARE(t->rowCount(), 1);
        QCOMPARE(t->CellText(0, 0), QStringLiteral("COM7"));
        QCOMPARE(t->CellText(0, 1), QStringLiteral("tcp://10.0.0.5:4001"));

        map.AddRow();
        t->CloseEditor(false);
        QCOMPARE(t->CellText(1, 0), QStringLiteral("COM1"));
        map.accept();  // an empty device is refused
        QVERIFY(map.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));

        t->SetCellText(1, 1, "/dev/ttyACM3");
        t->selectRow(0);
        map.RemoveRow();
        Shot(map, "port-map.png");
        map.accept();
        QCOMPARE(map.result(), int(QDialog::Accepted));
        QCOMPARE(UserValue("port.COM1"), std::string("/dev/ttyACM3"));
        QCOMPARE(UserValue("port.COM7"), std::string(""));
        QCOMPARE(ResolvePortName("COM7"), (g_dir / "dev" / "ttyUSB6").string());
    }

    void closingReopensThePortWithTheSettings() {
        PtyPeer line;
        SettingsStore::Instance().WriteText("port.COM1", line.Path());
        doc_->device().Port().Close();
        QVERIFY(!doc_->device().Port().IsOpen());
        WhenModal<CBlockPropertieDialog>([](CBlockPropertieDialog& d) { d.reject(); });
        Dialogs::RunProgramNetworkDialog(*doc_, false, nullptr);
        QVERIFY(doc_->device().Port().IsOpen());
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<PropertiesDialogTest>(argc, argv, "properties-test",
                                               [](const fs::path& dir) { g_dir = dir; });
}

#include "properties_dialog_test.moc"
