// The G.723.1 frame coder (kv::g7231::Coder) on arbitrary frames.
//
// The G.723.1 frame coder on arbitrary sample frames: no fault, no undefined
// behaviour, and the same frames coded twice give the same bits, once from a
// state zeroed before Init_Coder and once from one full of garbage (nothing
// read uninitialised, nothing kept outside the state).
#include <algorithm>
#include <cstring>
#include <vector>

#include "g7231/coder.h"
#include "tests/fuzz/input.h"

namespace {

constexpr std::size_t kFrameBytes = 2 * kv::g7231::Frame;
constexpr std::size_t kMaxFrames = 4;  // a frame costs milliseconds under the sanitizers

std::vector<std::uint8_t> codeAll(const std::uint8_t* data, std::size_t frames, std::size_t size, int garbage) {
    // Whatever the state held before, Init_Coder must set every field that matters.
    kv::g7231::CodStat state;
    std::memset(&state, garbage, sizeof state);
    kv::g7231::Init_Coder(state);
    std::vector<std::uint8_t> out(frames * 24);
    for (std::size_t f = 0; f < frames; ++f) {
        kv::g7231::Word16 buffer[kv::g7231::Frame] = {};
        const std::size_t at = f * kFrameBytes;
        // The last frame may be short: the rest of it is silence.
        std::memcpy(buffer, data + at, std::min(kFrameBytes, size - at));
        kv::g7231::Coder(state, buffer, out.data() + f * 24);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t frames = std::min(kMaxFrames, (size + kFrameBytes - 1) / kFrameBytes);
    if (frames == 0) return 0;
    size = std::min(size, frames * kFrameBytes);
    const std::vector<std::uint8_t> first = codeAll(data, frames, size, 0x00);
    const std::vector<std::uint8_t> second = codeAll(data, frames, size, 0xA5);
    KV_FUZZ_CHECK(first == second);
    return 0;
}
