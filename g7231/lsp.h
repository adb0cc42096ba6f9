// LSP conversion, split vector quantisation, decoding and per-subframe
// interpolation back to LPC coefficients.
#pragma once

#include "g7231/basop.h"
#include "g7231/coder_state.h"

namespace kv::g7231 {

// Ten LSP frequencies (0..32767 for 0..pi) from ten quarter-scale LPC
// coefficients; falls back to PrevLsp when fewer than ten roots are found.
void AtoLsp(Word16* LspVect, const Word16* Lpc, const Word16* PrevLsp);

// Returns the 24-bit index of CurrLsp; CurrLsp is left holding the prediction
// residual, PrevLsp is not changed.
Word32 Lsp_Qnt(Word16* CurrLsp, const Word16* PrevLsp);

// Weighted split VQ of the residual Tv with weights Wvect.
Word32 Lsp_Svq(const Word16* Tv, const Word16* Wvect);

// Decodes LspId against PrevLsp into Lsp, stabilised. Crc != 0 marks a lost
// frame: LspId is then not read. The encoder decodes only correctly received
// frames (Crc 0).
void Lsp_Inq(Word16* Lsp, const Word16* PrevLsp, Word32 LspId, Word16 Crc);

// Four interpolated quantised LPC sets (10 per subframe) from PrevLsp to CurrLsp.
void Lsp_Int(Word16* QntLpc, const Word16* CurrLsp, const Word16* PrevLsp);

// Converts ten LSPs in place into ten quarter-scale LPC coefficients.
void LsptoA(Word16* Lsp);

}  // namespace kv::g7231
