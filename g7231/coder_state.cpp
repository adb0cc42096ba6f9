#include "g7231/coder_state.h"

#include "g7231/tables.h"

namespace kv::g7231 {

void Init_Coder(CodStat& cs) {
    cs = CodStat{};
    for (int i = 0; i < LpcOrder; i++) cs.PrevLsp[i] = LspDcTable[i];
    for (auto& e : cs.Err) e = Err0;
}

}  // namespace kv::g7231
