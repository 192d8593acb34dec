#include "cli/VisitTrace.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <algorithm>

#include "cli/ExitCode.h"
#include "serial/EnumComPorts.h"

namespace vek {

std::string blockHash(const ConfigBlockBytes& block) {
    return QCryptographicHash::hash(QByteArrayView(block.data(), qsizetype(block.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

bool portHeldElsewhere(const VisitRecord& visit) {
    return visit.reason == "port_busy" && visit.identifier.empty();
}

VisitTrace::VisitTrace(const std::string& port, const std::string& profile)
    : started_(std::chrono::steady_clock::now()) {
    visit_.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    visit_.toolVersion = VEK_VERSION;
    reachedOn(port);
    visit_.profile = profile;
}

void VisitTrace::reachedOn(const std::string& port) {
    visit_.port = port;
    visit_.stableName = StableName(port);
}

void VisitTrace::identified(const DeviceInfo& info) {
    visit_.identifier = identifierText(info.id, '-');
    visit_.hardwareType = info.version[0];
    visit_.firmwareBefore = visit_.firmwareAfter = versionText(info.version);
}

void VisitTrace::firmwareNow(const DeviceInfo& info) {
    visit_.firmwareAfter = versionText(info.version);
}

void VisitTrace::begin(const char* step) {
    visit_.actions.push_back(step);
}

void VisitTrace::blockRead(const ConfigBlockBytes& block) {
    visit_.blockBefore = visit_.blockAfter = blockHash(block);
}

void VisitTrace::blockHeld(const ConfigBlockBytes& block) {
    visit_.blockAfter = blockHash(block);
}

void VisitTrace::blockWritten(const ConfigBlockBytes& block) {
    visit_.block = blockHash(block);
}

const VisitRecord& VisitTrace::succeeded() {
    // A box that was written to was serviced, even with what it held already.
    const auto& steps = visit_.actions;
    const bool wrote = std::find(steps.begin(), steps.end(), "upload") != steps.end() ||
                       std::find(steps.begin(), steps.end(), "write") != steps.end();
    visit_.result = wrote ? "serviced" : "current";
    finish();
    return visit_;
}

const VisitRecord& VisitTrace::failed(std::exception_ptr failure, const BoxLink* link) {
    visit_.result = "failed";
    try {
        std::rethrow_exception(failure);
    } catch (const CommandFailure& error) {
        visit_.reason = error.id();
        visit_.error = error.what();
    } catch (const LinkError& error) {
        visit_.reason = "link_failed";
        visit_.error = error.title() + ": " + error.what();
    } catch (const Interrupted&) {
        visit_.result = "interrupted";
        visit_.error = "interrompido";
    } catch (const std::exception& error) {
        // Out of memory or threads: this visit fails, the others go on.
        visit_.reason = "internal_error";
        visit_.error = error.what();
    }
    // A step begun after the identification stopped short: where, by the transfer's packets.
    if (link && visit_.actions.size() > 1) {
        const TransferState& reached = link->transferState();
        visit_.stoppedAt = StoppedAt{visit_.actions.back(), reached.PacketNo, reached.PacketCount};
    }
    finish();
    return visit_;
}

void VisitTrace::finish() {
    visit_.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

}  // namespace vek
