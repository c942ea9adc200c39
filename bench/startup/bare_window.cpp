// The yardstick of the start-up benchmark: the least a Qt Widgets program
// does to show a main window. Once the window is up and the event loop runs,
// it writes the file named by its argument (the benchmark's sign that the
// window is shown), closes the window and ends.
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString shown = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QMainWindow window;
    window.showMaximized();
    QTimer::singleShot(0, &window, [&window, shown] {
        if (!shown.isEmpty()) {
            QFile f(shown);
            if (f.open(QIODevice::WriteOnly)) f.write("shown\n");
        }
        window.close();
    });
    return app.exec();
}
