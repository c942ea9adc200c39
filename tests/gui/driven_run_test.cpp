// Driven runs of the built program, started as a driving program starts it:
// real processes, offscreen, against the simulated controller on a
// pseudo-terminal. Each run has a private settings folder whose port map
// names the line as COM2, a private home and a private per-user profile, so
// nothing of the user running the tests is read or written. Each run has a
// generous limit after which it is killed, so a hang fails the test instead
// of blocking the suite; nothing is timed.
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "app/command_table.h"

namespace {

constexpr int kRunLimitMs = 180000;
constexpr int kToolLimitMs = 120000;

QString ReadText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

QStringList Lines(const QString& text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The values a simulator keeps (what a write can change), from its dump.
QStringList KeptValues(const QString& dumpPath) {
    QStringList kept;
    for (const QString& line : Lines(ReadText(dumpPath)))
        if (line.contains(QStringLiteral("\tkept\t"))) kept << line;
    return kept;
}

// Started processes end with the test, even when it is killed.
void DieWithTest(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

// A configuration's dump without the values of the device's clocks.
QStringList WithoutClocks(const QString& dump) {
    static const QRegularExpression clock(
        QStringLiteral("\t\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d\t"));
    QStringList kept;
    for (const QString& line : Lines(dump))
        if (!line.contains(clock)) kept << line;
    return kept;
}

// A pseudo-terminal with nobody behind it: a device that never answers.
class SilentLine {
  public:
    SilentLine() {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ >= 0 && grantpt(fd_) == 0 && unlockpt(fd_) == 0)
            path_ = QString::fromLocal8Bit(ptsname(fd_));
    }
    ~SilentLine() {
        if (fd_ >= 0) ::close(fd_);
    }
    const QString& Path() const { return path_; }

  private:
    int fd_ = -1;
    QString path_;
};

// A named semaphore the driving program creates under the lower-cased name
// and posts to ask the configurator to quit.
class ExitSemaphore {
  public:
    explicit ExitSemaphore(const QString& lowerName) : name_(QByteArray("/") + lowerName.toUtf8()) {
        sem_unlink(name_.constData());
        sem_ = sem_open(name_.constData(), O_CREAT, 0600, 0);
    }
    ~ExitSemaphore() {
        if (sem_ != SEM_FAILED) sem_close(sem_);
        sem_unlink(name_.constData());
    }
    bool Valid() const { return sem_ != SEM_FAILED; }
    bool Post() { return sem_ != SEM_FAILED && sem_post(sem_) == 0; }

  private:
    QByteArray name_;
    sem_t* sem_ = SEM_FAILED;
};

}  // namespace

class DrivenRunTest : public QObject {
    Q_OBJECT

  private:
    // A private folder for one run: settings, home, per-user profile.
    struct RunFolder {
        QString dir;
        QString messageLog;
        QString screenshot;
    };

    RunFolder NewRunFolder(const QString& com2Target) {
        RunFolder run;
        run.dir = work_.filePath(QStringLiteral("run%1").arg(++runs_));
        QDir().mkpath(run.dir);
        for (const char* sub : {"home", "config", "data", "cache"})
            QDir().mkpath(run.dir + QLatin1Char('/') + QLatin1String(sub));
        QDir().mkpath(run.dir + QStringLiteral("/runtime"));
        QFile::setPermissions(run.dir + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile conf(run.dir + QStringLiteral("/system.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(QStringLiteral("[SelvarM]\nport.COM2=%1\n").arg(com2Target).toUtf8());
        run.messageLog = run.dir + QStringLiteral("/messages.log");
        run.screenshot = run.dir + QStringLiteral("/shown.png");
        return run;
    }

    QProcessEnvironment Environment(const RunFolder& run) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("SELVAR_AUTO_ANSWER"));
        env.remove(QStringLiteral("SELVAR_SCREENSHOT"));
        env.remove(QStringLiteral("SELVAR_DATA_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("SELVAR_LINK_PAUSE_MS"), QStringLiteral("0"));
        env.insert(QStringLiteral("SELVAR_RETRY_PAUSE_MS"), QStringLiteral("0"));
        env.insert(QStringLiteral("SELVAR_SYSTEM_SETTINGS"),
                   run.dir + QStringLiteral("/system.conf"));
        env.insert(QStringLiteral("SELVAR_USER_SETTINGS"), run.dir + QStringLiteral("/user.conf"));
        env.insert(QStringLiteral("SELVAR_HOME"), run.dir + QStringLiteral("/home"));
        env.insert(QStringLiteral("HOME"), run.dir + QStringLiteral("/home"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), run.dir + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), run.dir + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), run.dir + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run.dir + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("SELVAR_MESSAGE_LOG"), run.messageLog);
        return env;
    }

    // Starts the simulated Селвар-А1 (the smallest modification: runs over
    // the whole configuration stay short) on a pseudo-terminal; its path is
    // the first line it prints.
    bool StartSimulator(QProcess& sim, QString& port, const QStringList& extra) {
        sim.setProcessEnvironment(Environment(NewRunFolder(QString())));
        sim.setProcessChannelMode(QProcess::SeparateChannels);
        DieWithTest(sim);
        sim.start(QStringLiteral(SELVAR_SIM),
                  QStringList{QStringLiteral("--modification"), QStringLiteral("a1"),
                              QStringLiteral("--pty")} +
                      extra);
        if (!sim.waitForStarted(kToolLimitMs)) return false;
        while (!sim.canReadLine())
            if (!sim.waitForReadyRead(kToolLimitMs)) return false;
        port = QString::fromUtf8(sim.readLine()).trimmed();
        return !port.isEmpty();
    }

    static void StopSimulator(QProcess& sim) {
        sim.terminate();
        if (!sim.waitForFinished(kToolLimitMs)) sim.kill();
        sim.waitForFinished();
    }

    struct Outcome {
        int code = -1;
        QString out;
    };

    // The command-line tool, to make files and check what a device holds.
    Outcome Tool(const QStringList& arguments) {
        QProcess tool;
        tool.setProcessEnvironment(Environment(NewRunFolder(QString())));
        DieWithTest(tool);
        tool.start(QStringLiteral(SELVAR_TOOL), arguments);
        Outcome o;
        if (!tool.waitForFinished(kToolLimitMs)) {
            tool.kill();
            tool.waitForFinished();
            o.out = QStringLiteral("selvar-tool hung: ") + arguments.join(QLatin1Char(' '));
            return o;
        }
        o.code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
        o.out = QString::fromUtf8(tool.readAllStandardOutput()) +
                QString::fromUtf8(tool.readAllStandardError());
        return o;
    }

    QString ReadFromDevice(const QString& port, const QString& name) {
        Outcome o = Tool({QStringLiteral("read"), QStringLiteral("--port"), port,
                          QStringLiteral("--modification"), QStringLiteral("a1"), name});
        return o.code == 0 ? o.out.trimmed() : QStringLiteral("(failed: %1)").arg(o.out);
    }

    void StartProgram(QProcess& program, const RunFolder& run, const QStringList& arguments,
                      const QString& answers, bool screenshot = false,
                      const QString& binary = QStringLiteral(SELVAR_GUI_BINARY)) {
        QProcessEnvironment env = Environment(run);
        if (!answers.isEmpty()) env.insert(QStringLiteral("SELVAR_AUTO_ANSWER"), answers);
        // The picture is drawn once start-up is over, driven run started:
        // the sign that the program is ready for its exit event.
        if (screenshot) env.insert(QStringLiteral("SELVAR_SCREENSHOT"), run.screenshot);
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(run.dir);
        DieWithTest(program);
        program.start(binary, arguments);
    }

    // The exit code, or a failure when the program hangs or crashes.
    static int Finish(QProcess& program) {
        if (!program.waitForFinished(kRunLimitMs)) {
            program.kill();
            program.waitForFinished();
            qWarning("selvar hung; killed. stderr:\n%s",
                     program.readAllStandardError().constData());
            return -1;
        }
        if (program.exitStatus() != QProcess::NormalExit) {
            qWarning("selvar crashed. stderr:\n%s", program.readAllStandardError().constData());
            return -2;
        }
        return program.exitCode();
    }

    int Run(const RunFolder& run, const QStringList& arguments, const QString& answers) {
        QProcess program;
        StartProgram(program, run, arguments, answers);
        return Finish(program);
    }

    // Waits while the program runs; false when it ended or the limit passed first.
    static bool WaitWhileRunning(QProcess& program, const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done()) {
            if (program.state() == QProcess::NotRunning || clock.elapsed() > kRunLimitMs)
                return false;
            program.waitForFinished(50);
        }
        return true;
    }

    static QString ClosingLine(const QString& answer) {
        return QStringLiteral("\t%1\t%2").arg(QString::fromUtf8(App::kClosingQuestion), answer);
    }

    // A copy in the run's folder, named relative to it: the program runs
    // there, and the name stays short.
    static QString CopyInto(const RunFolder& run, const QString& from, const QString& name) {
        QFile::copy(from, run.dir + QLatin1Char('/') + name);
        return name;
    }

    QTemporaryDir work_;
    int runs_ = 0;
    QString sourceFile_;        // a configuration with values unlike a new device's
    QString sourceState_;       // the state file of the device it was read from
    QStringList sourceValues_;  // what that device kept

  private slots:
    // A device with a few values unlike the factory's is saved into a file;
    // the runs below write that file into a new device, or read that device.
    void initTestCase() {
        QVERIFY(work_.isValid());
        sourceState_ = work_.filePath(QStringLiteral("source.state"));
        const QString dump = work_.filePath(QStringLiteral("source.dump"));
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(
            sim, port, {QStringLiteral("--state"), sourceState_, QStringLiteral("--dump"), dump}));
        const QStringList values[] = {{QStringLiteral("in.sl:1"), QStringLiteral("1.25")},
                                      {QStringLiteral("dSP.b"), QStringLiteral("3")},
                                      {QStringLiteral("s.w"), QStringLiteral("Летнее")}};
        for (const QStringList& nv : values) {
            Outcome o =
                Tool({QStringLiteral("write"), QStringLiteral("--port"), port,
                      QStringLiteral("--modification"), QStringLiteral("a1"), nv[0], nv[1]});
            QVERIFY2(o.code == 0, qPrintable(o.out));
        }
        sourceFile_ = work_.filePath(QStringLiteral("source.svx"));
        Outcome saved =
            Tool({QStringLiteral("save"), QStringLiteral("a1"), QStringLiteral("--port"), port,
                  QStringLiteral("--bps"), QStringLiteral("115200"), sourceFile_});
        QVERIFY2(saved.code == 0, qPrintable(saved.out));
        StopSimulator(sim);
        sourceValues_ = KeptValues(dump);
        QVERIFY(!sourceValues_.isEmpty());
    }

    // The driving program's example: write the file into the device on COM2
    // at 9600 bit/s, then close. The only box is the closing question.
    void writeWithCloseStoresTheFileInTheDevice_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("shown") << QStringList{QStringLiteral("/write/port:2/bps:9600/close")};
        // Started hidden, with the tray icon only: the run is the same.
        QTest::newRow("hidden") << QStringList{QStringLiteral("/write/port:2/bps:115200"),
                                               QStringLiteral("-w:0/h:0/close")};
    }
    void writeWithCloseStoresTheFileInTheDevice() {
        QFETCH(QStringList, arguments);
        const QString dump = work_.filePath(QStringLiteral("written.dump"));
        QFile::remove(dump);
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {QStringLiteral("--dump"), dump}));
        QVERIFY(ReadFromDevice(port, QStringLiteral("in.sl:1")) != QStringLiteral("1.250"));

        RunFolder run = NewRunFolder(port);
        const QString file = CopyInto(run, sourceFile_, QStringLiteral("write.svx"));
        QCOMPARE(Run(run, arguments << file, QStringLiteral("yes")), 0);

        QCOMPARE(Lines(ReadText(run.messageLog)).size(), 1);
        QVERIFY(ReadText(run.messageLog).contains(ClosingLine(QStringLiteral("yes"))));
        QCOMPARE(ReadFromDevice(port, QStringLiteral("in.sl:1")), QStringLiteral("1.250"));
        QCOMPARE(ReadFromDevice(port, QStringLiteral("dSP.b")), QStringLiteral("3"));
        QCOMPARE(ReadFromDevice(port, QStringLiteral("s.w")), QStringLiteral("Летнее"));
        StopSimulator(sim);
        // Every value the device keeps is the file's, nothing else changed.
        QCOMPARE(KeptValues(dump), sourceValues_);
        // The file written from is left as it was.
        QCOMPARE(ReadText(run.dir + QLatin1Char('/') + file), ReadText(sourceFile_));
    }

    // A read into a named file saves there without opening it first: what
    // stood in the file before does not matter.
    void readSavesIntoTheNamedFile() {
        const QString state = work_.filePath(QStringLiteral("read.state"));
        QFile::remove(state);
        QVERIFY(QFile::copy(sourceState_, state));
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {QStringLiteral("--state"), state}));
        RunFolder run = NewRunFolder(port);
        const QString out = run.dir + QStringLiteral("/read.svx");
        {
            QFile junk(out);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a configuration");
        }
        const int code =
            Run(run, {QStringLiteral("/read/port:2/bps:115200/close"), QStringLiteral("read.svx")},
                QStringLiteral("yes"));
        StopSimulator(sim);
        QCOMPARE(code, 0);

        Outcome dumped = Tool({QStringLiteral("svx"), QStringLiteral("dump"), out});
        QVERIFY2(dumped.code == 0, qPrintable(dumped.out));
        QVERIFY(dumped.out.contains(QStringLiteral("modification: Селвар-А1")));
        QVERIFY2(dumped.out.contains(QStringLiteral("\tin.sl\t1\t1.250\t")),
                 qPrintable(dumped.out));
        // Everything else as the tool read it from the same device, but the
        // clocks, which went on.
        Outcome source = Tool({QStringLiteral("svx"), QStringLiteral("dump"), sourceFile_});
        QCOMPARE(WithoutClocks(dumped.out), WithoutClocks(source.out));
    }

    // Failures reach the driving program as exit codes only: no box but the
    // closing question.
    void failuresGiveTheirExitCodes_data() {
        QTest::addColumn<QString>("line");  // "simulator", "silent", "missing" (no such port)
        QTest::addColumn<QStringList>("simulatorOptions");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("code");
        QTest::newRow("the file to write does not exist")
            << QStringLiteral("simulator") << QStringList() << QStringLiteral("/write/port:2/close")
            << false << 200;
        QTest::newRow("the port cannot be opened")
            << QStringLiteral("missing") << QStringList() << QStringLiteral("/write/port:2/close")
            << true << 201;
        QTest::newRow("nobody answers") << QStringLiteral("silent") << QStringList()
                                        << QStringLiteral("/write/port:2/close") << true << 202;
        QTest::newRow("answers are noise")
            << QStringLiteral("simulator")
            << QStringList{QStringLiteral("--fault-garbage"), QStringLiteral("1")}
            << QStringLiteral("/write/port:2/close") << true << 203;
        QTest::newRow("the test option keeps an outcome")
            << QStringLiteral("silent") << QStringList() << QStringLiteral("/test/port:2") << true
            << 202;
    }
    void failuresGiveTheirExitCodes() {
        QFETCH(QString, line);
        QFETCH(QStringList, simulatorOptions);
        QFETCH(QString, option);
        QFETCH(bool, fileExists);
        QFETCH(int, code);
        QProcess sim;
        SilentLine silent;
        QString port = work_.filePath(QStringLiteral("no-such-tty"));
        if (line == QStringLiteral("simulator"))
            QVERIFY(StartSimulator(sim, port, simulatorOptions));
        else if (line == QStringLiteral("silent"))
            port = silent.Path();
        QVERIFY(!port.isEmpty());
        RunFolder run = NewRunFolder(port);
        const QString file = fileExists ? CopyInto(run, sourceFile_, QStringLiteral("failing.svx"))
                                        : QStringLiteral("absent.svx");
        const int result = Run(run, {option, file}, QStringLiteral("yes"));
        if (sim.state() != QProcess::NotRunning) StopSimulator(sim);
        // The test option runs no operation: only the start's connection
        // check learns that nobody answers.
        QCOMPARE(result, code);
        for (const QString& box : Lines(ReadText(run.messageLog)))
            QVERIFY2(box.contains(ClosingLine(QStringLiteral("yes"))), qPrintable(box));
    }

    // A read or write that cannot run (no port given) still ends the run,
    // after the closing question, as not done: nothing is saved.
    void operationWithoutAPortEndsTheRun_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("read") << QStringLiteral("/read/close");
        QTest::newRow("write") << QStringLiteral("/write/close");
    }
    void operationWithoutAPortEndsTheRun() {
        QFETCH(QString, option);
        RunFolder run = NewRunFolder(QString());
        const bool read = option.startsWith(QStringLiteral("/read"));
        const QString file = read ? QStringLiteral("out.svx")
                                  : CopyInto(run, sourceFile_, QStringLiteral("noport.svx"));
        QCOMPARE(Run(run, {option, file}, QStringLiteral("yes")), 205);
        const QStringList boxes = Lines(ReadText(run.messageLog));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(ClosingLine(QStringLiteral("yes"))), qPrintable(boxes[0]));
        if (read) QVERIFY(!QFile::exists(run.dir + QStringLiteral("/out.svx")));
    }

    void testOptionEndsWithZero() {
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {}));
        RunFolder run = NewRunFolder(port);
        const int code = Run(run, {QStringLiteral("/test/port:2")}, QStringLiteral("yes"));
        StopSimulator(sim);
        QCOMPARE(code, 0);
    }

    // The event's name is written in capitals; the driving program creates
    // it under the lower-cased name, as the option is lowered as a whole.
    void exitEventEndsTheRun() {
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {}));
        const QString name = QStringLiteral("Selvar-E2E-Exit-%1").arg(getpid());
        ExitSemaphore event(name.toLower());
        QVERIFY(event.Valid());
        RunFolder run = NewRunFolder(port);
        QProcess program;
        StartProgram(program, run,
                     {QStringLiteral("/PORT:2/EXITEVENT:") + name,
                      CopyInto(run, sourceFile_, QStringLiteral("exit.svx"))},
                     QStringLiteral("yes"), true);
        QVERIFY(WaitWhileRunning(program, [&] { return QFile::exists(run.screenshot); }));
        QVERIFY(event.Post());
        const int code = Finish(program);
        StopSimulator(sim);
        QCOMPARE(code, 205);
        QVERIFY(ReadText(run.messageLog).contains(ClosingLine(QStringLiteral("yes"))));
    }

    void signalEndsTheRun_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalEndsTheRun() {
        QFETCH(int, signal);
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {}));
        RunFolder run = NewRunFolder(port);
        QProcess program;
        StartProgram(
            program, run,
            {QStringLiteral("/port:2"), CopyInto(run, sourceFile_, QStringLiteral("signal.svx"))},
            QStringLiteral("yes"), true);
        QVERIFY(WaitWhileRunning(program, [&] { return QFile::exists(run.screenshot); }));
        QVERIFY(::kill(static_cast<pid_t>(program.processId()), signal) == 0);
        const int code = Finish(program);
        StopSimulator(sim);
        QCOMPARE(code, 205);
    }

    // No to the closing question of a driven close keeps the program: only
    // the exit event, posted afterwards, ends it (a program that had closed
    // would have ended with 0).
    void closingQuestionNoKeepsRunning() {
        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {}));
        const QString name = QStringLiteral("selvar-e2e-keep-%1").arg(getpid());
        ExitSemaphore event(name);
        QVERIFY(event.Valid());
        RunFolder run = NewRunFolder(port);
        QProcess program;
        StartProgram(program, run,
                     {QStringLiteral("/write/port:2/bps:115200/close/exitevent:") + name,
                      CopyInto(run, sourceFile_, QStringLiteral("keep.svx"))},
                     QStringLiteral("no,yes"));
        QVERIFY(WaitWhileRunning(program, [&] {
            return ReadText(run.messageLog).contains(ClosingLine(QStringLiteral("no")));
        }));
        QVERIFY(event.Post());
        const int code = Finish(program);
        StopSimulator(sim);
        QCOMPARE(code, 205);
        const QStringList boxes = Lines(ReadText(run.messageLog));
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes[1].contains(ClosingLine(QStringLiteral("yes"))));
    }

    // Installed under a fresh prefix, the program finds its description files
    // beside its bin/ and runs as the built one does; the desktop entry and
    // the type of .svx files are in place.
    void installedProgramRuns() {
        const QString prefix = work_.filePath(QStringLiteral("prefix"));
        QProcess install;
        DieWithTest(install);
        install.start(QStringLiteral(SELVAR_CMAKE),
                      {QStringLiteral("--install"), QStringLiteral(SELVAR_BUILD_DIR),
                       QStringLiteral("--prefix"), prefix});
        QVERIFY(install.waitForFinished(kToolLimitMs));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        for (const char* file :
             {"bin/selvar", "share/applications/selvar.desktop", "share/mime/packages/selvar.xml",
              "share/icons/hicolor/scalable/apps/selvar.svg", "share/selvar/parameters1.zip",
              "share/selvar/selvar_a1.tree.zip", "share/selvar/selvar_a1.tree.h.zip",
              "share/selvar/selvar_a1.tree.op.zip", "share/selvar/tooltip_a1.dat",
              "share/selvar/parameters2.zip", "share/selvar/tooltip_b2.dat"})
            QVERIFY2(QFile::exists(prefix + QLatin1Char('/') + QLatin1String(file)), file);
        const QString desktop = prefix + QStringLiteral("/share/applications/selvar.desktop");
        const QStringList entry = Lines(ReadText(desktop));
        QVERIFY(entry.contains(QStringLiteral("Exec=selvar %f")));
        QVERIFY(entry.contains(QStringLiteral("Icon=selvar")));
        QVERIFY(entry.contains(QStringLiteral("MimeType=application/x-selvar-configuration;")));
        const QString mime = ReadText(prefix + QStringLiteral("/share/mime/packages/selvar.xml"));
        QVERIFY(mime.contains(QStringLiteral("type=\"application/x-selvar-configuration\"")));
        QVERIFY(mime.contains(QStringLiteral("<glob pattern=\"*.svx\"/>")));
        const QString validate =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validate.isEmpty()) {
            QProcess check;
            check.start(validate, {desktop});
            QVERIFY(check.waitForFinished(kToolLimitMs));
            QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput().constData());
        }

        QProcess sim;
        QString port;
        QVERIFY(StartSimulator(sim, port, {}));
        RunFolder run = NewRunFolder(port);
        QProcess program;
        StartProgram(program, run,
                     {QStringLiteral("/write/port:2/bps:115200/close"),
                      CopyInto(run, sourceFile_, QStringLiteral("installed.svx"))},
                     QStringLiteral("yes"), false, prefix + QStringLiteral("/bin/selvar"));
        const int code = Finish(program);
        const QString written = ReadFromDevice(port, QStringLiteral("in.sl:1"));
        StopSimulator(sim);
        QCOMPARE(code, 0);
        QCOMPARE(written, QStringLiteral("1.250"));
    }
};

int main(int argc, char** argv) {
    // Each run has its own limit; the watchdog must not cut a function of
    // several runs short on a loaded machine.
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "1200000");
    QCoreApplication app(argc, argv);
    DrivenRunTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "driven_run_test.moc"
