// The serial ports as the system's registry lists them.
#include <windows.h>

#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"

namespace vek {

namespace {
constexpr DWORD kNameChars = 256;
constexpr DWORD kDataBytes = 256;
}  // namespace

void EnumComPorts(std::vector<std::string>& list) {
    HKEY key = nullptr;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS)
        throw EComPort(23, int(opened));
    std::vector<std::string> ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameChars + 1];
        DWORD nameChars = kNameChars + 1;
        BYTE data[kDataBytes + sizeof(wchar_t)] = {};
        DWORD dataBytes = kDataBytes;
        DWORD type = 0;
        const LSTATUS read =
            RegEnumValueW(key, index, name, &nameChars, nullptr, &type, data, &dataBytes);
        if (read == ERROR_NO_MORE_ITEMS)
            break;
        if (read != ERROR_SUCCESS) {
            RegCloseKey(key);
            throw EComPort(23, int(read));
        }
        // The port's name, without its terminating zero.
        const auto* text = reinterpret_cast<const wchar_t*>(data);
        std::wstring port(text, dataBytes / sizeof(wchar_t));
        while (!port.empty() && port.back() == L'\0')
            port.pop_back();
        const int size = WideCharToMultiByte(CP_UTF8, 0, port.data(), int(port.size()), nullptr, 0,
                                             nullptr, nullptr);
        std::string utf8(std::size_t(size), '\0');
        WideCharToMultiByte(CP_UTF8, 0, port.data(), int(port.size()), utf8.data(), size, nullptr,
                            nullptr);
        ports.push_back(std::move(utf8));
    }
    RegCloseKey(key);
    sortIgnoringCase(ports);
    list = std::move(ports);
}

std::string DeviceIdentity(const std::string&) {
    return {};
}

// A COM port's driver is not told by its name; the box is one of them.
bool MayOpenUnasked(const std::string&) {
    return true;
}

std::string PortPath(const std::string& port) {
    return port.starts_with("\\\\.\\") ? port : "\\\\.\\" + port;
}

std::string StableName(const std::string&) {
    return {};
}

}  // namespace vek
