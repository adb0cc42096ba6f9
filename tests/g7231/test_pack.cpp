// Frame packing: a fully worked frame, and each field alone at its bit range.
#include "g7231/pack.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>

namespace g = kv::g7231;

namespace {

using Frame = std::array<uint8_t, 24>;

Frame pack(const g::LINEDEF& line) {
    Frame out;
    out.fill(0xA5);  // packing must clear the buffer itself
    g::Line_Pack(&line, out.data(), 1);
    return out;
}

g::LINEDEF emptyLine() {
    g::LINEDEF line{};
    line.Olp[0] = line.Olp[1] = g::PitchMin;  // lag 18 is sent as 0
    return line;
}

TEST(Pack, WorkedExample) {
    g::LINEDEF line{};
    line.LspId = 0x123456;
    line.Olp[0] = 60;
    line.Olp[1] = 100;
    line.Sfs[1].AcLg = 2;
    line.Sfs[3].AcLg = 1;
    const int16_t acgn[] = {10, 20, 30, 40}, mamp[] = {1, 2, 3, 4}, tran[] = {0, 1, 0, 0}, grid[] = {1, 0, 1, 0},
                  pamp[] = {42, 21, 63, 1};
    const int32_t ppos[] = {3 * 65536 + 0x1234, 5 * 16384 + 0x0ABC, 7 * 65536 + 0xBEEF, 8 * 16384 + 0x1111};
    for (int i = 0; i < 4; i++) {
        line.Sfs[i].AcGn = acgn[i];
        line.Sfs[i].Mamp = mamp[i];
        line.Sfs[i].Tran = tran[i];
        line.Sfs[i].Grid = grid[i];
        line.Sfs[i].Pamp = pamp[i];
        line.Sfs[i].Ppos = ppos[i];
    }
    const Frame want = {0x58, 0xD1, 0x48, 0xA8, 0x94, 0x16, 0x0F, 0xE2, 0x39, 0x2D, 0xC4, 0x53,
                        0x0E, 0x17, 0x8D, 0x04, 0xAF, 0xF2, 0xEE, 0x1B, 0x11, 0xA9, 0xF5, 0x0F};
    EXPECT_EQ(pack(line), want);
}

// One field set, everything else at its zero code: exactly the bits
// [first, first + value's width) carry the value, LSB first.
struct FieldCase {
    const char* what;
    std::function<void(g::LINEDEF&)> set;
    int first;
    uint32_t value;
};

const FieldCase kFields[] = {
    {"LspId", [](g::LINEDEF& l) { l.LspId = 0xFFFFFF; }, 2, 0xFFFFFF},
    {"Olp[0] = 145", [](g::LINEDEF& l) { l.Olp[0] = 145; }, 26, 127},
    {"AcLg of subframe 1", [](g::LINEDEF& l) { l.Sfs[1].AcLg = 3; }, 33, 3},
    {"Olp[1] = 19", [](g::LINEDEF& l) { l.Olp[1] = 19; }, 35, 1},
    {"AcLg of subframe 3", [](g::LINEDEF& l) { l.Sfs[3].AcLg = 3; }, 42, 3},
    {"AcLg of even subframes is not sent", [](g::LINEDEF& l) { l.Sfs[0].AcLg = l.Sfs[2].AcLg = 1; }, 0, 0},
    {"largest gain code",
     [](g::LINEDEF& l) {
         l.Sfs[0].AcGn = 169;
         l.Sfs[0].Mamp = 23;
     },
     44, 4079},
    {"Tran is bit 11 of the gain code",
     [](g::LINEDEF& l) {
         l.Sfs[1].AcGn = 84;
         l.Sfs[1].Mamp = 23;
         l.Sfs[1].Tran = 1;
     },
     56, 2048 + 84 * 24 + 23},
    {"gain code of subframe 3", [](g::LINEDEF& l) { l.Sfs[3].Mamp = 5; }, 80, 5},
    {"grid bits", [](g::LINEDEF& l) { l.Sfs[0].Grid = l.Sfs[1].Grid = l.Sfs[2].Grid = l.Sfs[3].Grid = 1; }, 92, 0xF},
    {"largest combined position index",
     [](g::LINEDEF& l) {
         l.Sfs[0].Ppos = 9 << 16;
         l.Sfs[1].Ppos = 8 << 14;
         l.Sfs[2].Ppos = 9 << 16;
         l.Sfs[3].Ppos = 8 << 14;
     },
     97, 8099},
    {"low position bits of subframe 0", [](g::LINEDEF& l) { l.Sfs[0].Ppos = 0xFFFF; }, 110, 0xFFFF},
    {"low position bits of subframe 1", [](g::LINEDEF& l) { l.Sfs[1].Ppos = 0x3FFF; }, 126, 0x3FFF},
    {"low position bits of subframe 2", [](g::LINEDEF& l) { l.Sfs[2].Ppos = 0xFFFF; }, 140, 0xFFFF},
    {"low position bits of subframe 3", [](g::LINEDEF& l) { l.Sfs[3].Ppos = 0x3FFF; }, 156, 0x3FFF},
    {"signs of subframe 0", [](g::LINEDEF& l) { l.Sfs[0].Pamp = 63; }, 170, 63},
    {"signs of subframe 1", [](g::LINEDEF& l) { l.Sfs[1].Pamp = 31; }, 176, 31},
    {"signs of subframe 2", [](g::LINEDEF& l) { l.Sfs[2].Pamp = 63; }, 181, 63},
    {"signs of subframe 3 end the frame", [](g::LINEDEF& l) { l.Sfs[3].Pamp = 31; }, 187, 31},
};

TEST(Pack, EachFieldAtItsBits) {
    for (const FieldCase& c : kFields) {
        g::LINEDEF line = emptyLine();
        c.set(line);
        Frame want{};
        for (int b = 0; (c.value >> b) != 0; b++)
            if ((c.value >> b) & 1) want[(c.first + b) / 8] |= static_cast<uint8_t>(1u << ((c.first + b) % 8));
        EXPECT_EQ(pack(line), want) << c.what;
    }
}

}  // namespace
