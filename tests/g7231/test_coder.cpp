// Coder state handling: the start state, restarting a stream, and
// independent streams in one process (interleaved and on two threads).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "g7231/tables.h"
#include "tests/g7231/vector_data.h"

namespace g = kv::g7231;
using namespace g7231_test;

namespace {

TEST(Coder, InitCoderSetsTheStartState) {
    g::CodStat cs;
    std::memset(&cs, 0xA5, sizeof cs);
    g::Init_Coder(cs);

    EXPECT_EQ(cs.HpfZdl, 0);
    EXPECT_EQ(cs.HpfPdl, 0);
    EXPECT_EQ(cs.SinDet, 0);
    for (int i = 0; i < g::LpcOrder; i++) {
        EXPECT_EQ(cs.PrevLsp[i], g::LspDcTable[i]) << i;
        EXPECT_EQ(cs.WghtFirDl[i], 0);
        EXPECT_EQ(cs.WghtIirDl[i], 0);
        EXPECT_EQ(cs.RingFirDl[i], 0);
        EXPECT_EQ(cs.RingIirDl[i], 0);
    }
    for (int i = 0; i < g::PitchMax; i++) {
        EXPECT_EQ(cs.PrevWgt[i], 0);
        EXPECT_EQ(cs.PrevErr[i], 0);
        EXPECT_EQ(cs.PrevExc[i], 0);
    }
    for (int i = 0; i < g::LpcFrame - g::SubFrLen; i++) EXPECT_EQ(cs.PrevDat[i], 0);
    for (int i = 0; i < g::SubFrames + 1; i++) EXPECT_EQ(cs.Err[i], 4);
}

TEST(Coder, InitCoderRestartsTheStream) {
    const auto pcm = readPcmFrames(vectorDir() + "speech_en.pcm");
    ASSERT_GE(pcm.size(), 60u);

    // A stream restarted mid-way codes its next frames exactly as a fresh
    // stream that starts there.
    g::CodStat cs;
    g::Init_Coder(cs);
    for (int f = 0; f < 30; f++) encodeFrame(cs, pcm[f]);
    g::Init_Coder(cs);

    g::CodStat fresh;
    g::Init_Coder(fresh);
    for (int f = 30; f < 60; f++) ASSERT_EQ(encodeFrame(cs, pcm[f]), encodeFrame(fresh, pcm[f])) << "frame " << f;

    // ...and differently from the stream that was not restarted, so the
    // comparison above means something.
    g::CodStat running;
    g::Init_Coder(running);
    for (int f = 0; f < 30; f++) encodeFrame(running, pcm[f]);
    g::CodStat restarted;
    g::Init_Coder(restarted);
    EXPECT_NE(encodeFrame(running, pcm[30]), encodeFrame(restarted, pcm[30]));
}

struct Stream {
    const char* name;
    std::vector<std::vector<int16_t>> pcm;
    std::vector<uint8_t> expected;
};

Stream load(const char* name) {
    return {name, readPcmFrames(vectorDir() + name + ".pcm"), readBytes(vectorDir() + name + ".g7231")};
}

TEST(Coder, InterleavedStreamsDoNotDisturbEachOther) {
    Stream streams[] = {load("speech_en"), load("itu_tamec63h"), load("sine_1k")};
    g::CodStat state[3];
    std::vector<uint8_t> out[3];
    size_t next[3] = {};
    for (auto& s : state) g::Init_Coder(s);

    // Uneven turns: stream k codes k + 1 frames per round while it has input.
    for (bool busy = true; busy;) {
        busy = false;
        for (int k = 0; k < 3; k++) {
            for (int n = 0; n <= k && next[k] < streams[k].pcm.size(); n++, next[k]++) {
                const auto code = encodeFrame(state[k], streams[k].pcm[next[k]]);
                out[k].insert(out[k].end(), code.begin(), code.end());
                busy = true;
            }
        }
    }
    for (int k = 0; k < 3; k++) EXPECT_EQ(out[k], streams[k].expected) << streams[k].name;
}

TEST(Coder, StreamsOnTwoThreadsCodeIndependently) {
    Stream a = load("itu_pathc63h"), b = load("voice_a");
    std::vector<uint8_t> outA, outB;
    std::thread t([&] { outA = encodeAll(a.pcm); });
    outB = encodeAll(b.pcm);
    t.join();
    EXPECT_EQ(outA, a.expected);
    EXPECT_EQ(outB, b.expected);
}

}  // namespace
