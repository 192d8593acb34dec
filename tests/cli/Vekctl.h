#pragma once

// Runs the vekctl program as a script would, against simulated boxes on pseudo-terminals.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>

namespace vek::testing {

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

// vekctl with arguments; ports are named in VEKTOOL_PORTS for it.
class Vekctl {
  public:
    explicit Vekctl(QStringList ports = {});
    Outcome run(const QStringList& arguments,
                std::chrono::milliseconds limit = std::chrono::seconds(60)) const;
    // Started and left running, for a test that interrupts it.
    void start(QProcess& process, const QStringList& arguments) const;

  private:
    QProcessEnvironment environment_;
};

}  // namespace vek::testing
