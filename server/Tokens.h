#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "history/HistoryStore.h"

namespace vek::history {

// A new token: 32 random bytes from the system's generator, as URL-safe text.
QString newToken();
QByteArray tokenHash(const QByteArray& token);  // SHA-256, as stored
// The entry whose hash is the presented token's; every entry is compared in constant time, so
// the time taken tells nothing about how near a guess came.
std::optional<TokenEntry> matchToken(const std::vector<TokenEntry>& known,
                                     const QByteArray& presented);

}  // namespace vek::history
