#pragma once

// Band-limited sample rate conversion of one channel of 16-bit samples.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv::components {

// Windowed-sinc interpolation from a fixed prototype (ResamplerTable.inc),
// evaluated at exact rational positions: output sample n sits at input time
// n * from / to, and every tap's distance from it is an integer fraction of
// max(from, to), looked up in the table with linear interpolation between
// its points. A fine table with interpolation serves every pair of rates
// with one 50 KB table. The taps of each phase (an output sample's position
// between two input samples) are kept once computed from it, in integers,
// when the rates have few enough phases: every common pair has.
//
// Integer arithmetic only, so that every build gives the same samples. The
// pass band reaches 0.45 of the slower side's rate, the stop band starts at
// its Nyquist frequency, more than 75 dB down. The input is taken as silent
// before its start and after its end; the output is the same whatever the
// pieces the input comes in.
class Resampler {
public:
    // Rates from 1 to 384000 Hz, different or not.
    Resampler(std::uint32_t fromRate, std::uint32_t toRate);

    // Takes `count` samples and appends every output sample they complete.
    void push(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>& out);
    // The input has ended: appends the rest, up to ceil(inputs * to / from)
    // samples in all. Nothing may be pushed after it.
    void finish(std::vector<std::int16_t>& out);

private:
    template <class Use>
    void taps(std::int32_t distance, Use&& use) const;
    std::int16_t sampleAt() const;
    void advance();
    void produce(std::vector<std::int16_t>& out, bool ending);

    std::int32_t m_from, m_to, m_span;     // the rates, and the larger of them
    std::int64_t m_reach;                  // input samples either side a tap may touch
    std::uint32_t m_inverse;               // 2^32 / m_span, for the interpolation weight
    std::int32_t m_stepWhole, m_stepRest;  // one input sample in table points: whole and rest / m_span
    std::vector<std::int16_t> m_in;        // input samples from index m_base on
    std::int64_t m_base;
    std::int64_t m_taken = 0;  // input samples pushed
    std::int64_t m_k0 = 0;     // the input sample at or before the next output
    std::int32_t m_num = 0;    // how far past it, in 1/m_to of a sample
    std::int32_t m_step = 1;   // what m_num is always a multiple of
    // The taps of every phase, when they fit: phase p's left side from
    // m_first[2p], its right side from m_first[2p + 1] to m_first[2p + 2].
    std::vector<std::int32_t> m_kept;
    std::vector<std::uint32_t> m_first;
};

}  // namespace kv::components
