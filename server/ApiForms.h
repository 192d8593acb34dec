#pragma once

// What the read API takes (filters, pages) and gives (a box), shared with the pages.

#include <httplib.h>

#include <QJsonObject>
#include <QString>

#include "history/HistoryStore.h"

namespace vek::history {

QString param(const httplib::Request& req, const char* name);

// The filters of a list from its query (q, identifier, firmware, profile, result, station, since,
// until); throws Refusal for a date that is none.
HistoryFilter filterOf(const httplib::Request& req);

struct Page {
    PageKey after;
    int limit;
};
// The page asked for (after, limit); throws Refusal for a marker or size that is not ours.
Page pageOf(const httplib::Request& req);

// A box's latest state as the API and the downloads give it.
QJsonObject boxJson(const BoxState& box);

}  // namespace vek::history
