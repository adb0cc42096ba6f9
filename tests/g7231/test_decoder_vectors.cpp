// Every stream of tests/data/g7231-decode (6.3 and 5.3 kbit/s, comfort noise,
// rate switches) decodes to exactly the reference decoder's output, with the
// postfilter on and off, and the 6.3 streams also with the frames of lost.txt
// erased. A mismatch names the first frame and sample that differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/G7231Decoder.h"

namespace {

using kv::codecs::CG7231Decoder;

std::string dataDir() { return std::string(KV_TEST_DATA_DIR) + "/g7231-decode/"; }

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct Case {
    std::string stream;    // NAME.STREAM
    std::string expected;  // NAME.STREAM.{pf,nopf,lost}
    bool postFilter;
    bool lost;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const auto& e : std::filesystem::directory_iterator(dataDir())) {
        if (e.path().extension() != ".g7231") continue;
        const std::string s = e.path().stem().string();
        all.push_back({s, s + ".pf", true, false});
        all.push_back({s, s + ".nopf", false, false});
        if (std::filesystem::exists(dataDir() + s + ".lost.pcm")) all.push_back({s, s + ".lost", true, true});
    }
    std::sort(all.begin(), all.end(), [](const Case& a, const Case& b) { return a.expected < b.expected; });
    return all;
}

std::set<size_t> lostFrames() {
    std::set<size_t> lost;
    const std::vector<uint8_t> text = readBytes(dataDir() + "lost.txt");
    std::istringstream in(std::string(text.begin(), text.end()));
    for (std::string n; std::getline(in, n, ',');) lost.insert(std::stoul(n));
    return lost;
}

// Little-endian 16-bit samples, as the reference files hold them.
std::vector<int16_t> decode(const std::vector<uint8_t>& stream, bool postFilter, const std::set<size_t>& lost) {
    CG7231Decoder dec;
    dec.setPostFilter(postFilter);
    std::vector<int16_t> out;
    int16_t pcm[CG7231Decoder::kFrameSamples];
    for (size_t at = 0, frame = 0; at < stream.size(); frame++) {
        const int n = CG7231Decoder::frameBytes(stream[at]);
        if (at + n > stream.size()) break;
        dec.decodeFrame(&stream[at], lost.count(frame) != 0, pcm);
        out.insert(out.end(), pcm, pcm + CG7231Decoder::kFrameSamples);
        at += n;
    }
    return out;
}

TEST(G7231DecoderVectors, EveryStreamHasItsOutputs) {
    // Four inputs, five streams each, both postfilter settings, and the four
    // 6.3 streams with losses.
    EXPECT_EQ(cases().size(), 4u * 5u * 2u + 4u);
    EXPECT_FALSE(lostFrames().empty());
}

class G7231DecoderVector : public testing::TestWithParam<Case> {};

TEST_P(G7231DecoderVector, DecodesBitExact) {
    const Case& c = GetParam();
    const std::vector<uint8_t> stream = readBytes(dataDir() + c.stream + ".g7231");
    const std::vector<uint8_t> want = readBytes(dataDir() + c.expected + ".pcm");
    ASSERT_FALSE(stream.empty());
    const std::vector<int16_t> got = decode(stream, c.postFilter, c.lost ? lostFrames() : std::set<size_t>{});
    ASSERT_EQ(got.size() * 2, want.size()) << c.expected << ": frame count differs";
    for (size_t i = 0; i < got.size(); i++) {
        const auto w = static_cast<int16_t>(want[2 * i] | want[2 * i + 1] << 8);
        if (got[i] != w) {
            FAIL() << c.expected << ": first difference in frame " << i / CG7231Decoder::kFrameSamples << ", sample "
                   << i % CG7231Decoder::kFrameSamples << ": expected " << w << ", got " << got[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, G7231DecoderVector, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& p) {
                             std::string n = p.param.expected;
                             std::replace(n.begin(), n.end(), '.', '_');
                             return n;
                         });

}  // namespace
