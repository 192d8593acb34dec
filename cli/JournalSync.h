#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vek {

// Where a journal's sync stands.
struct SyncState {
    qint64 backlog = 0;  // whole lines written and not yet confirmed by the server
    QString problem;     // why the last send failed; empty when it went through
    qint64 refused = 0;  // lines the server refused or found in conflict, set aside in the log
};

// Sends a journal's lines to the history server, after they are in the journal: the journal stays
// the truth, the server's confirmations move a position kept beside it (JOURNAL.sync, replaced
// whole), and a line the server refuses goes to JOURNAL.refused with its reason before the
// position moves past it. Runs on a thread of its own and retries with growing pauses, so the
// server being away never slows the servicing. Thread-safe.
class JournalSync {
  public:
    using Changed = std::function<void(const SyncState&)>;

    JournalSync(const std::string& journal, const QString& url, const QString& token,
                Changed changed = {});
    ~JournalSync();  // stops at once; what is unsent stays for the next run
    JournalSync(const JournalSync&) = delete;
    JournalSync& operator=(const JournalSync&) = delete;

    void lineAppended();  // wakes the sender
    // Waits until every line is confirmed, a send fails or the limit passes; the state then.
    SyncState drain(std::chrono::milliseconds limit);
    SyncState state() const;

  private:
    void run();
    // One request with what waits; false when the server could not be reached.
    bool sendOnce();

    std::string journal_;
    QString url_, token_;
    Changed changed_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, progressed_;
    SyncState state_;
    bool appended_ = false, stopping_ = false;
    uint64_t attempts_ = 0;
    // A thread of Qt's own, whose network objects Qt sets up and takes down with it (an adopted
    // one left them to the program's exit, which crashed under Wine).
    std::unique_ptr<QThread> thread_;
};

// The confirmed position of a journal's sync: the bytes the server has answered for.
qint64 syncedPosition(const std::string& journal);

}  // namespace vek
