// The file converter's rate conversion, measured against libsoxr: what a
// listener hears of a tone in the pass band must match, and nothing else may
// come out of a tone in the pass band or above the output's Nyquist
// frequency. The measure is the test's own: a least-squares fit of the tone,
// and what is left over.
#include <gtest/gtest.h>
#include <soxr.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "codecs/PCMSampleConvert.h"
#include "components/PcmConverter.h"
#include "components/Resampler.h"

namespace kc = kv::components;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAmplitude = 16000;

std::vector<std::int16_t> tone(double hz, std::uint32_t rate, std::size_t n) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(2 * kPi * hz * i / rate)));
    return s;
}

std::vector<std::int16_t> ours(const std::vector<std::int16_t>& in, std::uint32_t from, std::uint32_t to) {
    std::vector<std::int16_t> out;
    kc::Resampler r(from, to);
    r.push(in.data(), in.size(), out);
    r.finish(out);
    return out;
}

std::vector<double> soxr(const std::vector<std::int16_t>& in, std::uint32_t from, std::uint32_t to) {
    std::vector<double> x(in.begin(), in.end()), y(in.size() * to / from + 1);
    std::size_t done = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    EXPECT_EQ(soxr_oneshot(from, to, 1, x.data(), x.size(), nullptr, y.data(), y.size(), &done, &io, &q, nullptr),
              nullptr);
    y.resize(done);
    return y;
}

// The tone's amplitude at `hz` in the middle half of `y` (edges carry the
// filters' start and end), and the energy left beside it, as dB of the
// test's full tone level.
struct Measure {
    double levelDb, restDb;
};

template <typename T>
Measure measure(const std::vector<T>& y, double hz, std::uint32_t rate) {
    const std::size_t a = y.size() / 4, b = y.size() * 3 / 4;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0, yy = 0;
    for (std::size_t i = a; i < b; ++i) {
        const double s = std::sin(2 * kPi * hz * i / rate), c = std::cos(2 * kPi * hz * i / rate), v = y[i];
        ss += s * s, cc += c * c, sc += s * c, ys += v * s, yc += v * c, yy += v * v;
    }
    const double det = ss * cc - sc * sc;
    const double p = (ys * cc - yc * sc) / det, q = (yc * ss - ys * sc) / det;
    const double n = static_cast<double>(b - a), full = kAmplitude * kAmplitude / 2;
    const double fitted = p * ys + q * yc;  // the fit's share of the energy
    const double rest = std::max(yy - fitted, 1e-9) / n;
    return {10 * std::log10(std::max((p * p + q * q) / 2, 1e-9) / full), 10 * std::log10(rest / full)};
}

struct Pair {
    std::uint32_t from, to;
};

class Rates : public ::testing::TestWithParam<Pair> {};

TEST_P(Rates, KeepThePassBandAndLetNothingElseThrough) {
    const auto [from, to] = GetParam();
    const double nyquist = std::min(from, to) / 2.0;
    // Across the pass band, then above the output's Nyquist frequency where
    // the input has anything there.
    std::vector<double> tones{0.05 * nyquist, 0.4 * nyquist, 0.85 * nyquist};
    for (double f : {1.08, 1.5, 2.7, 7.0})
        if (f * to / 2.0 < 0.97 * from / 2.0) tones.push_back(f * to / 2.0);
    for (double hz : tones) {
        SCOPED_TRACE(::testing::Message() << from << " -> " << to << " Hz, tone at " << hz << " Hz");
        const std::vector<std::int16_t> in = tone(hz, from, from / 4);
        const std::vector<std::int16_t> got = ours(in, from, to);
        EXPECT_NEAR(static_cast<double>(got.size()), in.size() * double(to) / from, 1.0);
        const Measure m = measure(got, hz, to);
        if (hz < nyquist) {
            const Measure ref = measure(soxr(in, from, to), hz, to);
            EXPECT_NEAR(m.levelDb, ref.levelDb, 0.5);
            EXPECT_LT(m.restDb, -60.0) << "level " << m.levelDb << " dB";
            std::printf("  %6u -> %6u  pass %8.1f Hz: %+.3f dB (soxr %+.3f), rest %.1f dB\n", from, to, hz, m.levelDb,
                        ref.levelDb, m.restDb);
        } else {
            EXPECT_LT(m.restDb, -60.0);
            std::printf("  %6u -> %6u  stop %8.1f Hz: %.1f dB\n", from, to, hz, m.restDb);
        }
    }
}

// 44101 Hz has too many phases for their taps to be kept: computed as they come.
INSTANTIATE_TEST_SUITE_P(Pairs, Rates,
                         ::testing::Values(Pair{48000, 16000}, Pair{44100, 16000}, Pair{8000, 16000},
                                           Pair{384000, 16000}, Pair{4000, 16000}, Pair{22050, 8000},
                                           Pair{11025, 192000}, Pair{44101, 16000}),
                         [](const auto& p) {
                             return std::to_string(p.param.from) + "to" + std::to_string(p.param.to);
                         });

// However the input is cut, the same samples come out.
TEST(Resampler, GivesTheSameOutputWhateverThePieces) {
    std::vector<std::int16_t> in(30000);
    std::uint32_t seed = 9;
    for (auto& v : in) v = static_cast<std::int16_t>((seed = seed * 1103515245u + 12345u) >> 16);
    for (const Pair p : {Pair{44100, 16000}, Pair{8000, 16000}, Pair{384000, 8000}}) {
        const std::vector<std::int16_t> whole = ours(in, p.from, p.to);
        for (std::size_t piece : {1u, 7u, 160u, 4099u}) {
            SCOPED_TRACE(::testing::Message() << p.from << " -> " << p.to << " in pieces of " << piece);
            kc::Resampler r(p.from, p.to);
            std::vector<std::int16_t> out;
            for (std::size_t at = 0; at < in.size(); at += piece)
                r.push(in.data() + at, std::min(piece, in.size() - at), out);
            r.finish(out);
            ASSERT_EQ(out, whole);
        }
    }
}

// Equal channels, however many, are the mono signal, at its level and to the
// bit, and so are channels a little above it (the mean is rounded down); two
// channels in opposition cancel.
TEST(PcmConverter, MixesChannelsDownByTheirMean) {
    const std::vector<std::int16_t> mono = tone(1000, 44100, 4410);
    const auto bytesOf = [](const std::vector<int>& v) {
        std::vector<BYTE> b;
        for (int s : v) b.push_back(static_cast<BYTE>(s & 0xFF)), b.push_back(static_cast<BYTE>((s >> 8) & 0xFF));
        return b;
    };
    std::vector<int> monoIn(mono.begin(), mono.end()), equal, opposed, three, six;
    for (int s : monoIn) {
        equal.insert(equal.end(), {s, s}), opposed.insert(opposed.end(), {s, -s});
        three.insert(three.end(), {s, s + 1, s + 1}), six.insert(six.end(), {s + 1, s, s, s + 1, s, s + 1});
    }
    const auto run = [&](int channels, const std::vector<int>& samples) {
        kc::PcmConverter c;
        const WAVEFORMATEX to = kv::codecs::pcmWaveFormat(1, 16000, 16);
        EXPECT_TRUE(c.init(kv::codecs::pcmWaveFormat(static_cast<WORD>(channels), 44100, 16), to));
        std::vector<BYTE> in = bytesOf(samples), out;
        c.convert(in.data(), in.size(), out);
        c.finish(out);
        return out;
    };
    const std::vector<BYTE> reference = run(1, monoIn);
    ASSERT_GT(reference.size(), 3000u);
    EXPECT_EQ(run(2, equal), reference);
    EXPECT_EQ(run(3, three), reference);
    EXPECT_EQ(run(6, six), reference);
    EXPECT_EQ(run(2, opposed), std::vector<BYTE>(reference.size(), 0));
}

}  // namespace
