#pragma once

// The 44-byte header of a PCM WAVE file of 16-bit mono samples, as the
// decoder's writers (kvdecode, the WAV file target) put it before the samples.

#include <array>
#include <cstdint>

namespace kv::components {

inline constexpr std::size_t kWavHeaderBytes = 44;

// dataBytes is the length of the samples that follow; a writer that does not
// know it yet writes the header again when it does.
constexpr std::array<std::uint8_t, kWavHeaderBytes> wavHeader(std::uint32_t sampleRate, std::uint32_t dataBytes) {
    std::array<std::uint8_t, kWavHeaderBytes> h{};
    std::size_t at = 0;
    const auto text = [&](const char(&s)[5]) {
        for (int i = 0; i < 4; ++i) h[at++] = static_cast<std::uint8_t>(s[i]);
    };
    const auto le = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at++] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    text("RIFF");
    le(36 + dataBytes, 4);
    text("WAVE");
    text("fmt ");
    le(16, 4);              // chunk size
    le(1, 2);               // PCM
    le(1, 2);               // mono
    le(sampleRate, 4);
    le(sampleRate * 2, 4);  // bytes per second
    le(2, 2);               // block alignment
    le(16, 2);              // bits per sample
    text("data");
    le(dataBytes, 4);
    return h;
}

}  // namespace kv::components
