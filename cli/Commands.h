#pragma once

#include <QStringList>
#include <chrono>
#include <string>
#include <vector>

#include "cli/BoxAccess.h"
#include "cli/Output.h"

namespace vek {

// A command line, parsed: the command and its words, and the options given.
struct Invocation {
    QStringList words;  // "config", "get", ...; the positional arguments follow the command
    std::string port;   // -p, or VEKCTL_PORT
    std::vector<std::string> ports;  // every -p given, for provision
    std::string output;
    std::string raw;
    bool force = false;
    bool downgrade = false;    // update: a box with newer firmware gets the carried one
    bool oldFirmware = false;  // config set: writes to a box whose firmware is due
    bool probe = false;
    // provision and report
    std::string profile;
    std::string record;              // the journal that provision, update and config set append to
    std::string station;             // the name the journal's lines carry
    std::string syncUrl, syncToken;  // the history server (--sync, --to, VEKCTL_SYNC)
    bool all = false;
    bool watch = false;
    bool csv = false;
    int jobs = 64;
    std::chrono::milliseconds wait = kDefaultStatusWait;
};

// Runs one command and returns its exit code; failures come as CommandFailure, Ctrl-C as
// Interrupted, misuse as CommandFailure with kExitUsage.
int runCommand(const Invocation& invocation, Output& out, const TComSignal& stop);

}  // namespace vek
