#pragma once

#include <QByteArray>
#include <string>

namespace vek {

// Refuses at once, with CommandFailure kExitFileError, a path that is a terminal, a device, a FIFO
// or a folder where a file is expected: reading one would wait on it for ever (a box's port named
// without "port:", say). A missing path passes when it may be made.
void requireRegularFile(const std::string& path, bool mayBeMissing);

// A regular file's bytes, up to one past limit; CommandFailure kExitFileError when it cannot be
// read whole.
QByteArray readFile(const std::string& path, qsizetype limit);

// Replaces the file as a whole or not at all; CommandFailure kExitFileError when it cannot.
void writeFile(const std::string& path, const QByteArray& bytes);

}  // namespace vek
