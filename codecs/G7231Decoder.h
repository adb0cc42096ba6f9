#pragma once

// Turns G.723.1 frames (6.3 and 5.3 kbit/s, comfort-noise SID and
// untransmitted frames) back into 240 samples each.

#include <cstdint>

#include "g7231/decoder.h"

namespace kv::codecs {

class CG7231Decoder {
public:
    static constexpr int kFrameSamples = 240;
    static constexpr int kMaxFrameBytes = 24;

    // The size of the frame that starts with this byte: its two low bits
    // give the type (24, 20, 4 or 1 bytes).
    static constexpr int frameBytes(std::uint8_t first) {
        constexpr int kBytes[4] = {24, 20, 4, 1};
        return kBytes[first & 3];
    }

    // A fresh stream with the postfilter on.
    CG7231Decoder();
    CG7231Decoder(const CG7231Decoder&) = delete;
    CG7231Decoder& operator=(const CG7231Decoder&) = delete;

    // Starts a fresh stream; the postfilter choice is kept.
    void reset();

    bool postFilter() const { return m_postFilter; }
    void setPostFilter(bool on) { m_postFilter = on; }

    // Decodes one frame into out. frame holds frameBytes(frame[0]) bytes.
    // When the transport marks the frame erased its bytes are not read (frame
    // may then be null) and the frame is concealed.
    void decodeFrame(const std::uint8_t* frame, bool erased, std::int16_t out[kFrameSamples]);

private:
    // Each decoder owns its stream, held in place: decoding never allocates.
    kv::g7231::DecStat m_state;
    bool m_postFilter = true;
};

}  // namespace kv::codecs
