#pragma once

#include <QString>
#include <QStringList>

namespace vek::history {

// The statements that bring a database from schema version `from` to `from + 1`.
QStringList migrationStatements(int from, bool postgres);

}  // namespace vek::history
