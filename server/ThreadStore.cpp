#include "server/ThreadStore.h"

#include <iostream>
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

bool streamBroken(const StoreError& error) {
    closeThreadStore();
    std::cerr << "vekhistory: " << error.what() << std::endl;
    return false;
}

}  // namespace vek::history
