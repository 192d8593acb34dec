#include "cli/JournalSync.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>

#include "history/JournalLine.h"

namespace vek {

namespace {

constexpr int kLinesPerRequest = 500;
constexpr qint64 kBytesPerRequest = 4 << 20;
constexpr auto kRequestLimit = std::chrono::seconds(20);
constexpr auto kFirstPause = std::chrono::milliseconds(500);
constexpr auto kLongestPause = std::chrono::seconds(30);
constexpr auto kIdleLook = std::chrono::seconds(5);  // lines appended by another program

QString positionFile(const std::string& journal) {
    return QString::fromStdString(journal) + ".sync";
}

void savePosition(const std::string& journal, qint64 position) {
    QSaveFile file(positionFile(journal));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray::number(position) + "\n");
        file.commit();
    }
}

// The whole lines from position on, and how many there are in all.
struct Pending {
    QByteArray lines;  // at most one request's worth, each with its line end
    qint64 total = 0;
};

Pending pendingFrom(const std::string& journal, qint64 position) {
    Pending pending;
    QFile file(QString::fromStdString(journal));
    if (!file.open(QIODevice::ReadOnly) || !file.seek(position))
        return pending;
    bool full = false;
    QByteArray carried;  // the start of a line that runs on into the next piece
    for (QByteArray piece; !(piece = file.read(1 << 20)).isEmpty();) {
        const QByteArray data = carried + piece;
        qsizetype from = 0;
        for (qsizetype end; (end = data.indexOf('\n', from)) >= 0; from = end + 1) {
            ++pending.total;
            full = full || pending.total > kLinesPerRequest ||
                   pending.lines.size() + (end + 1 - from) > kBytesPerRequest;
            if (!full)
                pending.lines += data.sliced(from, end + 1 - from);
        }
        carried = data.sliced(from);
    }
    return pending;
}

}  // namespace

qint64 syncedPosition(const std::string& journal) {
    QFile file(positionFile(journal));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 position = file.readAll().trimmed().toLongLong();
    // A journal made anew since is sent from its start: the server knows the lines it has.
    return position <= QFile(QString::fromStdString(journal)).size() ? position : 0;
}

JournalSync::JournalSync(const std::string& journal, const QString& url, const QString& token,
                         Changed changed)
    : journal_(journal),
      url_(url.endsWith('/') ? url.chopped(1) : url),
      token_(token),
      changed_(std::move(changed)) {
    state_.backlog = pendingFrom(journal_, syncedPosition(journal_)).total;
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
}

JournalSync::~JournalSync() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_->wait();
}

void JournalSync::lineAppended() {
    {
        const std::lock_guard lock(mutex_);
        appended_ = true;
        ++state_.backlog;
    }
    wake_.notify_all();
}

SyncState JournalSync::state() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

SyncState JournalSync::drain(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    appended_ = true;
    wake_.notify_all();
    const uint64_t before = attempts_;
    progressed_.wait_for(lock, limit, [&] {
        return state_.backlog == 0 || (attempts_ > before && !state_.problem.isEmpty());
    });
    return state_;
}

void JournalSync::run() {
    auto pause = kFirstPause;
    for (;;) {
        const bool reached = sendOnce();
        std::unique_lock lock(mutex_);
        if (stopping_)
            return;
        if (!reached) {
            // The server is away: try again later, whatever is appended meanwhile.
            wake_.wait_for(lock, pause, [&] { return stopping_; });
            pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
            continue;
        }
        pause = kFirstPause;
        if (state_.backlog > 0)
            continue;
        wake_.wait_for(lock, kIdleLook, [&] { return stopping_ || appended_; });
        appended_ = false;
        if (stopping_)
            return;
    }
}

bool JournalSync::sendOnce() {
    const qint64 position = syncedPosition(journal_);
    const Pending pending = pendingFrom(journal_, position);
    const auto report = [&](qint64 backlog, const QString& problem, qint64 refused) {
        SyncState now;
        {
            const std::lock_guard lock(mutex_);
            ++attempts_;
            const bool changed = state_.backlog != backlog || state_.problem != problem;
            state_.backlog = backlog;
            state_.problem = problem;
            state_.refused += refused;
            now = state_;
            progressed_.notify_all();
            if (!changed && refused == 0)
                return;
        }
        if (changed_)
            changed_(now);
    };
    if (pending.lines.isEmpty()) {
        report(0, {}, 0);
        return true;
    }

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(url_ + "/api/v1/visits"));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-ndjson");
    request.setRawHeader("X-Vek-Backlog", QByteArray::number(pending.total));
    if (!token_.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token_.toUtf8());
    request.setTransferTimeout(int(std::chrono::milliseconds(kRequestLimit).count()));
    QNetworkReply* reply = network.post(request, pending.lines);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer stopLook;  // a destructor waiting for the thread ends the wait early
    QObject::connect(&stopLook, &QTimer::timeout, &loop, [&] {
        const std::lock_guard lock(mutex_);
        if (stopping_)
            loop.quit();
    });
    stopLook.start(100);
    loop.exec();
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError || status != 200) {
        const QString why = !reply->isFinished()         ? "interrompido"
                            : answer.contains("message") ? answer.value("message").toString()
                                                         : reply->errorString();
        report(pending.total, why, 0);
        return false;
    }

    // The answers name the lines by their number in the request; refused and conflicting ones
    // are set aside in the log before the position moves past them.
    const QList<QByteArray> lines = pending.lines.split('\n');
    QByteArray setAside;
    for (const QJsonValue& value : answer.value("results").toArray()) {
        const QJsonObject result = value.toObject();
        const QString outcome = result.value("result").toString();
        if (outcome == "stored" || outcome == "duplicate")
            continue;
        const qsizetype number = result.value("line").toInteger();
        setAside += QJsonDocument(QJsonObject{{"result", outcome},
                                              {"reason", result.value("reason")},
                                              {"message", result.value("message")}})
                        .toJson(QJsonDocument::Compact) +
                    "\t" + lines.value(number - 1) + "\n";
    }
    if (!setAside.isEmpty()) {
        QFile log(QString::fromStdString(journal_) + ".refused");
        if (!log.open(QIODevice::Append) || log.write(setAside) != setAside.size() ||
            !log.flush()) {
            report(pending.total, "o registro das linhas recusadas não pôde ser gravado", 0);
            return false;
        }
    }
    savePosition(journal_, position + pending.lines.size());
    report(pending.total - (lines.size() - 1), {}, setAside.count('\n'));
    return true;
}

}  // namespace vek
