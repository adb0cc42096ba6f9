// Excitation error taming: keeps the adaptive-codebook gain from letting a
// decoder-side excitation error grow without bound.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// Limit v on the gain rows the adaptive-codebook search may try (0 = tightest).
Word16 Test_Err(CodStat& cs, Word16 Lag1, Word16 Lag2);
void Update_Err(CodStat& cs, Word16 Olp, Word16 AcLg, Word16 AcGn);

}  // namespace kv::g7231
