// Every stream of tests/data/g7231-decode (6.3 and 5.3 kbit/s, comfort noise,
// rate switches) decodes to exactly the reference decoder's output, with the
// postfilter on and off, and the 6.3 streams also with the frames of lost.txt
// erased, or made invalid (a forbidden lag code, a gain index past its table),
// which must decode alike. A mismatch names the first frame and sample that
// differ.
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

// What becomes of the frames of lost.txt.
enum class Loss { None, Erased, BadLag, BadGain };

struct Case {
    std::string stream;    // NAME.STREAM
    std::string expected;  // NAME.STREAM.{pf,nopf,lost}
    bool postFilter;
    Loss loss;
    std::string name;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> cases() {
    std::vector<Case> all;
    for (const auto& e : std::filesystem::directory_iterator(dataDir())) {
        if (e.path().extension() != ".g7231") continue;
        const std::string s = e.path().stem().string();
        std::string id = s;  // a test name: letters, digits and underscores
        std::replace(id.begin(), id.end(), '.', '_');
        all.push_back({s, s + ".pf", true, Loss::None, id + "_pf"});
        all.push_back({s, s + ".nopf", false, Loss::None, id + "_nopf"});
        if (std::filesystem::exists(dataDir() + s + ".lost.pcm")) {
            all.push_back({s, s + ".lost", true, Loss::Erased, id + "_lost"});
            all.push_back({s, s + ".lost", true, Loss::BadLag, id + "_lost_as_bad_lag"});
            all.push_back({s, s + ".lost", true, Loss::BadGain, id + "_lost_as_bad_gain"});
        }
    }
    std::sort(all.begin(), all.end(), [](const Case& a, const Case& b) { return a.name < b.name; });
    return all;
}

std::set<size_t> lostFrames() {
    std::set<size_t> lost;
    const std::vector<uint8_t> text = readBytes(dataDir() + "lost.txt");
    std::istringstream in(std::string(text.begin(), text.end()));
    for (std::string n; std::getline(in, n, ',');) lost.insert(std::stoul(n));
    return lost;
}

// Sets the n bits from bit p (least significant first) of a frame.
void setBits(uint8_t* frame, int p, int n) {
    for (int i = p; i < p + n; i++) frame[i / 8] |= static_cast<uint8_t>(1 << (i % 8));
}

std::vector<int16_t> decode(std::vector<uint8_t> stream, bool postFilter, Loss loss) {
    const std::set<size_t> lost = loss == Loss::None ? std::set<size_t>{} : lostFrames();
    CG7231Decoder dec;
    dec.setPostFilter(postFilter);
    std::vector<int16_t> out;
    int16_t pcm[CG7231Decoder::kFrameSamples];
    for (size_t at = 0, frame = 0; at < stream.size(); frame++) {
        const int n = CG7231Decoder::frameBytes(stream[at]);
        if (at + n > stream.size()) break;
        const bool hit = lost.count(frame) != 0;
        if (hit && loss == Loss::BadLag) setBits(&stream[at], 26, 7);    // lag code 127
        if (hit && loss == Loss::BadGain) setBits(&stream[at], 44, 12);  // gain index 170 (85 for short lags)
        dec.decodeFrame(&stream[at], hit && loss == Loss::Erased, pcm);
        out.insert(out.end(), pcm, pcm + CG7231Decoder::kFrameSamples);
        at += n;
    }
    return out;
}

TEST(G7231DecoderVectors, EveryStreamHasItsOutputs) {
    // Four inputs, five streams each, both postfilter settings, and the four
    // 6.3 streams with losses three ways.
    EXPECT_EQ(cases().size(), 4u * 5u * 2u + 4u * 3u);
    EXPECT_FALSE(lostFrames().empty());
}

class G7231DecoderVector : public testing::TestWithParam<Case> {};

TEST_P(G7231DecoderVector, DecodesBitExact) {
    const Case& c = GetParam();
    const std::vector<uint8_t> stream = readBytes(dataDir() + c.stream + ".g7231");
    const std::vector<uint8_t> want = readBytes(dataDir() + c.expected + ".pcm");
    ASSERT_FALSE(stream.empty());
    const std::vector<int16_t> got = decode(stream, c.postFilter, c.loss);
    ASSERT_EQ(got.size() * 2, want.size()) << c.name << ": frame count differs";
    for (size_t i = 0; i < got.size(); i++) {
        const auto w = static_cast<int16_t>(want[2 * i] | want[2 * i + 1] << 8);
        if (got[i] != w) {
            FAIL() << c.name << ": first difference in frame " << i / CG7231Decoder::kFrameSamples << ", sample "
                   << i % CG7231Decoder::kFrameSamples << ": expected " << w << ", got " << got[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, G7231DecoderVector, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& p) { return p.param.name; });

}  // namespace
