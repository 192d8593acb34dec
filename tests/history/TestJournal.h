#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "history/JournalLine.h"

// A station's journal as its one writer keeps it: each line chained to the one before.
class TestJournal {
  public:
    explicit TestJournal(const QString& station);

    // The next line with its line end; fields add to or replace the visit's defaults.
    QByteArray next(const QString& identifier, const QJsonObject& fields = {});
    // Leaves a seq out, as if its line never arrived.
    void skip() { ++seq_; }

    const QString& id() const { return journal_; }

  private:
    QString station_, journal_, prev_;
    qint64 seq_ = 1;
};
