// The lifetime soak: per class, --cycles cycles of create, AddSink,
// OnAudioData, RemoveSink and release through the COM runtime. After the
// first thousand cycles (or half the run, when shorter) nothing the process
// holds may grow any more, and at the end the module may unload.
#include "tests/threads/world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace threads {
namespace {

// A leak of one allocation per cycle grows the heap by at least 8 bytes a
// cycle, far beyond this after a few thousand cycles; what stays below it is
// allocator bookkeeping that does not grow with the cycles.
constexpr long long kHeapTolerance = 4096;
constexpr long long kMemoryTolerance = 1024 * 1024;
constexpr long long kHandleTolerance = 0;
constexpr std::size_t kChunk = 960;  // whole blocks of every class

class Soak : public testing::TestWithParam<const published::EncoderClass*> {};

TEST_P(Soak, CyclesLeaveNothingBehind) {
    const published::EncoderClass& cls = *GetParam();
    env::Server server;
    ASSERT_TRUE(SUCCEEDED(server.status()));
    const std::vector<std::uint8_t> speech = env::readData("g7231/speech_en.pcm");
    ASSERT_GE(speech.size(), 20000u);
    std::vector<std::uint8_t> chunk(speech.begin() + 16000, speech.begin() + 16000 + kChunk);

    Apartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.status()));
    Ref<Sink> sink = make<Sink>();
    sink->keep = false;

    const long cycles = env::cyclesOption();
    const long baseline = std::min(1000L, cycles / 2);
    env::Usage atBaseline{}, atEnd{};
    long long perCycle = -1;
    long done = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 1; i <= cycles; ++i) {
        HRESULT hr = S_OK;
        Ref<env::IKvAudioEncoder> encoder = createEncoder(cls, &hr);
        ASSERT_TRUE(encoder) << "cycle " << i << ": " << std::hex << hr;
        ASSERT_EQ(encoder->AddSink(sink.get()), S_OK) << "cycle " << i;
        ASSERT_EQ(encoder->OnAudioData(chunk.data(), static_cast<LONG>(chunk.size())), S_OK);
        ASSERT_EQ(encoder->RemoveSink(sink.get()), S_OK) << "cycle " << i;
        encoder.reset();
        if (i == 1) perCycle = sink->received;
        if (i == baseline) atBaseline = env::usage();
        done = i;
    }
    atEnd = env::usage();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_GT(perCycle, 0);
    EXPECT_EQ(sink->received, perCycle * done) << "every cycle encodes alike";
    EXPECT_EQ(sink->malformed, 0);
    EXPECT_EQ(sink->refs(), 1) << "every encoder let the sink go";
    EXPECT_TRUE(apartment.recorder().targets.empty()) << "every encoder left the capture component";
    EXPECT_EQ(env::canUnloadNow(), S_OK);

    const long long growth[] = {atEnd.heapBytes - atBaseline.heapBytes, atEnd.memoryBytes - atBaseline.memoryBytes,
                                atEnd.handles - atBaseline.handles};
    const long long begin[] = {atBaseline.heapBytes, atBaseline.memoryBytes, atBaseline.handles};
    const long long end[] = {atEnd.heapBytes, atEnd.memoryBytes, atEnd.handles};
    std::printf("soak %-7s %ld cycles in %.1f s (%.1f us/cycle); after cycle %ld -> end:", cls.name, done, seconds,
                1e6 * seconds / static_cast<double>(std::max(1L, done)), baseline);
    for (int k = 0; k < 3; ++k)
        std::printf(" %s %lld -> %lld (%+lld);", env::kUsageNames[k], begin[k], end[k], growth[k]);
    std::printf("\n");
    std::fflush(stdout);
    EXPECT_LE(growth[0], kHeapTolerance) << env::kUsageNames[0];
    EXPECT_LE(growth[1], kMemoryTolerance) << env::kUsageNames[1];
    EXPECT_LE(growth[2], kHandleTolerance) << env::kUsageNames[2];
}

std::string className(const testing::TestParamInfo<const published::EncoderClass*>& param) { return param.param->name; }

INSTANTIATE_TEST_SUITE_P(EachClass, Soak, testing::ValuesIn(published::kEncoderClasses), className);

}  // namespace
}  // namespace threads
