#include "serial/EnumComPorts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "serial/EComPort.h"
#include "serial/EnumComPortsAt.h"

namespace vek {
namespace {

namespace fs = std::filesystem;

// A tty class directory of our own, shaped as sysfs shapes it.
class FakeTtyClass {
  public:
    FakeTtyClass() {
        std::string pattern = (fs::temp_directory_path() / "vek-tty-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(root_ / "devices" / "hw");
        fs::create_directory(root_ / "tty");
    }
    ~FakeTtyClass() { fs::remove_all(root_); }

    // An entry with hardware behind it, as a `device` link; portType only for serial core slots.
    void add(const std::string& name, std::optional<int> portType = std::nullopt) {
        const fs::path entry = root_ / "tty" / name;
        fs::create_directory(entry);
        fs::create_directory_symlink(root_ / "devices" / "hw", entry / "device");
        if (portType)
            std::ofstream(entry / "type") << *portType << "\n";
    }
    // A virtual terminal: no device.
    void addVirtual(const std::string& name) { fs::create_directory(root_ / "tty" / name); }

    std::string dir() const { return (root_ / "tty").string(); }

  private:
    fs::path root_;
};

// Sets VEKTOOL_PORTS for one test.
class PortsVariable {
  public:
    explicit PortsVariable(const char* value) {
        if (const char* old = std::getenv("VEKTOOL_PORTS"))
            old_ = old;
        if (value != nullptr) {
            setenv("VEKTOOL_PORTS", value, 1);
        } else {
            unsetenv("VEKTOOL_PORTS");
        }
    }
    ~PortsVariable() {
        if (old_) {
            setenv("VEKTOOL_PORTS", old_->c_str(), 1);
        } else {
            unsetenv("VEKTOOL_PORTS");
        }
    }

  private:
    std::optional<std::string> old_;
};

TEST(EnumComPorts, ListsHardwareSortedWithoutRegardToCase) {
    const PortsVariable none(nullptr);
    FakeTtyClass tty;
    tty.add("COM3");
    tty.add("COM10");
    tty.add("COM2");
    tty.add("com1");
    tty.add("ttyUSB0");
    tty.add("ttyS0", 0);  // legacy slot, no UART found
    tty.add("ttyS1", 4);  // a real 16550A
    tty.addVirtual("tty0");
    tty.addVirtual("ptmx");

    std::vector<std::string> list{"stale"};
    EnumComPorts(list, tty.dir());
    EXPECT_EQ(list,
              (std::vector<std::string>{"com1", "COM10", "COM2", "COM3", "ttyS1", "ttyUSB0"}));
}

TEST(EnumComPorts, AddsThePathsOfTheVariableRelativeOnesFromTheWorkingFolder) {
    const PortsVariable ports(":/tmp/vek-b::/dev/pts/7:relative:");
    FakeTtyClass tty;
    tty.add("ttyACM0");

    std::vector<std::string> list;
    EnumComPorts(list, tty.dir());
    const std::string relative = std::filesystem::current_path() / "relative";
    EXPECT_EQ(std::set(list.begin(), list.end()),
              (std::set<std::string>{"/dev/pts/7", "/tmp/vek-b", relative, "ttyACM0"}));
}

TEST(EnumComPorts, UnreadableDeviceListRaisesAndKeepsTheList) {
    std::vector<std::string> list{"ttyUSB0"};
    try {
        EnumComPorts(list, "/nonexistent/vek/tty");
        ADD_FAILURE() << "no error";
    } catch (const EComPort& error) {
        EXPECT_EQ(error.ErrorCode(), 23);
        EXPECT_EQ(error.SystemCode(), 2);
        EXPECT_STREQ(error.what(), "Registry error (win error code: 2)");
    }
    EXPECT_EQ(list, std::vector<std::string>{"ttyUSB0"});
}

}  // namespace
}  // namespace vek
