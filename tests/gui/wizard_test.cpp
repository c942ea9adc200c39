// The modification wizard: the generic wizard's page and button rules with
// trivial pages, and the three pages against the simulated controller on a
// pseudo-terminal (or a silent one standing for a device that is off).
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "description/device_description.h"
#include "dialogs/modification_wizard.h"
#include "dialogs/network_settings_editor.h"
#include "dialogs/properties_dialog.h"
#include "dialogs/wizard_pages.h"
#include "document/tree_view_rules.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "platform/settings_store.h"
#include "support/message_recorder.h"
#include "support/pty_peer.h"
#include "support/scripted_peer.h"
#include "support/sim_process.h"
#include "support/widget_test_main.h"

namespace fs = std::filesystem;
using Wizard::C0WizDialog;
using Wizard::C0WizPage;
using Wizard::CMasterDlg;

namespace {

// A page that says what it is told to and counts what it is asked.
class TrivialPage : public C0WizPage {
  public:
    explicit TrivialPage(int id) : C0WizPage(id, QString("Страница %1").arg(id)) {}
    void OnCreate() override {
        ++creates;
        edit = new QLineEdit(this);
        Body()->addWidget(edit);
    }
    void OnSetActive() override { ++activations; }
    bool OnKillActive() override {
        ++kills;
        return mayLeave;
    }
    int OnWizardNext() override { return next; }
    int OnWizardBack() override { return back; }
    bool OnWizardFinish() override { return mayFinish; }
    void UpdateData() override { ++updates; }

    bool mayLeave = true;
    bool mayFinish = true;
    int next = 0;
    int back = 0;
    int creates = 0, activations = 0, kills = 0, updates = 0;
    QLineEdit* edit = nullptr;
};

struct TrivialWizard {
    explicit TrivialWizard(int count) : dialog("Проба", nullptr) {
        for (int i = 0; i < count; ++i) {
            pages.push_back(new TrivialPage(100 + i));
            dialog.AddPage(pages.back());
        }
    }
    C0WizDialog dialog;
    std::vector<TrivialPage*> pages;
};

// Keeps whether a box came up under the wait cursor.
class CursorAwareRecorder : public MessageRecorder {
  public:
    using MessageRecorder::MessageRecorder;
    MessageResult Show(const std::string& text, const std::string& caption, MessageIcon icon,
                       MessageButtons buttons) override {
        if (QApplication::overrideCursor()) ++underWaitCursor;
        return MessageRecorder::Show(text, caption, icon, buttons);
    }
    int underWaitCursor = 0;
};

const CDeviceDescription* Named(const char* alias) {
    return FindDeviceDescription(alias);
}

bool HasBox(const MessageRecorder& boxes, const std::string& text, const std::string& caption,
            bool prefix = false) {
    for (const MessageRecorder::Box& b : boxes.boxes)
        if ((prefix ? b.text.rfind(text, 0) == 0 : b.text == text) && b.caption == caption)
            return true;
    return false;
}

QString Selection(QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? QString() : items.front()->text();
}

// Runs `step` on the modal dialog of type T once it is up.
template <class T, class Step>
void WhenModal(Step step) {
    QTimer::singleShot(0, [step] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) step(*dialog);
    });
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT

  private:
    // The program's COM1 leads to `path`; the document reads its settings.
    void MakeDocument(const std::string& path) {
        SettingsStore::Instance().WriteText("port.COM1", path);
        doc = std::make_unique<CSelvarDoc>();
    }
    bool StartSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--modification", "a1", "--pty"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(SELVAR_SIM, args);
        if (!sim->Running()) return false;
        MakeDocument(sim->Address());
        return true;
    }
    // Shows the wizard and goes on to the modification page.
    std::unique_ptr<CMasterDlg> ToModificationPage(const CDeviceDescription* active) {
        auto wizard = std::make_unique<CMasterDlg>(*doc, active, nullptr);
        wizard->show();
        wizard->NextButton()->click();
        return wizard;
    }

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<PtyPeer> silent;
    std::unique_ptr<CSelvarDoc> doc;

  private slots:
    void initTestCase() { SetLinkPauses({0, 0}); }

    void cleanup() {
        doc.reset();
        sim.reset();
        silent.reset();
        Startup().test = false;
        fs::remove(SettingsStore::Instance().UserPath());
    }

    // --- the generic wizard ---

    void startShowsTheFirstPageWithItsButtons() {
        TrivialWizard w(3);
        w.dialog.show();
        QCOMPARE(w.dialog.CurrentIndex(), 0);
        QCOMPARE(w.pages[0]->activations, 1);
        QCOMPARE(w.pages[1]->creates, 0);  // created when first shown
        QVERIFY(!w.dialog.BackButton()->isEnabled());
        QVERIFY(w.dialog.NextButton()->isEnabled());
        QVERIFY(!w.dialog.FinishButton()->isEnabled());

        TrivialWizard single(1);
        single.dialog.show();
        QVERIFY(!single.dialog.NextButton()->isEnabled());
        QVERIFY(single.dialog.FinishButton()->isEnabled());
    }

    void aPageRefusingToBeLeftKeepsIt() {
        TrivialWizard w(2);
        w.dialog.show();
        w.pages[0]->mayLeave = false;
        w.dialog.NextButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 0);
        QVERIFY(w.pages[0]->IsActive());
        QVERIFY(!w.pages[1]->IsActive());
        QVERIFY(!w.dialog.BackButton()->isEnabled());
        QCOMPARE(w.pages[1]->activations, 0);

        w.pages[0]->mayLeave = true;
        w.dialog.NextButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 1);
        // Refusing "Готово" as well: the wizard stays open.
        w.pages[1]->mayLeave = false;
        w.dialog.FinishButton()->click();
        QVERIFY(w.dialog.isVisible());
        QCOMPARE(w.pages[1]->updates, 0);
    }

    void nextAndBackFollowThePagesChoicesAndSkipFlags() {
        TrivialWizard w(4);
        w.pages[1]->skip = true;
        w.dialog.show();

        w.dialog.NextButton()->click();  // 0 → 2, past the skipped page
        QCOMPARE(w.dialog.CurrentIndex(), 2);
        QCOMPARE(w.pages[1]->creates, 0);
        QVERIFY(w.dialog.BackButton()->isEnabled());
        QVERIFY(w.dialog.NextButton()->isEnabled());

        w.pages[2]->next = -1;  // stay
        w.dialog.NextButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 2);

        w.pages[2]->next = 103;  // by identifier: the last page
        w.dialog.NextButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 3);
        QVERIFY(!w.dialog.NextButton()->isEnabled());
        QVERIFY(w.dialog.FinishButton()->isEnabled());
        QVERIFY(w.dialog.FinishButton()->isDefault());

        w.pages[3]->back = 101;  // a skipped page may still be named
        w.dialog.BackButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 1);
        QVERIFY(!w.dialog.FinishButton()->isEnabled());
        QVERIFY(w.dialog.NextButton()->isEnabled());
        QVERIFY(w.dialog.BackButton()->isEnabled());

        w.dialog.BackButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 0);
        QVERIFY(!w.dialog.BackButton()->isEnabled());

        w.pages[0]->next = 999;  // no such page: stay
        w.dialog.NextButton()->click();
        QCOMPARE(w.dialog.CurrentIndex(), 0);
    }

    void finishAsksEveryCreatedPageThenReadsThem() {
        TrivialWizard w(3);
        w.dialog.show();
        w.dialog.NextButton()->click();
        w.dialog.NextButton()->click();
        w.pages[0]->mayFinish = false;  // a page left behind may still refuse
        w.dialog.FinishButton()->click();
        QVERIFY(w.dialog.isVisible());

        w.pages[0]->mayFinish = true;
        w.dialog.FinishButton()->click();
        QVERIFY(!w.dialog.isVisible());
        QCOMPARE(w.dialog.result(), Wizard::kFinishId);
        for (TrivialPage* p : w.pages)
            QCOMPARE(p->updates, 1);
    }

    void tabAndEnterInsideAPageGoToTheWizardsButtons() {
        TrivialWizard w(2);
        w.dialog.show();
        w.dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.dialog));
        w.pages[0]->edit->setFocus();
        QTest::keyClick(w.pages[0]->edit, Qt::Key_Tab);
        QVERIFY(w.dialog.NextButton()->hasFocus());

        // With the default button disabled the last enabled one takes over.
        w.dialog.NextButton()->setEnabled(false);
        w.pages[0]->edit->setFocus();
        QTest::keyClick(w.pages[0]->edit, Qt::Key_Tab);
        QVERIFY(w.dialog.CancelButton()->hasFocus());
        QVERIFY(w.dialog.CancelButton()->isDefault());

        w.dialog.NextButton()->setEnabled(true);
        w.dialog.CancelButton()->setDefault(false);
        w.dialog.NextButton()->setDefault(true);
        w.pages[0]->edit->setFocus();
        QTest::keyClick(w.pages[0]->edit, Qt::Key_Return);
        QCOMPARE(w.dialog.CurrentIndex(), 1);
    }

    // --- the modification wizard against the controller ---

    void aKnownModificationIsPreselected() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        auto wizard = ToModificationPage(nullptr);
        QCOMPARE(wizard->CurrentIndex(), 1);
        QListWidget* list = wizard->ModificationPage().List();
        QCOMPARE(list->count(), int(DeviceDescriptions().size()));
        QCOMPARE(Selection(list), QString("Селвар-А1"));
        QVERIFY(wizard->NextButton()->isEnabled());
        QVERIFY(boxes.boxes.empty());

        wizard->NextButton()->click();
        QVERIFY(wizard->ModesPage().AutoReadBox()->isChecked());
        QVERIFY(!wizard->ModesPage().AutoWriteBox()->isChecked());
        wizard->FinishButton()->click();
        QCOMPARE(wizard->result(), Wizard::kFinishId);
        QCOMPARE(wizard->Choice().modification, Named("a1"));
        QVERIFY(wizard->Choice().autoRead);
    }

    void withoutADeviceTheUserChooses() {
        silent = std::make_unique<PtyPeer>();
        MakeDocument(silent->Path());
        CursorAwareRecorder boxes;
        auto wizard = ToModificationPage(nullptr);
        QVERIFY(HasBox(boxes, "Связь установить не удалось!", "Ошибка связи"));
        QCOMPARE(boxes.underWaitCursor, 0);
        QVERIFY(!QApplication::overrideCursor());
        QListWidget* list = wizard->ModificationPage().List();
        QCOMPARE(list->count(), int(DeviceDescriptions().size()));
        QVERIFY(list->selectedItems().isEmpty());
        QVERIFY(!wizard->NextButton()->isEnabled());

        list->item(2)->setSelected(true);
        QVERIFY(wizard->NextButton()->isEnabled());
        wizard->NextButton()->click();
        QCOMPARE(wizard->CurrentIndex(), 2);
        QVERIFY(!wizard->ModesPage().AutoReadBox()->isChecked());
        wizard->ModesPage().AutoWriteBox()->setChecked(true);
        wizard->FinishButton()->click();
        const WizardChoice choice = wizard->Choice();
        QCOMPARE(choice.modification, &DeviceDescriptions()[2]);
        QVERIFY(!choice.autoRead);
        QVERIFY(choice.instantWrite);
    }

    void noToAnUnsupportedModificationCancels() {
        QVERIFY(StartSimulator({"--dev", "Прибор"}));
        CursorAwareRecorder boxes(MessageResult::No);
        auto wizard = ToModificationPage(Named("b4"));
        QCOMPARE(boxes.underWaitCursor, 0);
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text,
                 std::string("Данная модификация прибора не поддерживается.\n\nХотите продолжить "
                             "работу с этим прибором?"));
        QCOMPARE(boxes.boxes[0].caption, std::string("Предупреждение"));
        QCOMPARE(int(boxes.boxes[0].buttons), int(MessageButtons::YesNo));
        QTRY_VERIFY(!wizard->isVisible());
        QCOMPARE(wizard->result(), int(QDialog::Rejected));
    }

    void noToADeviceWithoutAVersionCancels() {
        // A device of another kind: it names itself but knows no "p.ver".
        silent = std::make_unique<PtyPeer>();  // stands in until the document exists
        MakeDocument(silent->Path());
        const std::uint16_t devHash = doc->device().FindParameter("dev")->Hash();
        ScriptedPeer other([devHash](const ScriptedPeer::Request& r) -> std::optional<std::string> {
            if (r.Hash() != devHash) return std::nullopt;
            return ScriptedPeer::Answer(r.Hash(), {'Z', 'Y', 'X'});
        });
        doc->device().Port().portName = other.Path();
        CursorAwareRecorder boxes(MessageResult::No);
        auto wizard = ToModificationPage(Named("a1"));
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        QCOMPARE(boxes.boxes[0].text,
                 std::string("Подключенный прибор не поддерживается конфигуратором.\n\nХотите "
                             "продолжить работу с этим прибором?"));
        QCOMPARE(boxes.boxes[0].caption, std::string("Предупреждение"));
        QCOMPARE(int(boxes.boxes[0].icon), int(MessageIcon::Exclamation));
        QTRY_VERIFY(!wizard->isVisible());
        QCOMPARE(wizard->result(), int(QDialog::Rejected));
    }

    void yesToAnUnsupportedModificationLeavesNothingChosen() {
        QVERIFY(StartSimulator({"--pver", "Х9.01"}));
        MessageRecorder boxes(MessageResult::Yes);
        auto wizard = ToModificationPage(Named("b4"));
        QVERIFY(wizard->isVisible());
        QVERIFY(wizard->ModificationPage().List()->selectedItems().isEmpty());
        QVERIFY(!wizard->NextButton()->isEnabled());
        QCOMPARE(wizard->active, nullptr);
    }

    void aStopLeftByAnEarlierOperationDoesNotBlindTheWizard() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        doc->device().stopEvent.Set();
        auto wizard = ToModificationPage(nullptr);
        QCOMPARE(Selection(wizard->ModificationPage().List()), QString("Селвар-А1"));
        QVERIFY(boxes.boxes.empty());
    }

    void autoReadIsOfferedOnlyWhileTheDeviceAnswers() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        auto wizard = ToModificationPage(nullptr);
        wizard->NextButton()->click();
        QVERIFY(wizard->ModesPage().AutoReadBox()->isChecked());
        // The device goes away: the "dev" read before still holds its value.
        sim.reset();
        wizard->BackButton()->click();
        QVERIFY(wizard->NextButton()->isEnabled());
        wizard->NextButton()->click();
        QCOMPARE(wizard->CurrentIndex(), 2);
        QVERIFY(!wizard->ModesPage().AutoReadBox()->isChecked());
    }

    void runStartsFromTheModificationInUseOnceThereIsOne() {
        silent = std::make_unique<PtyPeer>();
        MakeDocument(silent->Path());
        MessageRecorder boxes;
        QtModificationWizard wizard(*doc, nullptr);
        QString first = "-", later = "-";
        auto look = [](QString* selection) {
            return [selection](CMasterDlg& w) {
                w.NextButton()->click();
                *selection = Selection(w.ModificationPage().List());
                w.CancelButton()->click();
            };
        };
        // At the program's first start nothing is chosen yet.
        WhenModal<CMasterDlg>(look(&first));
        QVERIFY(!wizard.Run().has_value());
        QCOMPARE(first, QString());

        QVERIFY(doc->SetUpConfiguration(Named("b2"), false));
        QVERIFY(doc->NewDocument());
        WhenModal<CMasterDlg>(look(&later));
        QVERIFY(!wizard.Run().has_value());
        QCOMPARE(later, QString("Селвар-Б2"));
    }

    void theTestOptionClosesTheWizardByItself() {
        silent = std::make_unique<PtyPeer>();
        MakeDocument(silent->Path());
        Startup().test = true;
        QtModificationWizard wizard(*doc, nullptr);
        QVERIFY(!wizard.Run().has_value());
    }

    void runGivesTheChoiceOfAFinishedWizardOnly() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        QtModificationWizard wizard(*doc, nullptr);
        WhenModal<CMasterDlg>([](CMasterDlg& w) {
            w.NextButton()->click();
            w.NextButton()->click();
            w.FinishButton()->click();
        });
        std::optional<WizardChoice> choice = wizard.Run();
        QVERIFY(choice.has_value());
        QCOMPARE(choice->modification, Named("a1"));
        QVERIFY(choice->autoRead);

        WhenModal<CMasterDlg>([](CMasterDlg& w) { w.CancelButton()->click(); });
        QVERIFY(!wizard.Run().has_value());
    }

    // --- page 1: the program's line settings ---

    void theSettingsFieldShowsAndChangesTheProgramsSettings() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        CMasterDlg wizard(*doc, nullptr, nullptr);
        wizard.show();
        QPlainTextEdit* field = wizard.ConnectionPage().SettingsField();
        QVERIFY(field->isReadOnly());
        QVERIFY(field->toPlainText().contains("Скорость: 9600"));
        QVERIFY(field->toPlainText().contains("COM-порт: COM1"));

        WhenModal<Dialogs::CBlockPropertieDialog>([](Dialogs::CBlockPropertieDialog& d) {
            d.Commit(d.RowOf("bPS"), TreeView::Column::kValue, "19200");
            d.accept();
        });
        wizard.ConnectionPage().ChangeButton()->click();
        QVERIFY(field->toPlainText().contains("Скорость: 19200"));
        QCOMPARE(SettingsStore::Instance().ReadNumber("baud_rate", 0), 19200);
        QCOMPARE(doc->device().Port().speed, 19200);
        QVERIFY(boxes.boxes.empty());  // the port reopened

        wizard.ConnectionPage().CheckButton()->click();
        QVERIFY(HasBox(boxes, "Прибор: Селвар\n(Модификация: А1.03)\nВерсия прошивки: 2.07\n",
                       "Проверка прибора", true));
    }

    void theSettingsEditorRefusesWhatTheDeviceCannotDo() {
        const SettingValues good{{"bPS", "9600"}, {"LEn", "8"},   {"PrtY", "No Parity"},
                                 {"Sbit", "2"},   {"A.Len", "8"}, {"Addr", "255"}};
        QCOMPARE(RefuseProgramSettings(good), std::string());
        SettingValues even = good;
        even[2].second = "Even";
        QCOMPARE(RefuseProgramSettings(even),
                 std::string("Заданные сетевые настройки не поддерживаются прибором!"));
        SettingValues far = good;
        far[5].second = "300";
        QCOMPARE(RefuseProgramSettings(far),
                 std::string("Нельзя что бы адрес был >255 если длина адреса 8 бит!"));
        far[4].second = "11";
        QCOMPARE(RefuseProgramSettings(far), std::string());

        // The dialog keeps a refused choice open and stores nothing.
        Elements::NetRS485prg settings;
        NetworkSettingsEditor editor(settings, nullptr);
        QCOMPARE(editor.Values().size(), settings.parameters.size());
        QCOMPARE(editor.Values()[2].second, settings.GetValue("PrtY"));
        static_cast<QComboBox*>(editor.Editor("Sbit"))->setCurrentText("2");
        static_cast<QComboBox*>(editor.Editor("PrtY"))->setCurrentText("Odd");
        MessageRecorder boxes;
        editor.show();
        const QString shots = qEnvironmentVariable("SELVAR_WIZARD_SHOTS");
        if (!shots.isEmpty()) editor.grab().save(shots + "/settings-editor.png");
        editor.accept();
        QVERIFY(editor.isVisible());
        QCOMPARE(boxes.boxes.size(), std::size_t(1));
        static_cast<QComboBox*>(editor.Editor("Port"))->setCurrentText("/dev/ttyUSB0");
        static_cast<QComboBox*>(editor.Editor("PrtY"))->setCurrentText("No Parity");
        editor.accept();
        QVERIFY(editor.isVisible());  // a port must be a COM name to be kept
    }

    // --- the look ---

    void everyPageShowsItsTextsWhole() {
        QVERIFY(StartSimulator());
        MessageRecorder boxes;
        CMasterDlg wizard(*doc, nullptr, nullptr);
        wizard.show();
        const QString shots = qEnvironmentVariable("SELVAR_WIZARD_SHOTS");
        for (int i = 0; i < wizard.PageCount(); ++i) {
            if (i > 0) wizard.NextButton()->click();
            C0WizPage* page = wizard.CurrentPage();
            QCOMPARE(wizard.CurrentIndex(), i);
            QVERIFY(page->TitleLabel()->font().bold());
            QCOMPARE(page->palette().color(QPalette::Window), QColor(Qt::white));
            QCoreApplication::processEvents();
            for (QLabel* label : page->findChildren<QLabel*>()) {
                if (!label->wordWrap()) continue;
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->text()));
            }
            for (QCheckBox* box : page->findChildren<QCheckBox*>()) {
                QVERIFY2(box->width() >= box->sizeHint().width(), qPrintable(box->text()));
                QVERIFY2(box->height() >= box->sizeHint().height(), qPrintable(box->text()));
            }
            const QImage shot = wizard.grab().toImage();
            // The side picture runs down the whole page.
            QWidget* picture = page->findChild<QWidget*>("picture");
            const QPoint low = picture->mapTo(&wizard, QPoint(2, picture->height() - 2));
            QVERIFY(shot.pixelColor(low) != QColor(Qt::white));
            if (!shots.isEmpty()) shot.save(QString("%1/wizard-page%2.png").arg(shots).arg(i + 1));
        }
    }
};

int main(int argc, char** argv) {
    return RunWidgetTest<WizardTest>(argc, argv, "wizard-test");
}

#include "wizard_test.moc"
