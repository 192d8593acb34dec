#include "bench/Figures.h"

#include <sys/resource.h>
#include <time.h>

namespace vek::bench {

Instant Instant::now() {
    Instant at;
    at.wall = std::chrono::steady_clock::now();
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    at.cpuS = double(cpu.tv_sec) + double(cpu.tv_nsec) * 1e-9;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    at.switches = usage.ru_nvcsw + usage.ru_nivcsw;
    return at;
}

void RunFigures::between(const Instant& start, const Instant& end) {
    wallS = std::chrono::duration<double>(end.wall - start.wall).count();
    cpuS = end.cpuS - start.cpuS;
    switches = end.switches - start.switches;
}

}  // namespace vek::bench
