#pragma once

#include <QJsonObject>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace vek {

// How vekctl speaks: results on stdout, messages and progress on stderr. With json, stdout carries
// JSON only: exactly one document, or for a stream (an update's events) one object a line, its
// progress among them; a document's progress events go to stderr. With quiet, only errors reach
// stderr. A progress bar is drawn only when stderr is a terminal. Safe to use from several
// threads.
class Output {
  public:
    Output(bool json, bool quiet, bool stream = false);

    bool json() const { return json_; }
    // The result: text on stdout, or the object as one JSON line.
    void result(const std::string& text, const QJsonObject& object);
    void jsonLine(const QJsonObject& object);
    void message(const std::string& text);  // stderr, unless quiet
    void error(const std::string& text);    // stderr, always

    // Progress of a long operation: a bar on a terminal, at most a few JSON events a second.
    void progress(const std::string& what, uint32_t done, uint32_t total);
    void endProgress();

  private:
    void clearBarLocked();

    bool json_;
    bool quiet_;
    bool stream_;
    bool barOnTerminal_;
    std::mutex mutex_;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point started_{}, lastDrawn_{};
    std::string drawing_;
};

}  // namespace vek
