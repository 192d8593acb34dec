#include "server/ThreadStore.h"

#include <memory>

namespace vek::history {

namespace {

QString storeLocation;
thread_local std::unique_ptr<HistoryStore> store;

}  // namespace

void setThreadStoreLocation(const QString& location) {
    storeLocation = location;
}

HistoryStore& threadStore() {
    if (!store)
        store = std::make_unique<HistoryStore>(storeLocation);
    return *store;
}

void closeThreadStore() {
    store.reset();
}

}  // namespace vek::history
