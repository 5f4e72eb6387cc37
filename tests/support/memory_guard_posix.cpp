#include "tests/support/memory_guard.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

namespace qz::test {

void StopGrowingPast(long megabytes) {
    std::thread([megabytes] {
        const long pageSize = sysconf(_SC_PAGESIZE);
        while (true) {
            long pages = 0;
            long resident = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
                std::fclose(statm);
            }
            if (resident * pageSize > megabytes * 1024 * 1024) _exit(98);
            usleep(10 * 1000);
        }
    }).detach();
}

}  // namespace qz::test
