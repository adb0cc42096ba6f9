// The block stager alone, with and without blocks held back, through a fake
// codec: however a stream is split into calls, and the calls cut into pieces,
// it codes what coding the whole stream at once codes.
#include "encoders/BlockStager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

// Blocks of four samples, one code byte per sample.
template <int StagingBlocks, bool Pad, int MaxPiece>
struct Small {
    static constexpr int kInBlock = 8;
    static constexpr int kOutBlock = 4;
    static constexpr int kStagingBlocks = StagingBlocks;
    static constexpr int kMaxPieceBytes = MaxPiece;
    static constexpr bool kPadLastBlock = Pad;
};

// A sample's code is its low byte plus its place in the stream: a sample
// coded twice, dropped or out of order shows.
struct FakeCodec {
    int coded = 0;
    void encodeBlock(const std::int16_t* pcm, BYTE* code) { encodeSamples(pcm, 4, code); }
    void encodeSamples(const std::int16_t* pcm, int count, BYTE* code) {
        for (int i = 0; i < count; ++i) code[i] = static_cast<BYTE>(pcm[i] + coded++);
    }
};

// The code of every call, cut into pieces as the encoder core cuts it, then of the flush.
template <class Blocks>
std::vector<std::vector<BYTE>> codeCalls(const std::vector<int>& calls, const BYTE* at) {
    kv::encoders::BlockStager<Blocks> stager;
    FakeCodec codec;
    std::vector<std::vector<BYTE>> code;
    for (const int call : calls) {
        std::vector<BYTE>& out = code.emplace_back();
        for (LONG done = 0, piece = 0; done < call; done += piece, at += piece) {
            piece = stager.nextPiece(call - done);
            const int n = stager.take(codec, at, piece);
            EXPECT_LE(n, stager.kOutBytes);
            out.insert(out.end(), stager.out(), stager.out() + n);
        }
    }
    const int n = stager.flush(codec);
    code.emplace_back(stager.out(), stager.out() + n);
    return code;
}

template <int StagingBlocks, bool Pad>
void checkSplit(const std::vector<int>& calls, const BYTE* stream, std::size_t length) {
    SCOPED_TRACE(std::to_string(StagingBlocks) + " blocks of staging, " + (Pad ? "padded" : "per-sample rest"));
    const auto code = codeCalls<Small<StagingBlocks, Pad, 20>>(calls, stream);
    EXPECT_EQ(code, (codeCalls<Small<StagingBlocks, Pad, 1000>>(calls, stream)))
        << "where a call is cut changes nothing but its deliveries";

    std::vector<std::int16_t> samples((length + 7) / 8 * 4, 0);  // padded to a whole block
    std::memcpy(samples.data(), stream, length);
    samples.resize(Pad ? samples.size() : length / 2);
    std::vector<BYTE> whole(samples.size());
    FakeCodec().encodeSamples(samples.data(), static_cast<int>(samples.size()), whole.data());
    std::vector<BYTE> joined;
    for (const auto& c : code) joined.insert(joined.end(), c.begin(), c.end());
    EXPECT_EQ(joined, whole);
}

TEST(BlockStager, AnySplitCodesWhatTheWholeStreamCodes) {
    const struct {
        const char* name;
        std::vector<int> calls;
    } splits[] = {
        {"whole blocks", {8, 8, 16}},
        {"byte by byte", std::vector<int>(37, 1)},
        {"split samples", {3, 5, 7, 1, 13}},
        {"past one piece", {101}},
        {"held bytes, then past several pieces", {5, 64, 3, 77}},
        {"empty calls", {0, 9, 0, 0}},
        {"nothing held at the end", {24, 24}},
    };
    for (const auto& split : splits) {
        SCOPED_TRACE(split.name);
        const auto length = static_cast<std::size_t>(std::accumulate(split.calls.begin(), split.calls.end(), 0));
        std::vector<BYTE> buffer(length + 1);
        for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<BYTE>(i * 37 + 11);
        const BYTE* const odd = buffer.data() + 1;  // samples need not be aligned
        checkSplit<1, false>(split.calls, odd, length);
        checkSplit<1, true>(split.calls, odd, length);
        checkSplit<3, false>(split.calls, odd, length);
        checkSplit<3, true>(split.calls, odd, length);
    }
}

}  // namespace
