#pragma once
// serve given several cards: a worker process per card, each a serve of that card alone.

#include <string>

#include "Options.h"

namespace sorrelctl {

// Serves each --card on its socket (the first on first, each further one on
// service::CardSocketPath) until every worker has ended; termination signals are passed on to
// them. 0 when every worker ended cleanly; otherwise 1, each other end said in one line.
// Throws CUsageError for a card not named by its address, or named twice.
int ServeCards(const COptions& options, const std::string& first);

}  // namespace sorrelctl
