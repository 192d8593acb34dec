// The yardstick for start-up: the smallest Qt Widgets program, an empty window of the tool's size.
#include <QApplication>
#include <QWidget>

#include "app/ShownProbe.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(557, 742);
    window.show();
    vek::reportShownIfAsked();
    return app.exec();
}
