#include "codecs/G7231Codec.h"

#include "g7231/coder.h"

#include <algorithm>

namespace kv::codecs {

void CG7231Codec::initCodec() { kv::g7231::Init_Coder(m_state); }

int CG7231Codec::encodeG7231(const std::int16_t* pcm, int byteCount, std::uint8_t* out, int* outCount) {
    if (!pcm || !out || !outCount || byteCount <= 0 || byteCount % kFrameBytes != 0) return -1;
    const int frames = byteCount / kFrameBytes;
    for (int f = 0; f < frames; ++f) {
        // Coder uses its input as work space; a copy keeps the caller's PCM intact.
        kv::g7231::Word16 work[kv::g7231::Frame];
        std::copy_n(pcm + kv::g7231::Frame * f, kv::g7231::Frame, work);
        kv::g7231::Coder(m_state, work, out + kCodeBytes * f);
    }
    *outCount = frames * kCodeBytes;
    return *outCount;
}

}  // namespace kv::codecs
