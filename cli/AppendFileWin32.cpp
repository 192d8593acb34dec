#include <windows.h>

#include <string>
#include <system_error>

#include "cli/AppendFile.h"

namespace vek {

namespace {
[[noreturn]] void failed(const char* what) {
    throw std::system_error(int(GetLastError()), std::system_category(), what);
}

HANDLE handleOf(NativeHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// True when all of data went to the end of the file.
bool writeAtEnd(HANDLE file, const char* data, DWORD size) {
    OVERLAPPED end{};
    end.Offset = end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const bool ok = WriteFile(file, data, size, &written, &end);
    if (ok && written != size)
        SetLastError(ERROR_DISK_FULL);
    return ok && written == size;
}

// The path as Windows takes it: our strings are UTF-8, the "A" functions read the ANSI code page.
std::wstring widePath(const std::string& path) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), size);
    return wide;
}
}  // namespace

AppendFile::AppendFile(const std::string& path) {
    // Writing data is there to cut a failed append off again; writes go to the end by their
    // offset (writeAtEnd). No other writer may open it meanwhile.
    const HANDLE file =
        CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_WRITE_DATA,
                    FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "CreateFile");
        failed("CreateFile");
    }
    handle_ = reinterpret_cast<NativeHandle>(file);
}

AppendFile::~AppendFile() {
    CloseHandle(handleOf(handle_));
}

bool AppendFile::endsWithLineEnd() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(handle_), &size) || size.QuadPart == 0)
        return true;
    OVERLAPPED at{};
    at.Offset = DWORD(size.QuadPart - 1);
    at.OffsetHigh = DWORD((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD read = 0;
    return !ReadFile(handleOf(handle_), &last, 1, &read, &at) || read != 1 || last == '\n';
}

void AppendFile::cutBackTo(long long size) {
    const DWORD error = GetLastError();
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (!SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &end, sizeof end))
        closeBeforeNext_ = true;
    SetLastError(error);
}

void AppendFile::appendSynced(const char* data, std::size_t size) {
    if (closeBeforeNext_ && endsWithLineEnd())
        closeBeforeNext_ = false;
    if (closeBeforeNext_) {
        if (!writeAtEnd(handleOf(handle_), "\n", 1))
            failed("WriteFile");
        closeBeforeNext_ = false;
    }
    LARGE_INTEGER before{};
    if (!GetFileSizeEx(handleOf(handle_), &before))
        failed("GetFileSizeEx");
    if (!writeAtEnd(handleOf(handle_), data, DWORD(size))) {
        cutBackTo(before.QuadPart);
        failed("WriteFile");
    }
    if (!FlushFileBuffers(handleOf(handle_))) {
        cutBackTo(before.QuadPart);
        failed("FlushFileBuffers");
    }
}

}  // namespace vek
