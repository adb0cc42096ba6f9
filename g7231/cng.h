// Comfort noise of the decoder: the frames a transmitter with voice activity
// detection sends in silence (SID) or leaves out (untransmitted).
#pragma once

#include "g7231/basop.h"
#include "g7231/decoder.h"

namespace kv::g7231 {

// Makes the excitation Exc[240] and the four LPC sets QntLpc[40] of a noise
// frame of type Ftyp (FrSid with its LSP index and gain index, or FrUntx),
// and moves ds.prevLsp and ds.prevExc on.
void comfortNoiseFrame(DecStat& ds, FrameType Ftyp, Word32 LspId, Word16 SidGainIdx, Word16* Exc, Word16* QntLpc);

// The gain of SID gain index i, and the index of energy E at shift Sh (the
// quantiser that recovers a gain when the first SID of a silence is lost).
Word16 sidGainDecode(Word16 i);
Word16 requantise(Word16 E, Word16 Sh);

}  // namespace kv::g7231
