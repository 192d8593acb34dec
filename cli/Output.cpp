#include "cli/Output.h"

#include "cli/Console.h"

#include <QJsonDocument>
#include <cstdio>

namespace vek {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kBarRedraw = std::chrono::milliseconds(100);
constexpr auto kJsonProgressEvery = std::chrono::milliseconds(250);
constexpr int kBarWidth = 30;

std::string minutesAndSeconds(double seconds) {
    const int whole = int(seconds + 0.5);
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", whole / 60, whole % 60);
    return text;
}
}  // namespace

Output::Output(bool json, bool quiet, bool stream)
    : json_(json),
      quiet_(quiet),
      stream_(stream),
      barOnTerminal_(!json && !quiet && stderrIsTerminal()) {}

void Output::result(const std::string& text, const QJsonObject& object) {
    if (json_)
        return jsonLine(object);
    const std::lock_guard lock(mutex_);
    clearBarLocked();
    std::fputs(text.c_str(), stdout);
    if (!text.empty() && text.back() != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Output::jsonLine(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    const std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
}

void Output::message(const std::string& text) {
    if (quiet_)
        return;
    const std::lock_guard lock(mutex_);
    clearBarLocked();
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', stderr);
}

void Output::error(const std::string& text) {
    const std::lock_guard lock(mutex_);
    clearBarLocked();
    std::fprintf(stderr, "vekctl: %s\n", text.c_str());
}

void Output::progress(const std::string& what, uint32_t done, uint32_t total) {
    const auto now = Clock::now();
    const std::lock_guard lock(mutex_);
    if (what != drawing_) {
        drawing_ = what;
        started_ = now;
        lastDrawn_ = {};
    }
    const bool last = done >= total;
    if (json_) {
        if (!last && now - lastDrawn_ < kJsonProgressEvery)
            return;
        lastDrawn_ = now;
        const QJsonObject event{{"event", "progress"},
                                {"operation", QString::fromStdString(what)},
                                {"done", qint64(done)},
                                {"total", qint64(total)}};
        if (!stream_ && quiet_)
            return;
        const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
        std::FILE* to = stream_ ? stdout : stderr;
        std::fwrite(line.data(), 1, std::size_t(line.size()), to);
        std::fflush(to);
        return;
    }
    if (!barOnTerminal_ || (!last && now - lastDrawn_ < kBarRedraw))
        return;
    lastDrawn_ = now;
    const double share = total == 0 ? 1.0 : double(done) / total;
    const int filled = int(share * kBarWidth);
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const std::string left =
        done == 0 ? "?:??" : minutesAndSeconds(elapsed / share * (1.0 - share));
    std::fprintf(stderr, "\r%s [%s%s] %3d%% %s restante ", what.c_str(),
                 std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(kBarWidth - filled), '.').c_str(), int(share * 100),
                 left.c_str());
    std::fflush(stderr);
    barShown_ = true;
}

void Output::endProgress() {
    const std::lock_guard lock(mutex_);
    clearBarLocked();
    drawing_.clear();
}

void Output::clearBarLocked() {
    if (!barShown_)
        return;
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
}

}  // namespace vek
