#include "serial/EnumComPorts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "serial/EComPort.h"
#include "serial/EnumComPortsAt.h"

namespace vek {

namespace {

namespace fs = std::filesystem;

// A serial core slot whose probe found no UART reports port type 0 (unknown): the legacy ttyS
// slots a PC kernel always creates.
bool isEmptySlot(const fs::path& entry) {
    std::ifstream type(entry / "type");
    int portType = -1;
    return type >> portType && portType == 0;
}

// A folder named in VEKTOOL_PORTS stands for the devices in it, so that a simulated box that comes
// back under a new name shows up in the list as a replugged one does.
void addFolderPorts(const std::string& folder, std::vector<std::string>& ports) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (std::filesystem::is_character_file(entry.path(), error))
            ports.push_back(entry.path().string());
    }
}

void addEnvironmentPorts(std::vector<std::string>& ports) {
    const char* named = std::getenv("VEKTOOL_PORTS");
    if (named == nullptr)
        return;
    const std::string all = named;
    for (size_t begin = 0; begin <= all.size();) {
        const size_t end = std::min(all.find(':', begin), all.size());
        // A relative name is taken from where the tool was started, as a shell user means it.
        std::error_code error;
        const std::string item =
            end > begin ? fs::absolute(all.substr(begin, end - begin), error).string() : "";
        if (!item.empty() && fs::is_directory(item, error))
            addFolderPorts(item, ports);
        else if (!item.empty())
            ports.push_back(item);
        begin = end + 1;
    }
}

}  // namespace

void EnumComPorts(std::vector<std::string>& list, const std::string& ttyClassDir) {
    std::vector<std::string> ports;
    std::error_code error;
    for (fs::directory_iterator it(ttyClassDir, error), end; it != end; it.increment(error)) {
        const fs::path& entry = it->path();
        std::error_code ignored;
        if (fs::exists(entry / "device", ignored) && !isEmptySlot(entry)) {
            ports.push_back(entry.filename().string());
        }
    }
    if (error)
        throw EComPort(23, error.value());
    addEnvironmentPorts(ports);
    sortIgnoringCase(ports);
    list = std::move(ports);
}

void EnumComPorts(std::vector<std::string>& list) {
    EnumComPorts(list, "/sys/class/tty");
}

std::string PortPath(const std::string& port) {
    return port.find('/') == std::string::npos ? "/dev/" + port : port;
}

std::string StableName(const std::string& port) {
    std::error_code error;
    const fs::path device = fs::canonical(PortPath(port), error);
    if (error)
        return {};
    for (fs::directory_iterator it("/dev/serial/by-id", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code ignored;
        if (fs::canonical(it->path(), ignored) == device)
            return it->path().string();
    }
    return {};
}

std::string DeviceIdentity(const std::string& port) {
    const std::string path = PortPath(port);
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return {};
    // A plugged-in device gets a new node; a change of its mode or owner (udev's, just after the
    // plug-in) is no new device, so the node's change time is not part of its identity. A name
    // that is a link (by-id, or a simulated box's) is made anew with each plug-in, and a link's
    // change time is its making.
    std::string identity = std::to_string(node.st_rdev) + ":" + std::to_string(node.st_ino);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        identity += ":" + std::to_string(link.st_ino) + ":" + std::to_string(link.st_ctim.tv_sec) +
                    "." + std::to_string(link.st_ctim.tv_nsec);
    return identity;
}

std::string DeviceOf(const std::string& port) {
    const std::string path = PortPath(port);
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0)
        return {};
    if (S_ISCHR(node.st_mode))
        return "device " + std::to_string(node.st_rdev);
    std::error_code error;
    return std::filesystem::canonical(path, error).string();
}

bool MayOpenUnasked(const std::string& port) {
    return port.starts_with('/') || port.starts_with("ttyACM") || port.starts_with("ttyUSB");
}

}  // namespace vek
