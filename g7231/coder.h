// One 240-sample frame in, one 24-byte 6.3 kbit/s G.723.1 frame out.
#pragma once

#include <cstdint>

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// Encodes DataBuff[240] into Vout[24] and advances the stream state cs
// (Init_Coder must have run on it). DataBuff is used as work space: its
// content afterwards is not the input. Always returns 1.
Flag Coder(CodStat& cs, Word16* DataBuff, uint8_t* Vout);

}  // namespace kv::g7231
