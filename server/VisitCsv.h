#pragma once

#include <QByteArray>
#include <string>

#include "history/HistoryStore.h"

namespace vek::history {

std::string visitCsvHeader();
// One row for a stored visit: its line's fields, its UTC time and when the server received it.
std::string visitCsvRow(const StoredVisit& visit);

}  // namespace vek::history
