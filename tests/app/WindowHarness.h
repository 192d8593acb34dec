#pragma once

// Shared set-up for the window tests: one QApplication, a window whose message boxes are
// answered by the test, a pseudo-terminal the test plays the box on, and waiting with a deadline.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "DrivenWindow.h"
#include "app/Form1.h"

namespace vek::testing {

QApplication& app();

// Runs the event loop until pred holds or the time is up; returns pred's last value.
bool waitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
void spin(std::chrono::milliseconds duration);

struct Window : WindowRecord {
    std::unique_ptr<TForm1> form;

    explicit Window(TForm1Options options = {});
    QLineEdit* edit(const char* name) const { return form->findChild<QLineEdit*>(name); }
    QCheckBox* check(const char* name) const { return form->findChild<QCheckBox*>(name); }
    void connectTo(const std::string& port) { testing::connectTo(*form, port); }
    void pressConnection() { form->ui.ButtonVCP->click(); }
    bool logHas(const QString& line) const { return form->logLines().contains(line); }
};

// The master side of a pseudo-terminal, for tests that answer the tool frame by frame.
class PtyPeer {
  public:
    PtyPeer();
    ~PtyPeer();
    const std::string& slavePath() const { return slave_; }
    void write(const std::vector<uint8_t>& bytes);
    // Every byte the tool has written so far (waits briefly for them to arrive).
    std::vector<uint8_t> drain(std::chrono::milliseconds settle = std::chrono::milliseconds(30));
    void hangUp();

  private:
    int master_ = -1;
    std::string slave_;
};

// Splits a byte stream of the tool's frames into frames.
std::vector<std::vector<uint8_t>> splitFrames(const std::vector<uint8_t>& stream);

std::vector<uint8_t> statusFrame(uint8_t mode, std::array<uint8_t, 4> version, uint32_t base = 0);
std::vector<uint8_t> ackFrame(uint16_t packetNo);

// The process's CPU time so far, all threads.
std::chrono::milliseconds processCpuTime();

}  // namespace vek::testing
