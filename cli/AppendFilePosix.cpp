#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "cli/AppendFile.h"

namespace vek {

namespace {
[[noreturn]] void failed(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}
}  // namespace

AppendFile::AppendFile(const std::string& path)
    : handle_(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {
    if (handle_ < 0)
        failed("open");
}

AppendFile::~AppendFile() {
    ::close(int(handle_));
}

bool AppendFile::endsWithLineEnd() const {
    const off_t size = lseek(int(handle_), 0, SEEK_END);
    char last = '\n';
    return size <= 0 || pread(int(handle_), &last, 1, size - 1) != 1 || last == '\n';
}

void AppendFile::appendSynced(const char* data, std::size_t size) {
    const ssize_t written = ::write(int(handle_), data, size);
    if (written < 0)
        failed("write");
    if (std::size_t(written) != size) {
        errno = ENOSPC;
        failed("write");
    }
    if (fdatasync(int(handle_)) != 0)
        failed("fdatasync");
}

}  // namespace vek
