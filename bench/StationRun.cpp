// The provisioning station as a bench runs it: vekctl provision as a program against simulated
// boxes on a USB-like link.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstring>
#include <memory>

#include "bench/Flows.h"
#include "config/Presets.h"
#include "config/Profile.h"
#include "sim/SimBox.h"
#include "sim/SimStation.h"
#include "transfer/FirmwareImage.h"

extern char** environ;

namespace vek::bench {

namespace {
constexpr int kReplyDelayMs = 1;  // a USB link's turnaround, about
}

StationFigures provisionRun(int boxCount, const std::string& vekctl, const std::string& journal,
                            const std::string& syncUrl, int pauseMs) {
    StationFigures figures;
    figures.boxes = boxCount;
    QTemporaryDir dir;
    const std::string profile = dir.filePath("fleet.json").toStdString();
    {
        QFile file(QString::fromStdString(profile));
        file.open(QIODevice::WriteOnly);
        file.write(profileJson({"fleet", std::nullopt, presetPanel(trevaloPreset())}));
    }
    // Each box wants the whole image, then the profile written and verified.
    SimFaults lateReplies;
    lateReplies.delayMs = kReplyDelayMs;
    SimBoxGroup group;  // one thread serves every box
    std::vector<std::unique_ptr<SimBox>> boxes;
    std::vector<std::string> args{vekctl, "provision", "--profile", profile};
    if (!journal.empty())
        args.insert(args.end(), {"--record", journal});
    if (!syncUrl.empty())
        args.insert(args.end(), {"--sync", syncUrl});
    SimModel model = fieldBox(30, 100);
    model.newFirmwarePauseMs = pauseMs;
    for (int k = 0; k < boxCount; ++k) {
        boxes.push_back(std::make_unique<SimBox>(SimStation::modelOf({.model = model}, k),
                                                 lateReplies, std::string(), &group));
        boxes.back()->start();
        args.push_back("-p");
        args.push_back(boxes.back()->portPath());
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const auto selfCpu = [] {
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        return double(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
               double(self.ru_utime.tv_usec + self.ru_stime.tv_usec) * 1e-6;
    };
    const double boxesBefore = selfCpu();
    const auto start = std::chrono::steady_clock::now();
    const int error = posix_spawn(&pid, vekctl.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        figures.failure = vekctl + ": " + std::strerror(error);
        return figures;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    figures.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.boxesCpuS = selfCpu() - boxesBefore;
    figures.cpuS = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    const auto image = FirmwareImage();
    const std::vector<uint8_t> carried(image.begin(), image.end());
    for (const auto& box : boxes)
        if (box->firmwareReceived() != carried || box->stats().configWritesCompleted != 1)
            figures.failure = "a box was not serviced";
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && figures.failure.empty();
    if (figures.failure.empty() && !figures.ok)
        figures.failure = "vekctl provision exited with " + std::to_string(WEXITSTATUS(status));
    return figures;
}

}  // namespace vek::bench
