#include "g7231/decoder.h"

#include <algorithm>
#include <cstring>

#include "g7231/acbk.h"
#include "g7231/cng.h"
#include "g7231/dsp.h"
#include "g7231/fcbk.h"
#include "g7231/lpc.h"
#include "g7231/lsp.h"
#include "g7231/postfilter.h"
#include "g7231/tables.h"

namespace kv::g7231 {

namespace {

constexpr int BufLen = PitchMax + Frame;  // the excitation history, then the frame
constexpr Word16 CngSeedStart = 12345;
constexpr Word16 MaxLagCode = 123;         // lag codes above mark a bad frame
constexpr Word16 InterGainDecay = 0x6000;  // 0.75 per lost frame, on gain and on repeated speech
constexpr Word16 MuteAfter = 3;            // lost frames in a row before silence

// 5.3 kbit/s pitch sharpening of the fixed vector, by adaptive gain index:
// the offset of its lag from the pitch (60 turns it off) and its gain.
constexpr Word16 epsi170[NbFilt170] = {
    60, 0, 60, 0,  1,  0,  0,  1,  -1, 1, 0,  -1, 2,  -2, 0,  1,  0,  0,  -1, 0,  0, 0,  1,  0,  -1, -1, 1,  -1, 1,
    -2, 1, -1, 60, 0,  0,  1,  1,  0,  1, 1,  -1, 1,  -1, -1, -1, 0,  60, -2, 0,  1, 0,  -1, 1,  1,  0,  1,  2,  -1,
    0,  1, 0,  0,  0,  60, -1, 1,  1,  2, -1, 1,  -1, 60, -1, 0,  1,  0,  -1, 0,  0, 0,  1,  -1, 0,  1,  -1, 0,  -1,
    0,  1, 60, 0,  0,  1,  1,  0,  2,  1, 0,  1,  -2, 0,  -1, 1,  0,  -1, 1,  0,  0, 1,  0,  0,  0,  60, 1,  1,  -1,
    -1, 2, -2, 0,  -1, -1, 60, 2,  60, 0, 0,  60, 0,  0,  0,  -2, 60, -1, 0,  60, 0, 2,  0,  0,  -1, 0,  1,  2,  60,
    1,  1, 1,  0,  0,  60, 0,  60, 0,  0, 60, 60, -1, 0,  0,  60, 60, 1,  0,  60, 2, 60, -2, -2, 0,
};
constexpr Word16 gain170[NbFilt170] = {
    0,     2489,  0,     5217,  6171,  3953,  10364, 9357,  8843,  9396,  5794,  10816, 11606, 12072, 8616,  12170,
    14440, 7787,  13721, 18205, 14471, 15807, 15275, 13480, 18375, 0,     11194, 13010, 18836, 20354, 16233, 0,
    0,     12130, 13385, 17834, 20875, 21996, 0,     18277, 21321, 13738, 19094, 20387, 0,     21008, 0,     22807,
    15900, 0,     17989, 22259, 24395, 23138, 23948, 22997, 22604, 25942, 26246, 25321, 26423, 24061, 27247, 0,
    25572, 23918, 25930, 26408, 19049, 27357, 24538, 0,     25093, 28549, 0,     22793, 25659, 29377, 30276, 26198,
    22521, 28919, 27384, 30162, 0,     24237, 30062, 21763, 30917, 0,     31284, 29433, 26821, 28655, 31327, 30799,
    31389, 32322, 31760, 31830, 26936, 31180, 30875, 27873, 30429, 31050, 0,     31912, 31611, 31565, 25557, 31357,
    0,     29536, 28985, 26984, 31587, 30836, 31133, 30243, 30742, 32090, 0,     30902, 0,     30027, 29042, 0,
    31756, 24553, 25636, 30501, 0,     29617, 30649, 0,     29274, 30415, 27480, 31213, 28147, 30600, 31652, 29068,
    0,     28571, 28730, 31422, 28257, 24797, 0,     0,     0,     22105, 27852, 0,     0,     24214, 24642, 23305,
    0,     0,     22883, 21601, 0,     25650, 0,     31253, 25144, 17998,
};

// Fields of a frame, least significant bit first. The frame is copied into a
// zero-padded buffer so that a field is one unaligned 32-bit read.
class BitReader {
public:
    BitReader(const uint8_t* Vinp, int Bytes) { std::memcpy(m_bytes, Vinp, Bytes); }
    Word32 take(int n) {
        uint32_t w;
        std::memcpy(&w, m_bytes + (m_pos >> 3), sizeof w);
        w = fromLittleEndian(w) >> (m_pos & 7);
        m_pos += n;
        return static_cast<Word32>(w & ((1u << n) - 1));
    }

private:
    static uint32_t fromLittleEndian(uint32_t w) {
        const auto* b = reinterpret_cast<const uint8_t*>(&w);
        return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    uint8_t m_bytes[24 + 4] = {};
    int m_pos = 0;
};

// What a frame carries. Line holds an active frame's parameters, LspId also
// a SID frame's.
struct FrameDef {
    FrameType Ftyp;
    LINEDEF Line;
    Word16 SidGainIdx;
};

// Reads a frame and sets ds.rate from an active one. Returns false when a
// check marks it bad (a lag code above 123, a gain index over its table).
bool Line_Unpk(DecStat& ds, const uint8_t* Vinp, FrameDef& F) {
    constexpr int Bytes[4] = {24, 20, 4, 1};
    const int Type = Vinp[0] & 3;
    BitReader b(Vinp, Bytes[Type]);
    b.take(2);
    LINEDEF& Line = F.Line;
    if (Type == 3) {
        F.Ftyp = FrUntx;
        return true;
    }
    Line.LspId = b.take(24);
    if (Type == 2) {
        F.Ftyp = FrSid;
        F.SidGainIdx = static_cast<Word16>(b.take(6));
        return true;
    }
    F.Ftyp = FrActive;
    ds.rate = Type == 0 ? Rate63 : Rate53;

    for (int i = 0; i < SubFrames / 2; i++) {
        const Word32 Code = b.take(7);
        if (Code > MaxLagCode) return false;
        Line.Olp[i] = static_cast<Word16>(Code + PitchMin);
        Line.Sfs[2 * i].AcLg = 1;
        Line.Sfs[2 * i + 1].AcLg = static_cast<Word16>(b.take(2));
    }

    // At 6.3 kbit/s a short lag leaves the top bit of the gain word to the
    // pulse-train flag, and the gain to the 85-row table.
    for (int i = 0; i < SubFrames; i++) {
        SFSDEF& Sfs = Line.Sfs[i];
        Word32 w = b.take(12);
        Sfs.Tran = 0;
        Word16 Limit = NbFilt170;
        if (ds.rate == Rate63 && Line.Olp[i >> 1] < SubFrLen - 2) {
            Sfs.Tran = static_cast<Word16>(w >> 11);
            w &= 0x7FF;
            Limit = NbFilt085;
        }
        Sfs.AcGn = static_cast<Word16>(w / NumOfGainLev);
        Sfs.Mamp = static_cast<Word16>(w % NumOfGainLev);
        if (Sfs.AcGn >= Limit) return false;
    }

    for (auto& Sfs : Line.Sfs) Sfs.Grid = static_cast<Word16>(b.take(1));

    if (ds.rate == Rate63) {
        b.take(1);  // reserved
        // The high parts of the four position indices share one 13-bit field.
        const Word32 C = b.take(13);
        const Word32 q = C / 90, r = C % 90;
        const Word32 High[SubFrames] = {q / 9, q % 9, r / 9, r % 9};
        for (int i = 0; i < SubFrames; i++) {
            const int LowBits = (i & 1) ? 14 : 16;
            Line.Sfs[i].Ppos = (High[i] << LowBits) + b.take(LowBits);
        }
        for (int i = 0; i < SubFrames; i++) Line.Sfs[i].Pamp = static_cast<Word16>(b.take(Nb_puls[i]));
    } else {
        for (auto& Sfs : Line.Sfs) Sfs.Ppos = b.take(12);
        for (auto& Sfs : Line.Sfs) Sfs.Pamp = static_cast<Word16>(b.take(4));
    }
    return true;
}

// The fixed-codebook vector of subframe Sfc into Tv[60].
void Fcbk_Unpk(Word16* Tv, const SFSDEF& Sfs, Word16 Olp, int Sfc, Crate Rate) {
    for (int i = 0; i < SubFrLen; i++) Tv[i] = 0;
    const Word16 Amp = FcbkGainTable[Sfs.Mamp];

    if (Rate == Rate63) {
        // An index beyond the codebook (a damaged frame) leaves no pulses.
        if (Sfs.Ppos >= MaxPosTable[Sfc]) return;
        // Undo the combinatorial numbering of the pulse positions on the grid;
        // the first pulse takes the highest sign bit, a set bit is negative.
        int j = MaxPulseNum - Nb_puls[Sfc];
        Word32 Acc = Sfs.Ppos;
        for (int i = 0; i < SubFrLen / Sgrid; i++) {
            if (Acc < CombinatorialTable[j][i]) {
                j++;
                Tv[Sfs.Grid + Sgrid * i] = (Sfs.Pamp >> (MaxPulseNum - j)) & 1 ? negate(Amp) : Amp;
                if (j == MaxPulseNum) break;
            } else {
                Acc -= CombinatorialTable[j][i];
            }
        }
        if (Sfs.Tran == 1) Gen_Trn(Tv, Tv, Olp);
        return;
    }

    // 5.3 kbit/s: four pulses, one per track of eight positions; a set sign
    // bit is positive here, and a pulse past the subframe is dropped.
    Word32 Pos = Sfs.Ppos;
    Word16 Sgn = Sfs.Pamp;
    for (int k = 0; k < 4; k++) {
        const int p = ((Pos & 7) << 3) + Sfs.Grid + 2 * k;
        if (p < SubFrLen) Tv[p] = (Sgn & 1) ? Amp : negate(Amp);
        Pos >>= 3;
        Sgn = static_cast<Word16>(Sgn >> 1);
    }
    // Pitch sharpening for short lags.
    const int T = Olp - 1 + Sfs.AcLg + epsi170[Sfs.AcGn];
    const Word16 Beta = gain170[Sfs.AcGn];
    if (T < SubFrLen - 2)
        for (int n = T; n < SubFrLen; n++) Tv[n] = add(Tv[n], mult(Tv[n - T], Beta));
}

// On a good frame, what concealment of the next lost one needs: the period
// to repeat (0 for noise-like speech). Normalises Buf in place and leaves the
// frame's energy and shift in sidGain and curGain.
void voicingInfo(DecStat& ds, Word16* Buf, Word16 Olp) {
    constexpr int Len = 2 * SubFrLen;  // the last two subframes
    const Word16 Shift = Vec_Norm(Buf, BufLen);
    const int L = Olp > PitchMax - 3 ? PitchMax - 3 : Olp;
    const Word16* x = Buf + BufLen - Len;

    // Every window compared lies in Buf[120..385): when twice that stretch's
    // energy fits, no correlation's chain can saturate.
    const Word16* Span = Buf + BufLen - Len - PitchMax;
    const int64_t E = dsp::sumsq(Span, BufLen - (Span - Buf));
    auto corr = [&](const Word16* a, const Word16* b) {
        return 2 * E <= MAX_32 ? Word32{2 * dsp::dot(a, b, Len)} : dsp::mac_chain(0, a, b, Len);
    };
    Word32 Best = 0;
    int Indx = L;
    for (int i = L - 3; i <= L + 3; i++) {
        const Word32 c = corr(x, x - i);
        if (c > Best) {
            Best = c;
            Indx = i;
        }
    }
    const Word16 Energy = round(dsp::L_energy(x, Len));
    ds.sidGain = Energy;
    ds.curGain = Shift;

    ds.interIndex = 0;
    const Word16 Ccr = round(Best);
    if (Ccr <= 0) return;
    const Word16 Enr = round(dsp::L_energy(x - Indx, Len));
    // Voiced when the squared normalised correlation exceeds 1/8.
    if (L_msu(L_shr(L_mult(Enr, Energy), 3), Ccr, Ccr) < 0) ds.interIndex = static_cast<Word16>(Indx);
}

// The excitation of a lost active frame into Exc, from the history at the
// head of Buf; Buf's frame part becomes the new history.
void conceal(DecStat& ds, Word16* Buf, Word16* Exc) {
    if (ds.ecount >= MuteAfter) {
        std::memset(Buf, 0, BufLen * sizeof(Word16));
        std::memset(Exc, 0, Frame * sizeof(Word16));
    } else if (ds.interIndex != 0) {
        // Voiced: repeat the last period, attenuated.
        for (int n = 0; n < Frame; n++) Buf[PitchMax + n] = Buf[PitchMax + n - ds.interIndex];
        for (int n = 0; n < Frame; n++) {
            Buf[PitchMax + n] = mult(Buf[PitchMax + n], InterGainDecay);
            Exc[n] = Buf[PitchMax + n];
        }
    } else {
        for (int n = 0; n < Frame; n++) Exc[n] = mult(ds.interGain, rand16(ds.concealSeed));
        std::memset(Buf, 0, BufLen * sizeof(Word16));
    }
}

// The excitation of a good active frame, postfiltered when asked: Buf holds
// the history, and its frame part becomes the new history.
void activeExcitation(DecStat& ds, bool PostFilter, const LINEDEF& Line, Word16* Buf, Word16* Exc) {
    for (int i = 0; i < SubFrames; i++) {
        const SFSDEF& Sfs = Line.Sfs[i];
        const Word16 Olp = Line.Olp[i >> 1];
        Word16 Fix[SubFrLen], Adp[SubFrLen];
        Fcbk_Unpk(Fix, Sfs, Olp, i, ds.rate);
        Decod_Acbk(Adp, Buf + i * SubFrLen, Olp, Sfs.AcLg, Sfs.AcGn, ds.rate);
        dsp::add_twice(Fix, Adp, Buf + PitchMax + i * SubFrLen, SubFrLen);
    }
    std::memcpy(Exc, Buf + PitchMax, Frame * sizeof(Word16));

    // The concealment and postfilter parameters come from the normalised
    // signal; the filter itself runs on the original one.
    voicingInfo(ds, Buf, Line.Olp[1]);
    PFDEF Pf[SubFrames] = {};
    if (PostFilter)
        for (int i = 0; i < SubFrames; i++) Pf[i] = pitchPostfilterParams(Buf, Line.Olp[i >> 1], i, ds.rate);
    std::memcpy(Buf, ds.prevExc, PitchMax * sizeof(Word16));
    std::memcpy(Buf + PitchMax, Exc, Frame * sizeof(Word16));
    if (PostFilter)
        for (int i = 0; i < SubFrames; i++) pitchPostfilter(Buf, i, Pf[i], Exc + i * SubFrLen);
}

// The synthesis filter 1 / A(z) over one subframe, in place.
void synthesis(DecStat& ds, bool PostFilter, Word16* Sy, const Word16* Lpc) {
    // Every partial sum of the chain lies within |x| 2^13 + Syn.mag2 M, M
    // bounding the memory (which grows with each output). While that fits,
    // the chain is the plain sum.
    const dsp::Taps10 Syn(Lpc);
    dsp::History Mem(ds.synMem);
    const int64_t Mx = int64_t{dsp::max_abs(Sy, SubFrLen) + 1} << 13;
    int32_t M = dsp::bound10(Mem.at(0));
    bool Plain = Mx + Syn.mag2 * M <= MAX_32;
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc = Word32{Sy[i]} * 0x2000;  // L_shr(L_deposit_h(x), 3): exact
        Acc = Plain ? Acc + 2 * dsp::dot10(Syn, Mem.at(i)) : dsp::mac10(Acc, Syn, Mem.at(i), M);
        const Word16 y = dsp::round_sat(int64_t{Acc} * 4);  // round(L_shl(Acc, 2))
        Mem.push(i, y);
        if (dsp::bound1(y) > M) {
            M = dsp::bound1(y);
            Plain = Mx + Syn.mag2 * M <= MAX_32;
        }
        // Without the postfilter's gain scaling the output needs its factor two.
        Sy[i] = PostFilter ? y : shl(y, 1);
    }
    Mem.store(ds.synMem, SubFrLen);
}

}  // namespace

Word16 sqrt14(Word32 N) {
    Word16 r = 0;
    Word16 bit = 0x4000;
    for (int i = 0; i < 14; i++) {
        const Word16 t = add(r, bit);
        if (N >= L_mult(t, t)) r = t;
        bit = shr(bit, 1);
    }
    return r;
}

void Init_Decod(DecStat& ds) {
    ds = DecStat{};
    ds.scaleGain = 0x1000;
    std::memcpy(ds.prevLsp, LspDcTable, sizeof ds.prevLsp);
    std::memcpy(ds.lspSid, LspDcTable, sizeof ds.lspSid);
    ds.rate = Rate63;
    ds.pastType = FrActive;
    ds.cngSeed = CngSeedStart;
}

void Decod(DecStat& ds, bool PostFilter, const uint8_t* Vinp, bool Erased, Word16* Out) {
    FrameDef F{};
    const bool Bad = Erased || !Line_Unpk(ds, Vinp, F);
    // A bad frame continues what came before: speech is concealed, noise goes on.
    if (Bad) F.Ftyp = ds.pastType == FrActive ? FrActive : FrUntx;

    Word16 QntLpc[SubFrames * LpcOrder];
    if (F.Ftyp != FrActive) {
        comfortNoiseFrame(ds, F.Ftyp, F.Line.LspId, F.SidGainIdx, Out, QntLpc);
    } else {
        ds.ecount = Bad ? (ds.ecount < MuteAfter ? static_cast<Word16>(ds.ecount + 1) : MuteAfter) : 0;
        Word16 Lsp[LpcOrder];
        Lsp_Inq(Lsp, ds.prevLsp, F.Line.LspId, Bad ? 1 : 0);
        Lsp_Int(QntLpc, Lsp, ds.prevLsp);
        std::memcpy(ds.prevLsp, Lsp, sizeof Lsp);

        if (ds.ecount == 0)
            ds.interGain = FcbkGainTable[(F.Line.Sfs[2].Mamp + F.Line.Sfs[3].Mamp) >> 1];
        else
            ds.interGain = mult_r(ds.interGain, InterGainDecay);

        Word16 Buf[BufLen];
        std::memcpy(Buf, ds.prevExc, sizeof ds.prevExc);
        if (ds.ecount == 0) {
            activeExcitation(ds, PostFilter, F.Line, Buf, Out);
            std::memcpy(ds.lspSid, ds.prevLsp, sizeof ds.lspSid);
        } else {
            conceal(ds, Buf, Out);
        }
        std::memcpy(ds.prevExc, Buf + Frame, sizeof ds.prevExc);
        ds.cngSeed = CngSeedStart;
    }
    ds.pastType = F.Ftyp;

    for (int i = 0; i < SubFrames; i++) {
        Word16* Sy = Out + i * SubFrLen;
        synthesis(ds, PostFilter, Sy, &QntLpc[i * LpcOrder]);
        if (PostFilter) formantPostfilter(ds, Sy, &QntLpc[i * LpcOrder]);
    }
}

}  // namespace kv::g7231
