// The single point dialog, the structure report and the password prompt
// against the simulated controller. With SELVAR_SHOTS set to a folder, each
// dialog is also rendered there as a picture to look at.
#include "dialogs/single_point_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "description/device_description.h"
#include "device/program_modes.h"
#include "dialogs/password_dialog.h"
#include "dialogs/structure_report_dialog.h"
#include "document/access_level.h"
#include "document/selvar_doc.h"
#include "link/sio.h"
#include "platform/app_state.h"
#include "support/message_recorder.h"
#include "support/sim_process.h"

namespace {

QStringList LogLines(const QListWidget* log) {
    QStringList lines;
    for (int i = 0; i < log->count(); ++i)
        lines << log->item(i)->text();
    return lines;
}

void Shot(QWidget& w, const char* name) {
    const QByteArray dir = qgetenv("SELVAR_SHOTS");
    if (dir.isEmpty()) return;
    w.show();
    QCoreApplication::processEvents();
    w.grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name));
}

}  // namespace

class SinglePointDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<CSelvarDoc> doc_;

    void MakeDocument() {
        doc_ = std::make_unique<CSelvarDoc>();
        QVERIFY(doc_->SetUpConfiguration(FindDeviceDescription("a1"), false));
        doc_->device().Port().portName = sim_->Address();
        doc_->device().Port().speed = 115200;
    }

  private slots:
    void initTestCase() {
        SetLinkPauses({0, 0});
        Startup().noPort = false;
        Access::SetLevel(Access::kFull);
        sim_ = std::make_unique<SimProcess>(
            SELVAR_SIM, std::vector<std::string>{"--modification", "a1", "--pty"});
        QVERIFY(sim_->Running());
    }
    void init() { MakeDocument(); }
    void cleanup() { doc_.reset(); }
    void cleanupTestCase() {
        sim_.reset();
        SetLinkPauses({-1, -1});
    }

    void opensWithTheInitialNameDescribed() {
        Dialogs::CSinglePoint d(*doc_);
        QCOMPARE(d.CommandField()->currentText(), QStringLiteral("vEr"));
        QCOMPARE(d.HashField()->text(), QStringLiteral("0x2D5B"));
        QCOMPARE(d.DescriptionField()->text(),
                 QString::fromUtf8("Версия встроенного программного обеспечения (ASCI)"));
        QVERIFY(d.ReadButton()->isChecked());
        QVERIFY(d.ValueField()->isHidden());
        QVERIFY(d.ValueLabel()->isHidden());
        QVERIFY(!d.LinearIndexBox()->isChecked());
        QVERIFY(!d.IndexFromField()->isEnabled());
        QVERIFY(!d.IndexToField()->isEnabled());
        QVERIFY(!d.IndexInAddressButton()->isEnabled());
        QVERIFY(d.IndexInDataButton()->isChecked());
        QCOMPARE(d.IndexFromField()->text(), QStringLiteral("0"));
        QCOMPARE(d.IndexToField()->text(), QStringLiteral("0"));
        QVERIFY(d.IndexFromField()->toolTip().contains(QString::fromUtf8(
            "Начальный индекс параметра, а также индекс, используемый при поиске в дереве.")));
        QCOMPARE(d.IndexToField()->toolTipDuration(), 15000);
        QCOMPARE(d.Log()->count(), 0);

        // Each name once: the indexed "in.t" of every input is one entry.
        QStringList names;
        for (int i = 0; i < d.CommandField()->count(); ++i)
            names << d.CommandField()->itemText(i);
        QCOMPARE(names.count(QStringLiteral("in.t")), 1);
        QVERIFY(names.contains(QStringLiteral("ver")));
    }

    void fieldsFollowTheUser() {
        Dialogs::CSinglePoint d(*doc_);
        // Choosing from the list describes the name and lists its labels.
        d.CommandField()->setCurrentIndex(d.CommandField()->findText(QStringLiteral("in.t")));
        QVERIFY(d.DescriptionField()->text().startsWith(QString::fromUtf8("Тип датчика входа")));
        QVERIFY(d.ValueField()->count() > 2);
        QCOMPARE(d.ValueField()->itemText(1), QString::fromUtf8("\"ТСМ 50М\""));
        // Typing a name the table lacks.
        d.CommandField()->setEditText(QStringLiteral("zz"));
        QCOMPARE(d.DescriptionField()->text(),
                 QString::fromUtf8("<неизвестный параметр> (<тип неопределен>)"));
        QCOMPARE(d.ValueField()->count(), 0);

        d.WriteButton()->click();
        QVERIFY(!d.ValueField()->isHidden());
        d.ReadButton()->click();
        QVERIFY(d.ValueField()->isHidden());

        d.LinearIndexBox()->click();
        QVERIFY(d.IndexFromField()->isEnabled());
        QVERIFY(d.IndexInAddressButton()->isEnabled());
        // The two pairs of radio buttons do not exclude each other.
        d.IndexInAddressButton()->click();
        QVERIFY(d.ReadButton()->isChecked());
        d.WriteButton()->click();
        QVERIFY(d.IndexInAddressButton()->isChecked());

        d.IndexToField()->setText(QStringLiteral("2"));
        QTest::keyClicks(d.IndexFromField(), QStringLiteral("5"));  // "05"
        QCOMPARE(d.IndexToField()->text(), QStringLiteral("05"));
        d.IndexFromField()->setText(QStringLiteral("1"));
        QCOMPARE(d.IndexToField()->text(), QStringLiteral("05"));
    }

    void indexedReadFillsTheLog() {
        Dialogs::CSinglePoint d(*doc_);
        d.CommandField()->setEditText(QStringLiteral("ch.dF"));
        d.LinearIndexBox()->click();
        d.IndexToField()->setText(QStringLiteral("2"));
        d.ExecuteButton()->click();
        const QStringList lines = LogLines(d.Log());
        QCOMPARE(lines.count(QString::fromUtf8("Индекс передается в посылке запроса")), 3);
        QCOMPARE(lines.count(QString::fromUtf8("Нет ошибок; строковая нотация ответа:")), 3);
        QCOMPARE(lines.count(QString()), 3);
        QCOMPARE(lines.first(), QString::fromUtf8("Индекс передается в посылке запроса"));
        QVERIFY(lines.contains(QString::fromUtf8("Размер инф-ой части посылки 2 байт.")));
        QVERIFY(d.Log()->horizontalScrollBar() != nullptr);
        Shot(d, "single_point.png");

        // A run starts a new log.
        d.ExecuteButton()->click();
        QCOMPARE(LogLines(d.Log()).size(), lines.size());
    }

    void findShowsTheRowOrSaysItIsMissing() {
        Dialogs::CSinglePoint d(*doc_);
        const DescBranch* shownBranch = nullptr;
        Parameter* shown = nullptr;
        int restored = 0;
        d.showInTree = [&](const DescBranch& b, Parameter& p) {
            shownBranch = &b;
            shown = &p;
        };
        d.restoreWindow = [&] { ++restored; };
        MessageRecorder boxes;

        d.CommandField()->setEditText(QStringLiteral("IN.F"));
        d.LinearIndexBox()->click();
        d.IndexFromField()->setText(QStringLiteral("1"));
        d.FindButton()->click();
        QVERIFY(boxes.boxes.empty());
        QVERIFY(shown);
        QCOMPARE(shown, doc_->device().FindParameter("in.F", 1));
        QCOMPARE(shownBranch, doc_->ConfigurationTree()->FindOwner(shown));
        QCOMPARE(restored, 1);

        d.IndexFromField()->setText(QStringLiteral("999"));
        shown = nullptr;
        d.FindButton()->click();
        QVERIFY(!shown);
        QCOMPARE(restored, 1);
        QCOMPARE(boxes.boxes.size(), std::size_t{1});
        QCOMPARE(boxes.boxes[0].text,
                 std::string("Данный параметр не найден!\nВозможно, ошибка в индексе параметра."));
        QCOMPARE(boxes.boxes[0].caption, std::string("Сообщение"));
        QCOMPARE(boxes.boxes[0].icon, MessageIcon::Information);
    }

    void structureReportReadsFirstWithoutData() {
        doc_->StartExchange();
        const std::string before = doc_->StructureListing();
        QVERIFY(before.find("Канал №1 <Нет данных>") != std::string::npos);

        // Without automatic reading nothing is read.
        Modes().autoRead = false;
        Dialogs::CReport quiet(*doc_);
        QCOMPARE(quiet.Text()->text(), QString::fromUtf8("[нет данных]"));
        quiet.Prepare();
        QCOMPARE(quiet.Text()->text(), QString::fromStdString(before));

        Modes().autoRead = true;
        Dialogs::CReport report(*doc_);
        report.Prepare();
        const QString after = report.Text()->text();
        QVERIFY(after != QString::fromStdString(before));
        QVERIFY(after.contains(QString::fromUtf8("Канал №1 принадлежит объекту №1")));
        Shot(report, "structure_report.png");

        // "Перечитать" asks the device again: a changed entry shows.
        Parameter* first = nullptr;
        for (Parameter* p : doc_->device().structure)
            if (p && !first) first = p;
        QVERIFY(first);
        first->value = MyConverter::kNoData;
        QVERIFY(QString::fromStdString(doc_->StructureListing())
                    .contains(QString::fromUtf8("Нет данных")));
        report.RereadButton()->click();
        QCOMPARE(report.Text()->text(), after);
        Modes().autoRead = false;
    }

    void passwordPromptIsMaskedAndAnswers() {
        Dialogs::CPasswordDlg d(QStringLiteral("?"));
        QCOMPARE(d.windowTitle(), QString::fromUtf8("Пароль на доступ"));
        QCOMPARE(d.Edit()->echoMode(), QLineEdit::Password);
        QCOMPARE(d.Edit()->maxLength(), 255);
        QCOMPARE(d.OkButton()->text(), QStringLiteral("OK"));
        QCOMPARE(d.CancelButton()->text(), QString::fromUtf8("Отмена"));

        QtPasswordPrompt prompt(nullptr);
        bool focused = false;
        auto answer = [&focused](bool ok) {
            QTimer::singleShot(0, [&focused, ok] {
                auto* dialog =
                    qobject_cast<Dialogs::CPasswordDlg*>(QApplication::activeModalWidget());
                if (!dialog) return;
                focused = dialog->focusWidget() == dialog->Edit();
                QTest::keyClicks(dialog->Edit(), QStringLiteral("Secret7"));
                (ok ? dialog->OkButton() : dialog->CancelButton())->click();
            });
        };
        answer(true);
        QCOMPARE(prompt.Ask("Для получения доступа требуется ввести пароль:"),
                 std::optional<std::string>("Secret7"));
        QVERIFY(focused);
        answer(false);
        QCOMPARE(prompt.Ask("?"), std::optional<std::string>());

        Dialogs::CPasswordDlg shown(QString::fromUtf8(
            "Конфигурация была создана на полном или среднем уровне доступа.\n\nДля получения "
            "доступа требуется ввести пароль:"));
        Shot(shown, "password.png");
    }
};

QTEST_MAIN(SinglePointDialogTest)
#include "single_point_dialog_test.moc"
