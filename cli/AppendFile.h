#pragma once

#include <cstddef>
#include <string>

#include "serial/NativeHandle.h"

namespace vek {

// A file that whole records are appended to, each with one write and flushed to the disk before
// the call returns, held by one writer at a time. A record is whole or absent: what a failed
// append wrote is cut off again. Errors come as std::system_error; the file being held by another
// writer is std::errc::resource_unavailable_try_again.
class AppendFile {
  public:
    explicit AppendFile(const std::string& path);  // created when missing
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Whether the file is empty or its last byte ends a line.
    bool endsWithLineEnd() const;
    void appendSynced(const char* data, std::size_t size);

  private:
    void cutBackTo(long long size);

    NativeHandle handle_ = kNoHandle;
    // A failed append that could not be cut off is closed with a line end before the next.
    bool closeBeforeNext_ = false;
};

}  // namespace vek
