// Timing helper shared by the whole-program benchmarks that print ratios against a baseline.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace kestrel::bench {

// The median of `runs` timings of `work`, in milliseconds.
template <typename Work>
double medianMilliseconds(int runs, Work work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace kestrel::bench
