#include "g7231/coder.h"

#include "g7231/acbk.h"
#include "g7231/fcbk.h"
#include "g7231/filters.h"
#include "g7231/lpc.h"
#include "g7231/lsp.h"
#include "g7231/pack.h"
#include "g7231/pitch.h"
#include "g7231/tame.h"

namespace kv::g7231 {

Flag Coder(CodStat& cs, Word16* DataBuff, uint8_t* Vout) {
    LINEDEF Line{};
    Word16 UnqLpc[SubFrames * LpcOrder];
    Word16 QntLpc[SubFrames * LpcOrder];
    Word16 PerLpc[2 * SubFrames * LpcOrder];
    Word16 LspVect[LpcOrder];
    PWDEF Pw[SubFrames];
    Word16 ImpResp[SubFrLen];

    Line.Crc = 0;
    const Word16 Ftyp = 1;  // every frame is active speech

    // LPC analysis and LSP quantisation look one subframe ahead.
    Rem_Dc(cs, DataBuff);
    Comp_Lpc(cs, UnqLpc, cs.PrevDat, DataBuff);
    AtoLsp(LspVect, &UnqLpc[LpcOrder * (SubFrames - 1)], cs.PrevLsp);
    Line.LspId = Lsp_Qnt(LspVect, cs.PrevLsp);
    Mem_Shift(cs.PrevDat, DataBuff);

    // Formant perceptual weighting.
    Wght_Lpc(PerLpc, UnqLpc);
    Error_Wght(cs, DataBuff, PerLpc);

    // Open-loop pitch and harmonic noise weighting on the scaled weighted speech.
    Word16 Dpnt[PitchMax + Frame];
    for (int i = 0; i < PitchMax; i++) Dpnt[i] = cs.PrevWgt[i];
    for (int i = 0; i < Frame; i++) Dpnt[PitchMax + i] = DataBuff[i];
    Vec_Norm(Dpnt, static_cast<Word16>(PitchMax + Frame));

    for (int i = 0; i < SubFrames / 2; i++)
        Line.Olp[i] = Estim_Pitch(Dpnt, static_cast<Word16>(PitchMax + i * 2 * SubFrLen));
    for (int i = 0; i < SubFrames; i++)
        Pw[i] = Comp_Pw(Dpnt, static_cast<Word16>(PitchMax + i * SubFrLen), Line.Olp[i >> 1]);

    // The harmonic filter itself runs on the unscaled signal, and the history
    // kept for the next frame is unscaled too.
    for (int i = 0; i < PitchMax; i++) Dpnt[i] = cs.PrevWgt[i];
    for (int i = 0; i < Frame; i++) Dpnt[PitchMax + i] = DataBuff[i];
    for (int i = 0; i < PitchMax; i++) cs.PrevWgt[i] = Dpnt[Frame + i];

    for (int i = 0; i < SubFrames; i++) Filt_Pw(DataBuff, Dpnt, static_cast<Word16>(i * SubFrLen), Pw[i]);

    // Decoded LSPs, interpolated per subframe, drive the synthesis filter.
    Lsp_Inq(LspVect, cs.PrevLsp, Line.LspId, Line.Crc);
    Lsp_Int(QntLpc, LspVect, cs.PrevLsp);
    for (int i = 0; i < LpcOrder; i++) cs.PrevLsp[i] = LspVect[i];

    for (int i = 0; i < SubFrames; i++) {
        Word16* Sub = &DataBuff[i * SubFrLen];
        Word16* Qnt = &QntLpc[i * LpcOrder];
        Word16* Per = &PerLpc[i * 2 * LpcOrder];
        const Word16 Sfc = static_cast<Word16>(i);

        Comp_Ir(ImpResp, Qnt, Per, Pw[i]);
        Sub_Ring(cs, Sub, Qnt, Per, cs.PrevErr, Pw[i]);

        Find_Acbk(cs, Sub, ImpResp, cs.PrevExc, &Line, Sfc);
        Find_Fcbk(Sub, ImpResp, &Line, Sfc);

        // Total excitation: adaptive part plus the fixed part at twice its scale.
        Decod_Acbk(ImpResp, cs.PrevExc, Line.Olp[i >> 1], Line.Sfs[i].AcLg, Line.Sfs[i].AcGn);
        for (int j = SubFrLen; j < PitchMax; j++) cs.PrevExc[j - SubFrLen] = cs.PrevExc[j];
        for (int j = 0; j < SubFrLen; j++) {
            Sub[j] = add(shl(Sub[j], 1), ImpResp[j]);
            cs.PrevExc[PitchMax - SubFrLen + j] = Sub[j];
        }

        Update_Err(cs, Line.Olp[i >> 1], Line.Sfs[i].AcLg, Line.Sfs[i].AcGn);
        Upd_Ring(cs, Sub, Qnt, Per, cs.PrevErr);
    }

    Line_Pack(&Line, Vout, Ftyp);
    return 1;
}

}  // namespace kv::g7231
