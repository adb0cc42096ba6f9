#include "g7231/cng.h"

#include <cstring>

#include "g7231/acbk.h"
#include "g7231/lsp.h"
#include "g7231/tables.h"

namespace kv::g7231 {

namespace {

// The gain quantiser's three segments: their first values and the squared
// gains where they start (the last one is the top of the range).
constexpr Word16 GainBase[3] = {0, 32, 96};
constexpr Word32 GainSegBound[3] = {2048, 18432, 231233};
constexpr Word16 GainFact = 273;    // scales a frame energy to the quantiser's domain
constexpr Word16 InvNbPuls = 2979;  // 1/11: the pulses of one block
constexpr Word16 NoiseAmpMax = 10000;
constexpr int BlockLen = 2 * SubFrLen;  // the noise is made two subframes at a time
constexpr int BlockPulses = 11;         // Nb_puls of the two subframes

// A value 0..n-1 from the comfort-noise generator.
Word16 draw(Word16& Seed, Word16 n) { return mult(static_cast<Word16>(rand16(Seed) & 0x7FFF), n); }

Word16 gainAt(int Seg, int j) {
    return static_cast<Word16>(GainBase[Seg] + shl(static_cast<Word16>(j), static_cast<Word16>(Seg + 1)));
}

// Excitation of one comfort-noise frame at gain Gain: random pitch lags and
// gains over the history, plus random pulses scaled so that the block gets
// the energy Gain asks for.
void randomExcitation(DecStat& ds, Word16 Gain, Word16* Exc) {
    Word16 Lag[2];
    Lag[0] = static_cast<Word16>(draw(ds.cngSeed, 21) + 123);
    Lag[1] = static_cast<Word16>(draw(ds.cngSeed, 19) + 123);
    Word16 GainIdx[SubFrames];
    for (auto& g : GainIdx) g = static_cast<Word16>(draw(ds.cngSeed, 50) + 1);
    constexpr Word16 Delta[SubFrames] = {1, 0, 1, 3};

    Word16 Offset[SubFrames];
    Word16 Sign[2][BlockPulses];
    for (int b = 0; b < 2; b++) {
        Word16 w = draw(ds.cngSeed, 8192);
        Offset[2 * b] = w & 1;
        w = shr(w, 1);
        Offset[2 * b + 1] = static_cast<Word16>(SubFrLen + (w & 1));
        for (int k = 0; k < BlockPulses; k++) {
            Sign[b][k] = shl(sub(static_cast<Word16>(w & 2), 1), 14);
            w = shr(w, 1);
        }
    }

    Word16 Pos[2][BlockPulses];
    for (int sf = 0; sf < SubFrames; sf++) {
        Word16 Pool[SubFrLen / Sgrid];
        for (int i = 0; i < SubFrLen / Sgrid; i++) Pool[i] = static_cast<Word16>(i);
        Word16 n = SubFrLen / Sgrid;
        Word16* P = &Pos[sf >> 1][(sf & 1) ? Nb_puls[sf - 1] : 0];
        for (int k = 0; k < Nb_puls[sf]; k++) {
            const Word16 j = draw(ds.cngSeed, n);
            P[k] = static_cast<Word16>(Sgrid * Pool[j] + Offset[sf]);
            n--;
            Pool[j] = Pool[n];
        }
    }

    for (int b = 0; b < 2; b++) {
        Word16* e = Exc + b * BlockLen;
        Decod_Acbk(e, ds.prevExc, Lag[b], Delta[2 * b], GainIdx[2 * b]);
        Decod_Acbk(e + SubFrLen, ds.prevExc + SubFrLen, Lag[b], Delta[2 * b + 1], GainIdx[2 * b + 1]);

        Word16 Max = 0;
        for (int i = 0; i < BlockLen; i++) {
            const Word16 a = abs_s(e[i]);
            if (a > Max) Max = a;
        }
        Word16 Sh = 0;
        if (Max != 0) {
            Sh = sub(4, norm_s(Max));
            if (Sh < -2) Sh = -2;
        }
        Word16 t[BlockLen];
        Word32 En = 0;
        for (int i = 0; i < BlockLen; i++) {
            t[i] = shr(e[i], Sh);
            En = L_mac(En, t[i], t[i]);
        }
        Word32 Acc = 0;
        for (int k = 0; k < BlockPulses; k++) Acc = L_mac(Acc, t[Pos[b][k]], Sign[b][k]);
        const Word16 X = extract_h(L_shl(Acc, 1));

        // The pulse amplitude x solves x^2 + 2 b0 x + c = 0 in the scaled
        // domain: the block's energy plus the pulses' equals 60 Gain^2.
        const Word16 q = extract_l(L_shr(L_mult(Gain, SubFrLen), 6));
        const Word32 Q = L_shr(L_mult(q, Gain), add(shl(Sh, 1), 4));
        const Word32 c = L_mls(L_sub(En, Q), InvNbPuls);
        const Word16 b0 = mult_r(X, InvNbPuls);
        const Word32 D = L_negate(L_msu(c, b0, b0));
        Word16 x;
        if (D <= 0) {
            x = negate(b0);
        } else {
            const Word16 r = sqrt14(D);
            const Word16 x1 = sub(r, b0);
            const Word16 x2 = add(b0, r);
            x = abs_s(x2) < abs_s(x1) ? negate(x2) : x1;
        }
        Word16 A = shl(x, static_cast<Word16>(Sh + 1));
        if (A > NoiseAmpMax) A = NoiseAmpMax;
        if (A < -NoiseAmpMax) A = -NoiseAmpMax;
        for (int k = 0; k < BlockPulses; k++) e[Pos[b][k]] = add(e[Pos[b][k]], mult(A, Sign[b][k]));

        std::memmove(ds.prevExc, ds.prevExc + BlockLen, (PitchMax - BlockLen) * sizeof(Word16));
        std::memcpy(ds.prevExc + PitchMax - BlockLen, e, BlockLen * sizeof(Word16));
    }
}

}  // namespace

Word16 sidGainDecode(Word16 i) {
    int Seg = i >> 4;
    if (Seg == 3) Seg = 2;
    const Word16 k = static_cast<Word16>(i - 16 * Seg);
    return shl(gainAt(Seg, k), 5);
}

Word16 requantise(Word16 E, Word16 Sh) {
    const Word32 x = L_mls(L_shl(L_deposit_l(E), static_cast<Word16>(16 - 2 * Sh)), GainFact);
    if (x >= GainSegBound[2]) return 63;
    int Seg, Steps;
    if (x >= GainSegBound[1]) {
        Seg = 2;
        Steps = 4;
    } else {
        Steps = 3;
        Seg = x >= GainSegBound[0] ? 1 : 0;
    }
    // Binary search of the segment, then the nearer of the two neighbours.
    int j = 1 << Steps, k = j >> 1;
    for (int s = 0; s < Steps; s++) {
        const Word16 v = gainAt(Seg, j);
        j = x >= L_mult(v, v) ? j + k : j - k;
        k >>= 1;
    }
    const Word16 v = gainAt(Seg, j);
    const Word32 y = L_sub(L_mult(v, v), x);
    if (y <= 0) {
        const Word16 v2 = gainAt(Seg, j + 1);
        const Word32 r = L_sub(x, L_mult(v2, v2));
        return static_cast<Word16>(16 * Seg + (y > r ? j : j + 1));
    }
    const Word16 v2 = gainAt(Seg, j - 1);
    const Word32 r = L_sub(x, L_mult(v2, v2));
    return static_cast<Word16>(16 * Seg + (y < r ? j : j - 1));
}

void comfortNoiseFrame(DecStat& ds, FrameType Ftyp, Word32 LspId, Word16 SidGainIdx, Word16* Exc, Word16* QntLpc) {
    if (Ftyp == FrSid) {
        ds.sidGain = sidGainDecode(SidGainIdx);
        Lsp_Inq(ds.lspSid, ds.prevLsp, LspId, 0);
    } else if (ds.pastType == FrActive) {
        // Silence began but its SID was lost: estimate the gain from the
        // energy of the last active frame.
        ds.sidGain = sidGainDecode(requantise(ds.sidGain, ds.curGain));
    }
    if (ds.pastType == FrActive)
        ds.curGain = ds.sidGain;
    else
        ds.curGain = extract_h(L_add(L_mult(ds.curGain, 0x7000), L_mult(ds.sidGain, 0x1000)));
    randomExcitation(ds, ds.curGain, Exc);
    Lsp_Int(QntLpc, ds.lspSid, ds.prevLsp);
    std::memcpy(ds.prevLsp, ds.lspSid, sizeof ds.prevLsp);
}

}  // namespace kv::g7231
