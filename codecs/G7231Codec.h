#pragma once

// Hands whole 240-sample frames to the G.723.1 coder at 6.3 kbit/s.

#include "g7231/coder_state.h"

#include <cstdint>

namespace kv::codecs {

class CG7231Codec {
public:
    static constexpr int kFrameBytes = 2 * kv::g7231::Frame;  // 480
    static constexpr int kCodeBytes = 24;

    // Starts a new stream on this codec's own coder state.
    void initCodec();

    // Codes byteCount / 480 frames of pcm into 24 bytes each at out. Returns
    // the bytes written (also stored in *outCount), or -1, leaving *outCount
    // as it was, when byteCount is not a positive multiple of 480 or a
    // pointer is null. The caller's samples are left untouched.
    int encodeG7231(const std::int16_t* pcm, int byteCount, std::uint8_t* out, int* outCount);

private:
    kv::g7231::Crate m_rate = kv::g7231::Rate63;
    // Each codec owns its stream: two encoder objects never share or reset
    // each other's history. Zeroed until initCodec so it is never read unset.
    kv::g7231::CodStat m_state{};
};

}  // namespace kv::codecs
