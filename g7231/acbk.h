// Adaptive codebook: closed-loop pitch lag and five-tap gain vector search.
#pragma once

#include <atomic>
#include <cstdint>

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// The 85-row table serves lags below 58, the 170-row table the others.
extern const Word16 (*const AcbkGainTablePtr[2])[20];

// Searches subframe Sfc and subtracts the chosen filtered contribution from Tv.
void Find_Acbk(CodStat& cs, Word16* Tv, Word16* ImpResp, Word16* PrevExc, LINEDEF* Line, Word16 Sfc);
// 64 samples of past excitation around Lag, the last period repeated for short lags.
void Get_Rez(Word16* Tv, Word16* PrevExc, Word16 Lag);
// Writes the 60-sample adaptive excitation for lag Olp - 1 + Lid and gain row
// Gid. At 6.3 kbit/s lags Olp below 58 take their gains from the 85-row table;
// 5.3 kbit/s frames always use the 170-row one.
void Decod_Acbk(Word16* Tv, Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid, Crate Rate = WrkRate);

// Each of these steps takes a fast route only where a bound shows the
// saturating arithmetic cannot saturate. AcbkPath[step][1] counts the exact
// routes, [0] the fast ones, so tests can see both run.
enum AcbkStep { AcbkFilt, AcbkCorr, AcbkGain, AcbkDecod, AcbkSub, AcbkSteps };
extern std::atomic<std::uint32_t> AcbkPath[AcbkSteps][2];

}  // namespace kv::g7231
