// The yardstick for start-up: the smallest Qt Widgets program, an empty window of the tool's size.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(557, 742);
    window.show();
    // As the tool does for start-up measurements: say so once the window is up, then leave when
    // told.
    if (qEnvironmentVariableIsSet("VEKTOOL_EXIT_WHEN_SHOWN")) {
        QTimer::singleShot(0, &app, [] {
            std::puts("shown");
            std::fflush(stdout);
            // Alive until the measurer has read the peak memory and closes the input.
            while (std::getchar() != EOF) {
            }
            QCoreApplication::quit();
        });
    }
    return app.exec();
}
