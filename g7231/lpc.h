// LPC analysis: high-pass input filter, per-subframe linear prediction from a
// Hamming-windowed 180-sample window, the sine detector and the one-subframe
// look-ahead shift.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// Filters the 240 samples of Dpnt in place (DC removal; also halves the level).
void Rem_Dc(CodStat& cs, Word16* Dpnt);

// Writes 10 coefficients per subframe into UnqLpc[40] (quarter scale) and
// updates cs.SinDet. PrevDat is the 120-sample history (cs.PrevDat).
void Comp_Lpc(CodStat& cs, Word16* UnqLpc, const Word16* PrevDat, const Word16* DataBuff);

// Levinson-Durbin, order 10. Corr = r1..r10, Err = r0; Pk2 receives the second
// reflection coefficient (32767 when the recursion stops early).
void Durbin(Word16* Lpc, const Word16* Corr, Word16 Err, Word16* Pk2);

// Scales Vect[Len] in place so that its largest magnitude lies in [2048, 4096]
// and returns the shift applied (negative: to the right).
Word16 Vec_Norm(Word16* Vect, Word16 Len);

// Delays DataBuff by one subframe and keeps its last 120 samples in PrevDat.
void Mem_Shift(Word16* PrevDat, Word16* DataBuff);

}  // namespace kv::g7231
