#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace vek {

// For start-up measurements, when VEKTOOL_EXIT_WHEN_SHOWN is set: once the event loop runs (the
// window is up), writes "shown" to standard output, waits until standard input closes (the
// measurer reads the peak memory meanwhile) and leaves.
inline void reportShownIfAsked() {
    if (!qEnvironmentVariableIsSet("VEKTOOL_EXIT_WHEN_SHOWN"))
        return;
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        std::puts("shown");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        QCoreApplication::quit();
    });
}

}  // namespace vek
