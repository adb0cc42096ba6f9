// The decoder's postfilter: the pitch postfilter on the excitation of good
// active frames, and after synthesis the formant postfilter with tilt
// compensation and the gain-scaling unit that restores the level.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"
#include "g7231/decoder.h"

namespace kv::g7231 {

// One subframe's pitch postfilter: out = x * ScGn + x[Indx] * Gain.
struct PFDEF {
    Word16 Indx;
    Word16 Gain;
    Word16 ScGn;
};

// Chooses the subframe's filter on the normalised excitation Buf (145 samples
// of history, then the frame) around the lag Olp.
PFDEF pitchPostfilterParams(const Word16* Buf, Word16 Olp, int Sfc, Crate Rate);
// Filters subframe Sfc of the excitation Buf (laid out as above) into Out[60].
void pitchPostfilter(const Word16* Buf, int Sfc, PFDEF Pf, Word16* Out);

// Filters the 60 synthesised samples of Sy in place with the subframe's LPC
// set, then scales them back to the energy they had before.
void formantPostfilter(DecStat& ds, Word16* Sy, const Word16* Lpc);

}  // namespace kv::g7231
