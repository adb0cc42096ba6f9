// Four threads, each its own apartment with its own object of every class,
// stream the same speech at once through a capture component of their own.
// Every stream must equal the one a single thread encodes: the objects share
// the module (its lock count, class objects, type-information caches) and
// nothing else. Run under TSan on host and against the registered DLL under
// Wine.
#include "tests/threads/world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace threads {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 2;
constexpr std::size_t kChunk = 640;  // 20 ms of capture
constexpr std::size_t kClassCount = std::size(published::kEncoderClasses);

struct Lookup {
    HRESULT status;
    DISPID id;
    bool operator==(const Lookup&) const = default;
};

// What one apartment saw: per class, the stream of every round.
struct Seen {
    std::string failure;
    std::array<std::vector<std::vector<std::uint8_t>>, kClassCount> streams;
    std::vector<Lookup> lookups;
    long long malformed = 0;
};

// Where the threads meet before they race. Not std::latch: the MinGW
// libstdc++ waits for it on a condition variable shared through a pool and
// notifies without taking that variable's mutex, so a thread that has just
// seen the count unchanged can miss the last arrival and wait for ever. Here
// the count is read and changed only under the mutex the waiters sleep on.
class StartGate {
public:
    explicit StartGate(int count) : m_left(count) {}

    void arriveAndWait() {
        std::unique_lock lock(m_mutex);
        if (--m_left == 0) {
            m_open.notify_all();
            return;
        }
        m_open.wait(lock, [this] { return m_left == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_open;
    int m_left;
};

// With a start gate, the threads meet there first, and then look a name up
// through IDispatch, so that they race to load the type information.
void encodeInApartment(const std::vector<std::uint8_t>& pcm, int rounds, StartGate* start, Seen& run) {
    Apartment apartment;
    if (start) start->arriveAndWait();
    if (FAILED(apartment.status())) {
        run.failure = "no apartment: " + std::to_string(apartment.status());
        return;
    }
    for (int round = 0; round < rounds; ++round) {
        std::vector<Ref<env::IKvAudioEncoder>> encoders;
        std::vector<Ref<Sink>> sinks;
        for (const published::EncoderClass* c : published::kEncoderClasses) {
            HRESULT hr = S_OK;
            encoders.push_back(createEncoder(*c, &hr));
            sinks.push_back(make<Sink>());
            if (!encoders.back()) {
                run.failure = std::string("cannot create ") + c->name + ": " + std::to_string(hr);
                return;
            }
            if (encoders.back()->AddSink(sinks.back().get()) != S_OK) {
                run.failure = std::string("AddSink refused by ") + c->name;
                return;
            }
            // The lazily loaded type information and the name cache are
            // shared by every object of the process.
            if (!start) continue;
            OLECHAR name[] = ENV_W("OnAudioData");
            LPOLESTR names[] = {name};
            Lookup lookup{S_OK, -1};
            lookup.status = encoders.back()->GetIDsOfNames(IID_NULL, names, 1, 0, &lookup.id);
            run.lookups.push_back(lookup);
        }
        if (!apartment.recorder().capture(pcm, kChunk)) {
            run.failure = "an encoder refused the capture";
            return;
        }
        for (std::size_t i = 0; i < kClassCount; ++i) {
            if (encoders[i]->RemoveSink(sinks[i].get()) != S_OK) run.failure = "RemoveSink refused";
            run.malformed += sinks[i]->malformed;
            run.streams[i].push_back(std::move(sinks[i]->bytes));
        }
    }
}

bool isPrefix(const std::vector<std::uint8_t>& part, const std::vector<std::uint8_t>& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(Threads, FourApartmentsEncodeAsOneThreadDoes) {
    env::Server server;
    ASSERT_TRUE(SUCCEEDED(server.status())) << std::hex << server.status();
    const std::vector<std::uint8_t> pcm = env::readData("g7231/speech_en.pcm");
    const std::vector<std::uint8_t> frames = env::readData("g7231/speech_en.g7231");
    ASSERT_GT(pcm.size(), 100000u);
    ASSERT_FALSE(frames.empty());

    // The main apartment lives through the test, so the module stays loaded
    // and its verdict on unloading can be asked at the end.
    Apartment main;
    ASSERT_TRUE(SUCCEEDED(main.status()));
    Seen reference;
    encodeInApartment(pcm, 1, nullptr, reference);
    ASSERT_EQ(reference.failure, "");
    // The reference must be a real encoding, not agreement on nothing.
    EXPECT_EQ(reference.streams[0][0].size(), pcm.size() / 320 * 160);
    EXPECT_EQ(reference.streams[1][0].size(), pcm.size() / 320 * 160);
    EXPECT_EQ(reference.streams[3][0].size(), pcm.size() / 480 * 240);
    EXPECT_GT(reference.streams[2][0].size(), frames.size() / 2);
    EXPECT_TRUE(isPrefix(reference.streams[2][0], frames)) << "the G.723.1 frames of the reference vector";
    EXPECT_NE(reference.streams[0][0], reference.streams[1][0]);

    std::array<Seen, kThreads> runs;
    {
        StartGate start(kThreads);
        std::vector<std::thread> workers;
        for (Seen& run : runs) workers.emplace_back(encodeInApartment, std::cref(pcm), kRounds, &start, std::ref(run));
        for (auto& w : workers) w.join();
    }

    for (int t = 0; t < kThreads; ++t) {
        const Seen& run = runs[t];
        ASSERT_EQ(run.failure, "") << "thread " << t;
        EXPECT_EQ(run.malformed, 0) << "thread " << t;
        for (std::size_t c = 0; c < kClassCount; ++c) {
            ASSERT_EQ(run.streams[c].size(), static_cast<std::size_t>(kRounds));
            for (int r = 0; r < kRounds; ++r)
                EXPECT_TRUE(run.streams[c][r] == reference.streams[c][0])
                    << published::kEncoderClasses[c]->name << ", thread " << t << ", round " << r << ": "
                    << run.streams[c][r].size() << " bytes against " << reference.streams[c][0].size();
        }
        ASSERT_EQ(run.lookups.size(), kRounds * kClassCount);
        for (const Lookup& l : run.lookups) EXPECT_TRUE(l == runs[0].lookups[0]) << std::hex << l.status;
    }
    if (env::kTypeInformation) {
        EXPECT_EQ(runs[0].lookups[0].status, S_OK);
    }
    EXPECT_EQ(env::canUnloadNow(), S_OK) << "every object of every thread is gone";
}

}  // namespace
}  // namespace threads
