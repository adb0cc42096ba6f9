// Reference vectors of tests/data/g7231 for the coder tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "g7231/coder.h"

namespace g7231_test {

inline std::string vectorDir() { return std::string(KV_TEST_DATA_DIR) + "/g7231/"; }

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Whole 240-sample frames of a raw 16-bit little-endian file; a trailing
// partial frame is dropped, as the encoder never codes it.
inline std::vector<std::vector<int16_t>> readPcmFrames(const std::string& path) {
    const std::vector<uint8_t> bytes = readBytes(path);
    std::vector<std::vector<int16_t>> frames(bytes.size() / (2 * kv::g7231::Frame));
    for (size_t f = 0; f < frames.size(); f++) {
        frames[f].resize(kv::g7231::Frame);
        for (int i = 0; i < kv::g7231::Frame; i++) {
            const size_t at = (f * kv::g7231::Frame + i) * 2;
            frames[f][i] = static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8));
        }
    }
    return frames;
}

// Encodes one frame; the input copy is the coder's work space.
inline std::vector<uint8_t> encodeFrame(kv::g7231::CodStat& cs, std::vector<int16_t> pcm) {
    std::vector<uint8_t> out(24);
    kv::g7231::Coder(cs, pcm.data(), out.data());
    return out;
}

inline std::vector<uint8_t> encodeAll(const std::vector<std::vector<int16_t>>& frames) {
    kv::g7231::CodStat cs;
    kv::g7231::Init_Coder(cs);
    std::vector<uint8_t> out;
    for (const auto& f : frames) {
        const std::vector<uint8_t> code = encodeFrame(cs, f);
        out.insert(out.end(), code.begin(), code.end());
    }
    return out;
}

}  // namespace g7231_test
