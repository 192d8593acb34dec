#include <QApplication>
#include <clocale>

#include "app/EventLoop.h"
#include "app/Form1.h"
#include "app/ShownProbe.h"

int main(int argc, char* argv[]) {
    vek::useQtEventLoop();
    QApplication app(argc, argv);
    // The transfer number is drawn from the date and time as the user's locale writes them.
    std::setlocale(LC_TIME, "");
    // The application's title goes to the desktop by name and desktop entry (the task bar's
    // grouping and icon); a display name would be appended to every window title instead.
    QApplication::setApplicationName(QStringLiteral("Vek Tool"));
    QApplication::setDesktopFileName(QStringLiteral("vektool"));
    try {
        vek::TForm1 form;
        form.show();
        vek::reportShownIfAsked();
        app.exec();
    } catch (const std::exception& e) {
        vek::showStandardException(QString::fromUtf8(e.what()));
    } catch (...) {
        vek::showStandardException(QString());
    }
    return 0;
}
