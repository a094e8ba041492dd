// The process's resident memory, for tests that check that long runs give back what they take.
#pragma once

namespace qv {

// Resident memory in MiB once freed blocks have gone back to the system, so
// that what the allocator merely keeps cached does not count as growth.
double ResidentMegabytes();

}  // namespace qv
