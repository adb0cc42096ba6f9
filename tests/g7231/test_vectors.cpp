// Every reference vector in tests/data/g7231 encodes, through Init_Coder and
// Coder, to exactly its expected frames. A mismatch names the first frame and
// the fields that differ, which points at the stage at fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/g7231/vector_data.h"

namespace {

using namespace g7231_test;

// Field layout of a 6.3 kbit/s frame, in transmission order (LSB first).
const std::pair<const char*, int> kLayout[] = {
    {"Ftyp", 2},     {"LspId", 24},   {"Olp0", 7},   {"AcLg1", 2},  {"Olp1", 7},     {"AcLg3", 2},
    {"Gain0", 12},   {"Gain1", 12},   {"Gain2", 12}, {"Gain3", 12}, {"Grid0", 1},    {"Grid1", 1},
    {"Grid2", 1},    {"Grid3", 1},    {"Rsvd", 1},   {"PosHi", 13}, {"PposLo0", 16}, {"PposLo1", 14},
    {"PposLo2", 16}, {"PposLo3", 14}, {"Pamp0", 6},  {"Pamp1", 5},  {"Pamp2", 6},    {"Pamp3", 5},
};

std::vector<uint32_t> unpack(const uint8_t* frame) {
    std::vector<uint32_t> fields;
    int pos = 0;
    for (const auto& [name, width] : kLayout) {
        uint32_t v = 0;
        for (int b = 0; b < width; b++, pos++) v |= static_cast<uint32_t>((frame[pos / 8] >> (pos % 8)) & 1) << b;
        fields.push_back(v);
    }
    return fields;
}

std::string describeDiff(const uint8_t* want, const uint8_t* got) {
    const std::vector<uint32_t> a = unpack(want), b = unpack(got);
    std::ostringstream s;
    // A gain code carries AcGn (adaptive codebook), Mamp and Tran (fixed codebook).
    auto gain = [](uint32_t g) {
        std::ostringstream t;
        t << "AcGn " << (g & 0x7FF) / 24 << " Mamp " << (g & 0x7FF) % 24 << " Tran " << (g >> 11);
        return t.str();
    };
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i] == b[i]) continue;
        const std::string name = kLayout[i].first;
        if (name.rfind("Gain", 0) == 0)
            s << " " << name << " (expected " << gain(a[i]) << ", got " << gain(b[i]) << ")";
        else
            s << " " << name << " (expected " << a[i] << ", got " << b[i] << ")";
    }
    return s.str();
}

std::vector<std::string> vectorNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(vectorDir()))
        if (e.path().extension() == ".pcm") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(G7231Vectors, AllKnownVectorsArePresent) {
    const std::vector<std::string> names = vectorNames();
    for (const char* n :
         {"itu_pathc63h", "itu_tamec63h", "speech_en", "voice_a", "sine_1k", "noise", "silence", "overload"})
        EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
}

class G7231Vector : public testing::TestWithParam<std::string> {};

TEST_P(G7231Vector, EncodesBitExact) {
    const std::string name = GetParam();
    const auto pcm = readPcmFrames(vectorDir() + name + ".pcm");
    const std::vector<uint8_t> want = readBytes(vectorDir() + name + ".g7231");
    ASSERT_FALSE(pcm.empty()) << name;
    ASSERT_EQ(want.size(), pcm.size() * 24) << name << ": expected file does not match the input length";

    const std::vector<uint8_t> got = encodeAll(pcm);
    ASSERT_EQ(got.size(), want.size());
    size_t bad = 0, first = pcm.size();
    for (size_t f = 0; f < pcm.size(); f++) {
        if (!std::equal(want.begin() + f * 24, want.begin() + (f + 1) * 24, got.begin() + f * 24)) {
            if (bad++ == 0) first = f;
        }
    }
    EXPECT_EQ(bad, 0u) << name << ": " << bad << " of " << pcm.size() << " frames differ; first is frame " << first
                       << ":" << (bad ? describeDiff(&want[first * 24], &got[first * 24]) : std::string());
}

INSTANTIATE_TEST_SUITE_P(All, G7231Vector, testing::ValuesIn(vectorNames()),
                         [](const testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
