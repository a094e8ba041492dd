// Spares big model loads the cost of faulting in memory 4 KiB at a time.
#pragma once

#include <cstddef>

namespace qv {

// Asks the system to back a large, freshly reserved and not yet touched block
// with huge pages. A big model fills hundreds of megabytes of records, and on
// virtual machines the fault of every 4 KiB page costs more than parsing the
// bytes that fill it. Harmless (and skipped) for blocks under 2 MiB.
void PreferHugePages(void* data, std::size_t bytes);

}  // namespace qv
