// Spares big loads the cost of faulting in memory 4 KiB at a time.
#pragma once

#include <cstddef>

namespace qv {

// Asks the system to back a large, freshly reserved and not yet touched block
// with huge pages. A big model fills hundreds of megabytes of records, and on
// virtual machines the fault of every 4 KiB page costs more than parsing the
// bytes that fill it. Harmless (and skipped) for blocks under 2 MiB.
void PreferHugePages(void* data, std::size_t bytes);

// Faults in, with one call, the whole pages of a block about to be written
// in full, instead of one fault per page inside the writing loop: several
// times cheaper where faults are dear, as on virtual machines. Contents are
// kept. Skipped for blocks under 64 KiB, and a hint only: where the system
// cannot, the writes fault as before. Call PreferHugePages first where both
// are wanted, or the pages come in small.
void PrefaultForWriting(void* data, std::size_t bytes);

}  // namespace qv
