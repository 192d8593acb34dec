#include <QApplication>
#include <QTimer>
#include <clocale>
#include <cstdio>

#include "app/Form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The transfer number is drawn from the date and time as the user's locale writes them.
    std::setlocale(LC_TIME, "");
    QApplication::setApplicationDisplayName(QStringLiteral("Vek Tool"));
    try {
        vek::TForm1 form;
        form.show();
        // For start-up measurements: say so once the window is up, then leave when told.
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
        app.exec();
    } catch (const std::exception& e) {
        vek::showStandardException(QString::fromUtf8(e.what()));
    } catch (...) {
        vek::showStandardException(QString());
    }
    return 0;
}
