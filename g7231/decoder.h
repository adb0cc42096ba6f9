// The G.723.1 decoder: 6.3 and 5.3 kbit/s active frames, comfort-noise SID
// and untransmitted frames, concealment of lost frames, and the postfilter.
#pragma once

#include <cstdint>

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// What a frame turned out to be once a bad or lost one has been classed.
enum FrameType : int32_t { FrActive = 0, FrSid = 1, FrUntx = 2 };

// Decoder state of one stream. Every decoder owns one; nothing is shared
// between streams, so decoders may run on several threads at once.
struct DecStat {
    // Concealment of lost active frames.
    Word16 ecount;       // lost active frames in a row, 0..3
    Word16 interGain;    // gain of unvoiced concealment
    Word16 interIndex;   // period of voiced concealment, 0 when unvoiced
    Word16 concealSeed;  // noise of unvoiced concealment; never reset
    // Postfilter.
    Word16 tiltPark;   // smoothed first reflection coefficient
    Word16 scaleGain;  // smoothed gain of the gain-scaling unit
    Word16 prevLsp[LpcOrder];
    Word16 prevExc[PitchMax];  // oldest first
    Word16 synMem[LpcOrder];   // newest first, as are the postfilter's
    Word16 pfFirMem[LpcOrder];
    Word16 pfIirMem[LpcOrder];
    Crate rate;  // of the last active frame read
    // Comfort noise.
    FrameType pastType;
    Word16 sidGain;  // after a good active frame: that frame's energy
    Word16 curGain;  // after a good active frame: that frame's normalisation shift
    Word16 lspSid[LpcOrder];
    Word16 cngSeed;
};

// Starts a new stream on ds.
void Init_Decod(DecStat& ds);

// Decodes one frame into Out[240]. Frame holds the frame's bytes (24, 20, 4
// or 1 by its two low bits) unless Erased, when the transport lost it: then
// nothing is read and the frame is concealed.
void Decod(DecStat& ds, bool PostFilter, const uint8_t* Frame, bool Erased, Word16* Out);

// The helpers the decoder's stages share.
// The largest r of 14 bits (Q14 steps of a Q15 value) with L_mult(r, r) <= N.
Word16 sqrt14(Word32 N);
// Steps the 16-bit linear congruential generator and returns its new value.
inline Word16 rand16(Word16& Seed) {
    Seed = static_cast<Word16>(static_cast<uint16_t>(Seed) * 521u + 259u);
    return Seed;
}

}  // namespace kv::g7231
