#pragma once

// How the window tests and the benchmark drive the window: its message boxes are recorded and
// answered, the addresses it hands to the desktop are recorded, and it never asks the real update
// host.

#include <QComboBox>
#include <QPushButton>
#include <QString>
#include <string>
#include <vector>

#include "app/Form1.h"

namespace vek::testing {

struct WindowRecord {
    std::vector<MessageBoxRequest> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::vector<QString> opened;  // addresses handed to the desktop shell

    // options with the dialogs and the desktop routed here; a local update host set by the caller
    // is kept.
    TForm1Options route(TForm1Options options) {
        options.messageBox = [this](const MessageBoxRequest& request) {
            messages.push_back(request);
            return answer;
        };
        options.openUrl = [this](const QString& url) { opened.push_back(url); };
        if (options.updateHost.isEmpty() || options.updateHost == kUpdateHost)
            options.updateHost = QStringLiteral("127.0.0.1:9");
        return options;
    }
};

// Selects port in the list as the user would, and presses the connection button.
inline void connectTo(TForm1& form, const std::string& port) {
    form.ui.ComboBox1->clear();
    form.ui.ComboBox1->addItem(QString::fromStdString(port));
    form.ui.ComboBox1->setCurrentIndex(0);
    form.ui.ButtonVCP->click();
}

}  // namespace vek::testing
