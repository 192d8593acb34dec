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
    QApplication::setApplicationDisplayName(QStringLiteral("Vek Tool"));
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
