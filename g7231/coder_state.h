// Frame constants, fixed configuration, encoder state and the per-frame
// parameter records of the G.723.1 6.3 kbit/s encoder.
#pragma once

#include "g7231/basop.h"

namespace kv::g7231 {

// Frame geometry.
inline constexpr int Frame = 240;
inline constexpr int SubFrames = 4;
inline constexpr int SubFrLen = Frame / SubFrames;  // 60
inline constexpr int LpcOrder = 10;
inline constexpr int LpcFrame = 180;
inline constexpr int PitchMin = 18;
inline constexpr int PitchMax = PitchMin + 127;  // 145
inline constexpr int ClPitchOrd = 5;
inline constexpr int Pstep = 1;

// LSP quantiser.
inline constexpr int LspQntBands = 3;
inline constexpr int LspCbSize = 256;

// Harmonic noise weighting.
inline constexpr int PwRange = 3;
inline constexpr Word16 PwConst = 0x2800;

// Adaptive codebook gain search limits.
inline constexpr int NbFilt085 = 85;
inline constexpr int NbFilt085_min = 51;
inline constexpr int NbFilt170 = 170;
inline constexpr int NbFilt170_min = 93;

// MP-MLQ fixed codebook.
inline constexpr int NumOfGainLev = 24;
inline constexpr int MlqSteps = 2;
inline constexpr int Sgrid = 2;
inline constexpr int MaxPulseNum = 6;

// Excitation error taming.
inline constexpr Word32 Err0 = 4;

// Configuration: this encoder always runs at 6.3 kbit/s with the high-pass on.
// The decoder follows the rate of each frame it reads.
enum Crate : int32_t { Rate63 = 0, Rate53 = 1 };
inline constexpr Crate WrkRate = Rate63;
inline constexpr Flag UseHp = 1;

// Encoder state of one stream. Every encoder object owns one; nothing is
// shared between streams.
struct CodStat {
    Word16 HpfZdl;
    Word32 HpfPdl;
    Word16 SinDet;
    Word16 PrevLsp[LpcOrder];
    Word16 PrevWgt[PitchMax];
    Word16 PrevErr[PitchMax];
    Word16 PrevExc[PitchMax];
    Word16 PrevDat[LpcFrame - SubFrLen];
    Word16 WghtFirDl[LpcOrder];
    Word16 WghtIirDl[LpcOrder];
    Word16 RingFirDl[LpcOrder];
    Word16 RingIirDl[LpcOrder];
    Word32 Err[SubFrames + 1];
};

struct SFSDEF {
    Word16 AcLg;
    Word16 AcGn;
    Word16 Mamp;
    Word16 Grid;
    Word16 Tran;
    Word16 Pamp;
    Word32 Ppos;
};

struct LINEDEF {
    Word16 Crc;
    Word32 LspId;
    Word16 Olp[SubFrames / 2];
    SFSDEF Sfs[SubFrames];
};

struct PWDEF {
    Word16 Indx;
    Word16 Gain;
};

// Starts a new stream on cs.
void Init_Coder(CodStat& cs);

}  // namespace kv::g7231
