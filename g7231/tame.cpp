#include "g7231/tame.h"

#include "g7231/tables.h"

namespace kv::g7231 {

namespace {
constexpr Word32 ThreshErr = 0x40000000;
constexpr Word16 InvSubFrLen2 = 1092;  // 1/30 in Q15: lag to 30-sample zone index
}  // namespace

Word16 Test_Err(CodStat& cs, Word16 Lag1, Word16 Lag2) {
    Word16 zone2 = mult(static_cast<Word16>(Lag2 + 2), InvSubFrLen2);

    Word16 i1 = static_cast<Word16>(Lag1 - SubFrLen - 1);
    if (i1 <= 0) i1 = 1;
    Word16 zone1 = mult(i1, InvSubFrLen2);

    Word32 Err_max = -1;
    for (int i = zone2; i >= zone1; i--) {
        if (L_sub(cs.Err[i], Err_max) > 0) Err_max = cs.Err[i];
    }

    Word32 Acc = L_sub(Err_max, ThreshErr);
    if (Acc > 0 || cs.SinDet < 0) return 0;
    return extract_l(L_shr(L_negate(Acc), 23));
}

void Update_Err(CodStat& cs, Word16 Olp, Word16 AcLg, Word16 AcGn) {
    Word16 Lag = static_cast<Word16>(Olp + AcLg - 1);

    Word16 beta = (Olp >= SubFrLen - 2) ? tabgain170[AcGn] : tabgain85[AcGn];
    auto worst = [beta](Word32 x) { return L_add(Err0, L_shl(L_mls(x, beta), 2)); };
    auto larger = [](Word32 a, Word32 b) { return a > b ? a : b; };

    Word32 Worst0;
    Word32 Worst1;
    if (Lag <= SubFrLen / 2) {
        Worst0 = worst(cs.Err[0]);
        Worst1 = Worst0;
    } else {
        Word16 iz = mult(Lag, InvSubFrLen2);
        Word16 iz1 = add(iz, 1);
        Word16 t = sub(shl(iz1, 5), shl(iz1, 1));  // 30 * (iz + 1)
        if (t == Lag) {
            Worst0 = worst(cs.Err[iz - 1]);
            Worst1 = worst(cs.Err[iz]);
        } else if (iz == 1) {
            Worst0 = larger(worst(cs.Err[0]), worst(cs.Err[1]));
            Worst1 = Worst0;
        } else {
            Worst0 = larger(worst(cs.Err[iz - 2]), worst(cs.Err[iz - 1]));
            Worst1 = larger(worst(cs.Err[iz - 1]), worst(cs.Err[iz]));
        }
    }

    cs.Err[4] = cs.Err[2];
    cs.Err[3] = cs.Err[1];
    cs.Err[2] = cs.Err[0];
    cs.Err[0] = Worst0;
    cs.Err[1] = Worst1;
}

}  // namespace kv::g7231
