// Helpers shared by the benchmarks that print ratios against a baseline: timing, the memcpy
// baseline and a 32-bit bitmap of noise.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

#include <vector>
#include "core/platform/byte_reader.h"
#include "core/platform/ui_sink.h"

namespace kestrel::bench {

// A sink that shows nothing and answers every question with its default, for timing the core alone.
class QuietSink : public UiSink {
  public:
    void message(std::string_view, std::string_view, MessageIcon) override {}
    Answer ask(std::string_view, std::string_view, Buttons buttons, int defaultButton, MessageIcon) override {
        return buttonAnswer(buttons, defaultButton);
    }
    int showError() override { return 1; }
    void busy(bool) override {}
};

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

// The median time of copying `bytes` with memcpy, the floor any picture work is compared with.
inline double memcpyMilliseconds(const std::vector<std::byte>& bytes, int runs) {
    std::vector<std::byte> copy(bytes.size());
    return medianMilliseconds(runs, [&] {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        asm volatile("" : : "r"(copy.data()) : "memory");
    });
}

// A BMP file of side × side pixels of 32 bits with varying colours and alpha (xorshift noise).
inline std::vector<std::byte> makeNoiseBitmap32(std::uint32_t side) {
    const std::uint32_t pixelBytes = side * side * 4;
    ByteWriter out;
    out.u16(0x4D42);
    out.u32(14 + 40 + pixelBytes);
    out.u32(0);
    out.u32(14 + 40);
    for (std::uint32_t field : {40u, side, side, 1u | 32u << 16, 0u, pixelBytes})
        out.u32(field);
    out.zeros(16);
    std::uint32_t state = 0x9E3779B9u;
    for (std::uint32_t i = 0; i < side * side; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out.u32(state);
    }
    return out.bytes();
}

}  // namespace kestrel::bench
