// The G.723.1 decoder (kv::codecs::CG7231Decoder) on arbitrary frames.
//
// Any bytes, any frame types, damaged fields and frames lost in transport,
// with the postfilter on and off: no fault, no undefined behaviour, and
// reset() gives a fresh stream: a decoder that first decoded the input with
// the other postfilter setting, then reset, gives the bytes a new one gives.
// Input: per frame, one byte whose low three bits all clear mark the frame
// lost, then the frame (its size from its first byte's type bits).
#include <cstring>
#include <vector>

#include "codecs/G7231Decoder.h"
#include "tests/fuzz/input.h"

namespace {

using kv::codecs::CG7231Decoder;

constexpr int kMaxFrames = 64;

struct Frame {
    bool lost;
    std::uint8_t bytes[CG7231Decoder::kMaxFrameBytes];
};

std::vector<Frame> framesOf(kvfuzz::Input& in) {
    std::vector<Frame> frames;
    while (!in.empty() && frames.size() < kMaxFrames) {
        Frame f{};
        f.lost = (in.byte() & 7) == 0;
        f.bytes[0] = in.byte();
        std::size_t got = 0;
        const std::uint8_t* rest = in.bytes(CG7231Decoder::frameBytes(f.bytes[0]) - 1, &got);
        std::memcpy(f.bytes + 1, rest, got);  // a short last frame ends in zeros
        frames.push_back(f);
    }
    return frames;
}

std::vector<std::int16_t> decodeAll(CG7231Decoder& dec, const std::vector<Frame>& frames) {
    std::vector<std::int16_t> out(frames.size() * CG7231Decoder::kFrameSamples);
    for (std::size_t i = 0; i < frames.size(); ++i)
        dec.decodeFrame(frames[i].lost ? nullptr : frames[i].bytes, frames[i].lost,
                        out.data() + i * CG7231Decoder::kFrameSamples);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kvfuzz::Input in(data, size);
    const bool postFilter = (in.byte() & 1) != 0;
    const std::vector<Frame> frames = framesOf(in);

    CG7231Decoder fresh;
    fresh.setPostFilter(postFilter);
    const std::vector<std::int16_t> want = decodeAll(fresh, frames);

    CG7231Decoder used;
    used.setPostFilter(!postFilter);
    decodeAll(used, frames);
    used.reset();
    used.setPostFilter(postFilter);
    KV_FUZZ_CHECK(decodeAll(used, frames) == want);
    return 0;
}
