#pragma once

#include <httplib.h>

namespace vek::history {

// The fleet's pages in the browser: overview at /, boxes at /caixas (with CSV and JSON of the
// filtered list), one box at /caixa?id=..., stations at /estacoes, and their CSS and script.
// A reader token opens them (the browser asks for it as the password); an open server shows
// them to everyone.
void addFleetPages(httplib::Server& http, bool open);

}  // namespace vek::history
