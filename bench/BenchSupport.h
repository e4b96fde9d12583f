#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace kovra::bench {

// The process's resident memory in MB, from /proc/self/statm; 0 when unreadable.
inline double residentMB()
{
    long pages = 0;
    long resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The upper median of `values` (one of them; none may be empty).
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace kovra::bench
