#pragma once

#include <QByteArray>
#include <string>

#include "history/HistoryStore.h"

namespace vek::history {

std::string visitCsvHeader();
// Appends the row of a stored visit: its line's fields, its UTC time and when the server received
// it.
void appendVisitCsvRow(std::string& out, const StoredVisit& visit);

}  // namespace vek::history
