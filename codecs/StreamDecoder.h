#pragma once

// One decoder for a byte stream of one of the formats we make, however the
// stream is cut into calls: G.723.1 frames are put back together across
// calls. Samples leave through a PcmOutput in pieces of a fixed buffer, so
// nothing is allocated per call.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codecs/G722Decoder.h"
#include "codecs/G7231Decoder.h"

namespace kv::codecs {

enum class StreamFormat {
    G711A,    // one A-law byte per sample
    G711U,    // one mu-law byte per sample
    G7231,    // G.723.1 frames of 24, 20, 4 or 1 bytes, 240 samples each
    Quorvan,  // one byte per sample, byte & 0x3F the G.722 low-band code
    G722,     // one G.722 code word per byte, two 16 kHz samples each
};

// Where decoded samples go.
class PcmOutput {
public:
    // count >= 1 samples, valid only during the call. A G.723.1 frame comes
    // in one call of its own.
    virtual void pcm(const std::int16_t* samples, int count) = 0;

protected:
    ~PcmOutput() = default;
};

class CStreamDecoder {
public:
    // bitsPerCode (8, 7 or 6) and alignment apply to G722 alone; the other
    // formats have one layout each.
    explicit CStreamDecoder(StreamFormat format, int bitsPerCode = 8, G722Alignment alignment = G722Alignment::Left);

    StreamFormat format() const { return m_format; }

    // Decodes count bytes. A G.723.1 frame the bytes do not complete is held
    // until a later call does.
    void decode(const std::uint8_t* bytes, std::size_t count, PcmOutput& out);

    // Marks the next frame to complete (the one held, if any) as lost in
    // transport: its bytes are taken but not read, and the frame is
    // concealed. G.723.1 alone has frames to conceal: for the other formats
    // nothing is marked and the result is false.
    bool frameLost();

    // Ends the stream: drops the bytes of a frame cut short, and a lost mark
    // not yet used; returns the bytes dropped. The decoder's state goes on,
    // as the encoders' flush leaves theirs.
    std::size_t flush();

    // A fresh stream; the postfilter choice is kept.
    void reset();

    // The G.723.1 postfilter, on by default.
    bool postFilter() const { return m_postFilter; }
    void setPostFilter(bool on);

    // Frames decoded since the reset: G.723.1 frames (lost ones included),
    // else code bytes. Bytes taken counts every byte given to decode.
    std::uint64_t frames() const { return m_frames; }
    std::uint64_t bytesTaken() const { return m_bytesTaken; }

private:
    void decodeFrame(const std::uint8_t* frame, PcmOutput& out);
    void decodeCodes(const std::uint8_t* bytes, std::size_t count, PcmOutput& out);

    // Room for a G.723.1 frame, and for the samples of a code run.
    static constexpr int kPieceSamples = 2 * CG7231Decoder::kFrameSamples;

    StreamFormat m_format;
    int m_bitsPerCode;
    G722Alignment m_alignment;
    bool m_postFilter = true;
    std::optional<CG7231Decoder> m_g7231;
    CG722Decoder m_g722;
    std::uint8_t m_held[CG7231Decoder::kMaxFrameBytes];
    int m_heldBytes = 0;
    bool m_lost = false;
    std::uint64_t m_frames = 0;
    std::uint64_t m_bytesTaken = 0;
    std::int16_t m_pcm[kPieceSamples];
};

}  // namespace kv::codecs
