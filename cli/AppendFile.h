#pragma once

#include <cstddef>
#include <string>

#include "serial/NativeHandle.h"

namespace vek {

// A file that whole records are appended to, each with one write and flushed to the disk before
// the call returns. Errors come as std::system_error.
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
    NativeHandle handle_ = kNoHandle;
};

}  // namespace vek
