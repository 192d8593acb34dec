// The yardsticks for start-up: the smallest Qt Widgets program, an empty window of the tool's
// size; built a second time with one line of text in it (VEK_BENCH_ONE_LABEL), which makes Qt
// load the system's font configuration before the window shows, as any window with text must.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "app/ShownProbe.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(557, 742);
#ifdef VEK_BENCH_ONE_LABEL
    auto* label = new QLabel(QStringLiteral("Vek Tool"), &window);
    label->move(8, 8);
#endif
    window.show();
    vek::reportShownIfAsked();
    return app.exec();
}
