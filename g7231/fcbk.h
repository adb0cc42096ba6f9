// MP-MLQ fixed codebook search of the 6.3 kbit/s rate.
#pragma once

#include <atomic>
#include <cstdint>

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

struct BESTDEF {
    Word32 MaxErr;
    Word16 GridId;
    Word16 MampId;
    Word16 UseTrn;
    Word16 Ploc[MaxPulseNum];
    Word16 Pamp[MaxPulseNum];
};

// Replaces the target Dpnt with the chosen excitation and codes it into Line->Sfs[Sfc].
void Find_Fcbk(Word16* Dpnt, Word16* ImpResp, LINEDEF* Line, Word16 Sfc);
// Updates Best only with a strictly better candidate. Olp < 58 searches the
// pulse-train variant.
void Find_Best(BESTDEF* Best, Word16* Tv, Word16* ImpResp, Word16 Np, Word16 Olp);
// Repeats Src with period Olp; Dst may be Src.
void Gen_Trn(Word16* Dst, Word16* Src, Word16 Olp);
void Fcbk_Pack(Word16* Dpnt, SFSDEF* Sfs, BESTDEF* Best, Word16 Np);

// Find_Best takes a fast route through each of these steps only where a bound
// shows the saturating arithmetic cannot saturate, and the exact one
// otherwise. FcbkPath[step][1] counts the exact routes, [0] the fast ones, so
// tests can see both run.
enum FcbkStep { FcbkCorr, FcbkErr, FcbkSearch, FcbkFilter, FcbkCrit, FcbkSteps };
extern std::atomic<std::uint32_t> FcbkPath[FcbkSteps][2];

}  // namespace kv::g7231
