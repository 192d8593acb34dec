#include "FaultCatalog.h"

#include <cstring>
#include <stdexcept>

namespace vek::testing {

const char* nameOf(Operation op) {
    switch (op) {
        case Operation::Upload:
            return "upload";
        case Operation::Read:
            return "read";
        case Operation::Write:
            return "write";
    }
    return "";
}

namespace {

// A share of frames hit that costs each operation a few repeats: the upload has 1,833 replies,
// the read 5 and the write 44.
double shareFor(Operation op) {
    switch (op) {
        case Operation::Upload:
            return 0.003;
        case Operation::Read:
            return 0.3;
        case Operation::Write:
            return 0.05;
    }
    return 0;
}

uint32_t midTransferPacket(Operation op) {
    return op == Operation::Upload ? 900 : 20;
}

SimFaults seeded() {
    SimFaults f;
    f.seed = 20261208;
    return f;
}

template <typename Set>
std::function<std::optional<SimFaults>(Operation)> each(Set set) {
    return [set](Operation op) -> std::optional<SimFaults> {
        SimFaults f = seeded();
        set(f, op);
        return f;
    };
}

std::function<std::optional<SimFaults>(Operation)> transfersOnly(
    const std::function<void(SimFaults&, Operation)>& set) {
    return [set](Operation op) -> std::optional<SimFaults> {
        if (op == Operation::Read)
            return std::nullopt;
        SimFaults f = seeded();
        set(f, op);
        return f;
    };
}

}  // namespace

const std::vector<Fault>& faults() {
    using O = Operation;
    static const std::vector<Fault> all{
        {"none", each([](SimFaults&, O) {}), Ends::Completed},
        {"replies lost", each([](SimFaults& f, O op) { f.loseReply = shareFor(op); }),
         Ends::Completed},
        {"a byte corrupted", each([](SimFaults& f, O op) { f.corruptByte = shareFor(op); }),
         Ends::Completed},
        {"split in two writes 20 ms apart",
         each([](SimFaults& f, O op) { f.splitReply = shareFor(op); }), Ends::Completed},
        {"garbage before", each([](SimFaults& f, O op) { f.garbageBefore = shareFor(op); }),
         Ends::Completed},
        {"trailing bytes", each([](SimFaults& f, O) { f.trailingBytes = 0.05; }), Ends::Completed},
        {"Nack instead of Ack",
         transfersOnly([](SimFaults& f, O op) { f.nackInstead = shareFor(op); }), Ends::Completed},
        {"every reply 2 ms late", each([](SimFaults& f, O) { f.delayMs = 2; }), Ends::Completed},
        {"wrong destination", each([](SimFaults& f, O) { f.wrongDestination = true; }),
         Ends::Reported},
        {"silent from mid-transfer",
         transfersOnly([](SimFaults& f, O op) { f.silentFromPacket = midTransferPacket(op); }),
         Ends::Reported},
        {"hang-up mid-transfer, back as a new port", transfersOnly([](SimFaults& f, O op) {
             f.hangUpAtPacket = midTransferPacket(op);
             f.comeBackAfterMs = 300;
         }),
         Ends::PortFailure},
    };
    return all;
}

const Fault& faultNamed(const char* name) {
    for (const Fault& fault : faults())
        if (std::strcmp(fault.name, name) == 0)
            return fault;
    throw std::invalid_argument(name);
}

}  // namespace vek::testing
