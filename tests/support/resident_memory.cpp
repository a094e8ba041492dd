// Reads the process's resident memory from /proc.
#include "tests/support/resident_memory.h"

#include <malloc.h>
#include <unistd.h>

#include <fstream>

namespace qv {

double ResidentMegabytes() {
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

}  // namespace qv
