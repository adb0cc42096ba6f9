#include "g7231/pack.h"

namespace kv::g7231 {

namespace {

// Appends fields least significant bit first; bit n lands in byte n / 8 at
// bit n % 8.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : out_(out) {}

    void put(Word32 value, int width) {
        for (int b = 0; b < width; b++, pos_++)
            if ((value >> b) & 1) out_[pos_ / 8] = static_cast<uint8_t>(out_[pos_ / 8] ^ (1u << (pos_ % 8)));
    }

private:
    uint8_t* out_;
    int pos_ = 0;
};

// Rate 6.3 kbit/s, active frame.
constexpr Word32 ActiveFrame63 = 0;

}  // namespace

void Line_Pack(const LINEDEF* Line, uint8_t* Vout, [[maybe_unused]] Word16 Ftyp) {
    for (int i = 0; i < FrameBytes; i++) Vout[i] = 0;

    BitWriter w(Vout);
    const SFSDEF* Sfs = Line->Sfs;

    w.put(ActiveFrame63, 2);
    w.put(Line->LspId, 24);

    w.put(Line->Olp[0] - PitchMin, 7);
    w.put(Sfs[1].AcLg, 2);
    w.put(Line->Olp[1] - PitchMin, 7);
    w.put(Sfs[3].AcLg, 2);

    for (int i = 0; i < SubFrames; i++) w.put(Sfs[i].AcGn * NumOfGainLev + Sfs[i].Mamp + Sfs[i].Tran * 2048, 12);

    for (int i = 0; i < SubFrames; i++) w.put(Sfs[i].Grid, 1);
    w.put(0, 1);  // reserved

    // High parts of the four position codes in one mixed-radix number.
    const Word32 PosHi =
        ((Sfs[0].Ppos >> 16) * 9 + (Sfs[1].Ppos >> 14)) * 90 + (Sfs[2].Ppos >> 16) * 9 + (Sfs[3].Ppos >> 14);
    w.put(PosHi, 13);

    w.put(Sfs[0].Ppos & 0xFFFF, 16);
    w.put(Sfs[1].Ppos & 0x3FFF, 14);
    w.put(Sfs[2].Ppos & 0xFFFF, 16);
    w.put(Sfs[3].Ppos & 0x3FFF, 14);

    w.put(Sfs[0].Pamp, 6);
    w.put(Sfs[1].Pamp, 5);
    w.put(Sfs[2].Pamp, 6);
    w.put(Sfs[3].Pamp, 5);
}

}  // namespace kv::g7231
