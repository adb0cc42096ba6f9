#pragma once

// The header of a WAVE file around one stream of samples: 16-bit mono PCM,
// as the decoder's writers (kvdecode, the WAV file target) put it before the
// samples, or a coded stream (G.711, G.723.1) as kvencode puts it before its
// code.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace kv::components {

// The fields of the format chunk.
struct WavFormat {
    std::uint16_t tag;  // 1 PCM, 6 A-law, 7 mu-law, 0x0042 G.723.1
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint32_t bytesPerSecond;
    std::uint16_t blockAlign;
    std::uint16_t bits;
};

// dataBytes is the length of the stream that follows; a writer that does not
// know it yet writes the header again when it does (the header's length does
// not change), and a writer of an odd length adds a zero pad byte after it.
// A coded format gets the 18-byte format chunk (an empty extra size) and the
// "fact" chunk with its length in samples, as readers of coded WAVE files
// expect; PCM gets neither.
inline std::vector<std::uint8_t> wavHeader(const WavFormat& f, std::uint32_t dataBytes, std::uint32_t samples) {
    const bool coded = f.tag != 1;
    std::array<std::uint8_t, 58> h{};  // the longest: a coded format's
    std::size_t at = 0;
    const auto text = [&](const char(&s)[5]) {
        for (int i = 0; i < 4; ++i) h[at++] = static_cast<std::uint8_t>(s[i]);
    };
    const auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at++] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::uint32_t fmtBytes = coded ? 18 : 16, factBytes = coded ? 12 : 0;
    text("RIFF");
    le(4 + 8 + fmtBytes + factBytes + 8 + dataBytes + (dataBytes & 1), 4);
    text("WAVE");
    text("fmt ");
    le(fmtBytes, 4);
    le(f.tag, 2);
    le(f.channels, 2);
    le(f.rate, 4);
    le(f.bytesPerSecond, 4);
    le(f.blockAlign, 2);
    le(f.bits, 2);
    if (coded) {
        le(0, 2);  // no extra format bytes
        text("fact");
        le(4, 4);
        le(samples, 4);
    }
    text("data");
    le(dataBytes, 4);
    return std::vector<std::uint8_t>(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(at));
}

inline constexpr std::size_t kWavHeaderBytes = 44;

// 16-bit mono PCM.
inline std::array<std::uint8_t, kWavHeaderBytes> wavHeader(std::uint32_t sampleRate, std::uint32_t dataBytes) {
    const std::vector<std::uint8_t> v = wavHeader({1, 1, sampleRate, sampleRate * 2, 2, 16}, dataBytes, 0);
    std::array<std::uint8_t, kWavHeaderBytes> h{};
    std::copy(v.begin(), v.end(), h.begin());
    return h;
}

}  // namespace kv::components
