#pragma once

// Random inputs for the codebook searches' differential tests, drawn to sit
// around the bounds their fast paths rely on: levels up to full scale,
// one-signed signals, a stray -32768, loud resonant impulse responses.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>

#include "g7231/coder_state.h"

namespace kv::g7231 {

struct Draw {
    std::mt19937& rng;
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

    template <size_t N>
    std::array<Word16, N> signal() {
        const int level = 1 << uniform(3, 15);
        const bool oneSigned = uniform(0, 3) == 0;
        std::array<Word16, N> s;
        for (auto& v : s) {
            const int x = uniform(-level, level - 1);
            v = static_cast<Word16>(oneSigned ? -std::abs(x) : x);
        }
        if (uniform(0, 4) == 0) s[uniform(0, N - 1)] = MIN_16;
        return s;
    }

    std::array<Word16, SubFrLen> response() {
        const double gain = std::ldexp(1.0, uniform(0, 3)), decay = 0.5 + 0.49 * uniform(0, 100) / 100.0;
        const double w = 0.05 + 3.0 * uniform(0, 100) / 100.0;
        std::array<Word16, SubFrLen> h;
        h[0] = 0x2000;
        for (int i = 1; i < SubFrLen; i++) {
            const double v = gain * 8192.0 * std::pow(decay, i) * std::cos(w * i);
            h[i] = static_cast<Word16>(std::clamp(std::lround(v), -32768L, 32767L));
        }
        return h;
    }
};

}  // namespace kv::g7231
