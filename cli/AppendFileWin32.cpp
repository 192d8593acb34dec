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

// The path as Windows takes it: our strings are UTF-8, the "A" functions read the ANSI code page.
std::wstring widePath(const std::string& path) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(std::size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), size);
    return wide;
}
}  // namespace

AppendFile::AppendFile(const std::string& path) {
    // Appending access alone: every write lands at the end, as one piece.
    const HANDLE file =
        CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        failed("CreateFile");
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

void AppendFile::appendSynced(const char* data, std::size_t size) {
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), data, DWORD(size), &written, nullptr) || written != size)
        failed("WriteFile");
    if (!FlushFileBuffers(handleOf(handle_)))
        failed("FlushFileBuffers");
}

}  // namespace vek
