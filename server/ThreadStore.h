#pragma once

#include <QString>

#include "history/HistoryStore.h"

namespace vek::history {

// A database connection belongs to one thread: each worker opens its own on first use.
void setThreadStoreLocation(const QString& location);  // before any worker starts
HistoryStore& threadStore();
// After a database error the connection may be dead: the next use opens a new one.
void closeThreadStore();
// A streamed answer the database broke off: the connection closed, the error logged; false, for
// the stream's provider to end the answer.
bool streamBroken(const StoreError& error);

}  // namespace vek::history
