// Serialisation of one frame's parameters into the 24-byte 6.3 kbit/s frame.
#pragma once

#include <cstdint>

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

inline constexpr int FrameBytes = 24;

// Writes the 24 bytes of Line into Vout. Ftyp is the frame type of Coder,
// always 1 (active speech), which this rate codes as 00.
void Line_Pack(const LINEDEF* Line, uint8_t* Vout, Word16 Ftyp);

}  // namespace kv::g7231
