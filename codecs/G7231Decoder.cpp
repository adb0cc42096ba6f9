#include "codecs/G7231Decoder.h"

namespace kv::codecs {

CG7231Decoder::CG7231Decoder() { reset(); }

void CG7231Decoder::reset() { kv::g7231::Init_Decod(m_state); }

void CG7231Decoder::decodeFrame(const std::uint8_t* frame, bool erased, std::int16_t out[kFrameSamples]) {
    // A missing frame can only be a lost one.
    kv::g7231::Decod(m_state, m_postFilter, frame, erased || frame == nullptr, out);
}

}  // namespace kv::codecs
