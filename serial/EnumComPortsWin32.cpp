// The serial ports as the system's registry lists them.
#include <windows.h>
// After windows.h, which they need.
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cwctype>

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

namespace {

std::wstring upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return wchar_t(std::towupper(c)); });
    return text;
}

// The COM port names of the devices that a USB bus enumerated: the box's CDC port (USB), or a USB
// serial adapter whose driver enumerates its own ports (FTDIBUS).
std::vector<std::wstring> usbComPorts() {
    std::vector<std::wstring> ports;
    const HDEVINFO devices =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        wchar_t enumerator[64] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_ENUMERATOR_NAME, nullptr,
                                               reinterpret_cast<BYTE*>(enumerator),
                                               sizeof enumerator - sizeof(wchar_t), nullptr))
            continue;
        const std::wstring bus = upper(enumerator);
        if (bus != L"USB" && bus != L"FTDIBUS")
            continue;
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t name[kNameChars + 1] = {};
        DWORD bytes = kNameChars * sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                             &bytes) == ERROR_SUCCESS &&
            type == REG_SZ)
            ports.push_back(upper(name));
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

}  // namespace

// Only USB serial ports are asked unnamed: opening a built-in COM1 or a Bluetooth port would set
// its line, and no box is there.
bool MayOpenUnasked(const std::string& port) {
    const std::vector<std::wstring> usb = usbComPorts();
    return std::find(usb.begin(), usb.end(), upper(std::wstring(port.begin(), port.end()))) !=
           usb.end();
}

std::string DeviceOf(const std::string& port) {
    std::string path = PortPath(port);
    std::transform(path.begin(), path.end(), path.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return path;
}

std::string PortPath(const std::string& port) {
    return port.starts_with("\\\\.\\") ? port : "\\\\.\\" + port;
}

std::string StableName(const std::string&) {
    return {};
}

}  // namespace vek
