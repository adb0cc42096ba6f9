#include "g7231/acbk.h"

#include "g7231/tables.h"
#include "g7231/tame.h"

namespace kv::g7231 {

const Word16 (*const AcbkGainTablePtr[2])[20] = {AcbkGainTable085, AcbkGainTable170};

namespace {
constexpr int RezLen = SubFrLen + ClPitchOrd - 1;  // 64
constexpr int CorTerms = 20;                       // per candidate lag: 5 + 5 + 10 correlations
}  // namespace

void Get_Rez(Word16* Tv, Word16* PrevExc, Word16 Lag) {
    for (int i = 0; i < ClPitchOrd / 2; i++) Tv[i] = PrevExc[PitchMax - Lag - ClPitchOrd / 2 + i];
    for (int i = 0; i < SubFrLen + ClPitchOrd / 2; i++) Tv[ClPitchOrd / 2 + i] = PrevExc[PitchMax - Lag + i % Lag];
}

void Find_Acbk(CodStat& cs, Word16* Tv, Word16* ImpResp, Word16* PrevExc, LINEDEF* Line, Word16 Sfc) {
    Word16 RezBuf[RezLen];
    Word16 FltBuf[ClPitchOrd][SubFrLen];
    Word32 CorBuf[4 * CorTerms];
    Word16 CorVct[4 * CorTerms];

    Word16 Olp = Line->Olp[Sfc >> 1];
    Word16 Lid = Pstep;
    Word16 Gid = 0;
    const int Hb = 3 + (Sfc & 1);  // odd subframes also try an offset of +2

    // Keep every candidate lag inside the coded range.
    if ((Sfc & 1) == 0) {
        if (Olp == PitchMin) Olp = add(Olp, 1);
        if (Olp > PitchMax - 5) Olp = PitchMax - 5;
    }

    Word32* lPnt = CorBuf;
    for (int k = 0; k < Hb; k++) {
        Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + k));

        for (int i = 0; i < SubFrLen; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j <= i; j++) Acc0 = L_mac(Acc0, RezBuf[ClPitchOrd - 1 + j], ImpResp[i - j]);
            FltBuf[ClPitchOrd - 1][i] = round(Acc0);
        }

        // Each earlier tap is the next one's response delayed by a sample plus
        // the new excitation sample's response (ImpResp[0] is always 0x2000).
        for (int i = ClPitchOrd - 2; i >= 0; i--) {
            FltBuf[i][0] = mult_r(RezBuf[i], 0x2000);
            for (int j = 1; j < SubFrLen; j++) {
                Word32 Acc0 = L_deposit_h(FltBuf[i + 1][j - 1]);
                Acc0 = L_mac(Acc0, RezBuf[i], ImpResp[j]);
                FltBuf[i][j] = round(Acc0);
            }
        }

        for (int i = 0; i < ClPitchOrd; i++) {
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) Acc1 = L_add(Acc1, L_shr(L_mult(Tv[j], FltBuf[i][j]), 1));
            *lPnt++ = L_shl(Acc1, 1);
        }

        for (int i = 0; i < ClPitchOrd; i++) {
            Word32 Acc1 = 0;
            for (int j = 0; j < SubFrLen; j++) Acc1 = L_mac(Acc1, FltBuf[i][j], FltBuf[i][j]);
            *lPnt++ = Acc1;
        }

        for (int i = 1; i < ClPitchOrd; i++) {
            for (int j = 0; j < i; j++) {
                Word32 Acc1 = 0;
                for (int l = 0; l < SubFrLen; l++) Acc1 = L_add(Acc1, L_shr(L_mult(FltBuf[i][l], FltBuf[j][l]), 1));
                *lPnt++ = L_shl(Acc1, 2);
            }
        }
    }

    const int nCor = Hb * CorTerms;
    Word32 Mx = 0;
    for (int i = 0; i < nCor; i++) {
        Word32 a = L_abs(CorBuf[i]);
        if (a > Mx) Mx = a;
    }
    Word16 Exp = norm_l(Mx);
    for (int i = 0; i < nCor; i++) CorVct[i] = round(L_shl(CorBuf[i], Exp));

    Word16 off_filt = Test_Err(cs, static_cast<Word16>(Olp - Pstep), static_cast<Word16>(Olp - Pstep + Hb - 1));
    int Bound[2];
    Bound[0] = NbFilt085_min + shl(off_filt, 2);
    if (Bound[0] > NbFilt085) Bound[0] = NbFilt085;
    Bound[1] = NbFilt170_min + shl(off_filt, 3);
    if (Bound[1] > NbFilt170) Bound[1] = NbFilt170;

    Word32 Acc1 = 0;
    for (int k = 0; k < Hb; k++) {
        // Odd subframes code an offset to the pair's lag, so the table follows
        // that lag rather than the candidate.
        const int lag = (Sfc & 1) ? Olp : Olp - Pstep + k;
        const int l = lag >= SubFrLen - 2 ? 1 : 0;
        const Word16(*Table)[20] = AcbkGainTablePtr[l];
        const Word16* Cor = &CorVct[k * CorTerms];

        for (int i = 0; i < Bound[l]; i++) {
            Word32 Acc0 = 0;
            for (int j = 0; j < CorTerms; j++) Acc0 = L_add(Acc0, L_shr(L_mult(Cor[j], Table[i][j]), 1));
            if (Acc0 > Acc1) {
                Acc1 = Acc0;
                Gid = static_cast<Word16>(i);
                Lid = static_cast<Word16>(k);
            }
        }
    }

    if ((Sfc & 1) == 0) {
        Olp = static_cast<Word16>(Olp - Pstep + Lid);
        Lid = Pstep;
    }
    Line->Sfs[Sfc].AcLg = Lid;
    Line->Sfs[Sfc].AcGn = Gid;
    Line->Olp[Sfc >> 1] = Olp;

    Decod_Acbk(RezBuf, PrevExc, Olp, Lid, Gid);
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = L_shr(L_deposit_h(Tv[i]), 1);
        for (int j = 0; j <= i; j++) Acc0 = L_msu(Acc0, RezBuf[j], ImpResp[i - j]);
        Tv[i] = round(L_shl(Acc0, 1));
    }
}

void Decod_Acbk(Word16* Tv, Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid) {
    Word16 RezBuf[RezLen];
    Get_Rez(RezBuf, PrevExc, static_cast<Word16>(Olp - Pstep + Lid));

    const Word16* row = (Olp >= SubFrLen - 2) ? AcbkGainTable170[Gid] : AcbkGainTable085[Gid];
    for (int i = 0; i < SubFrLen; i++) {
        Word32 Acc0 = 0;
        for (int j = 0; j < ClPitchOrd; j++) Acc0 = L_mac(Acc0, RezBuf[i + j], row[j]);
        Tv[i] = round(L_shl(Acc0, 1));
    }
}

}  // namespace kv::g7231
