#pragma once

#include <QStringList>
#include <chrono>
#include <string>

#include "cli/BoxAccess.h"
#include "cli/Output.h"

namespace vek {

// A command line, parsed: the command and its words, and the options given.
struct Invocation {
    QStringList words;  // "config", "get", ...; the positional arguments follow the command
    std::string port;   // -p, or VEKCTL_PORT
    std::string output;
    std::string raw;
    bool force = false;
    bool probe = false;
    std::chrono::milliseconds wait = kDefaultStatusWait;
};

// Runs one command and returns its exit code; failures come as CommandFailure, Ctrl-C as
// Interrupted, misuse as CommandFailure with kExitUsage.
int runCommand(const Invocation& invocation, Output& out, const TComSignal& stop);

}  // namespace vek
