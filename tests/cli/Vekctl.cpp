#include "Vekctl.h"

#ifdef __linux__
#include <sys/prctl.h>

#include <csignal>
#endif

namespace vek::testing {

Vekctl::Vekctl(QStringList ports) : environment_(QProcessEnvironment::systemEnvironment()) {
    environment_.insert("VEKTOOL_PORTS", ports.join(':'));
    environment_.remove("VEKCTL_PORT");
}

void Vekctl::start(QProcess& process, const QStringList& arguments) const {
    process.setProcessEnvironment(environment_);
#ifdef __linux__
    // A test that is killed leaves no station behind, watching ports that others then get.
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
#endif
    process.start(QStringLiteral(VEKCTL_PATH), arguments);
    process.waitForStarted();
}

Outcome Vekctl::run(const QStringList& arguments, std::chrono::milliseconds limit) const {
    QProcess process;
    start(process, arguments);
    process.waitForFinished(int(limit.count()));
    Outcome outcome;
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput());
    outcome.err = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

}  // namespace vek::testing
