// Formant perceptual weighting, combined impulse response and the ringing
// filters around the excitation searches.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// PerLpc holds 20 coefficients per subframe: 10 zero, then 10 pole coefficients.
void Wght_Lpc(Word16* PerLpc, Word16* UnqLpc);
void Error_Wght(CodStat& cs, Word16* Dpnt, Word16* PerLpc);

// QntLpc and PerLpc point at one subframe's 10 and 20 coefficients.
void Comp_Ir(Word16* ImpResp, Word16* QntLpc, Word16* PerLpc, PWDEF Pw);
void Sub_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr, PWDEF Pw);
void Upd_Ring(CodStat& cs, Word16* Dpnt, Word16* QntLpc, Word16* PerLpc, Word16* PrevErr);

}  // namespace kv::g7231
