// Open-loop pitch estimation and harmonic noise weighting.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// Dpnt is the 385-sample pitch buffer: 145 samples of history, then the frame.
Word16 Estim_Pitch(Word16* Dpnt, Word16 Start);
PWDEF Comp_Pw(Word16* Dpnt, Word16 Start, Word16 Olp);
void Filt_Pw(Word16* DataBuff, Word16* Dpnt, Word16 Start, PWDEF Pw);

}  // namespace kv::g7231
