#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    if (::flock(int(handle_), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EAGAIN : errno;
        ::close(int(handle_));
        errno = error;
        failed("flock");
    }
}

AppendFile::~AppendFile() {
    ::close(int(handle_));
}

bool AppendFile::endsWithLineEnd() const {
    const off_t size = lseek(int(handle_), 0, SEEK_END);
    char last = '\n';
    return size <= 0 || pread(int(handle_), &last, 1, size - 1) != 1 || last == '\n';
}

void AppendFile::cutBackTo(long long size) {
    const int error = errno;
    if (::ftruncate(int(handle_), off_t(size)) != 0)
        closeBeforeNext_ = true;
    errno = error;
}

void AppendFile::appendSynced(const char* data, std::size_t size) {
    if (closeBeforeNext_ && endsWithLineEnd())
        closeBeforeNext_ = false;
    if (closeBeforeNext_) {
        if (::write(int(handle_), "\n", 1) != 1)
            failed("write");
        closeBeforeNext_ = false;
    }
    struct stat before {};
    if (::fstat(int(handle_), &before) != 0)
        failed("fstat");
    const ssize_t written = ::write(int(handle_), data, size);
    if (written < 0 || std::size_t(written) != size) {
        if (written >= 0)
            errno = ENOSPC;
        cutBackTo(before.st_size);
        failed("write");
    }
    if (fdatasync(int(handle_)) != 0) {
        cutBackTo(before.st_size);
        failed("fdatasync");
    }
}

}  // namespace vek
