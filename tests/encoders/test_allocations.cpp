// The data path allocates nothing per call: after the first OnAudioData, no
// call of any size, through any class with one sink and the decoder of its
// stream, reaches the allocator. A counting allocator replaces the global one
// for this program.
#include "decoders/KvAudioDecoder.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"
#include "tests/encoders/doubles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {
long g_allocations = 0;

void* allocate(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// Out of line, so that the compiler does not pair our delete's free() with
// the operator new it cannot see is ours and warn of a mismatch.
[[gnu::noinline]] void release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    ++g_allocations;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

using kv::com::ComPtr;

// A sink and data target that keeps nothing, so that every allocation
// counted is the encoder's or the decoder's.
class CountingSink : public kv::com::implements<CountingSink, kv::com::NoTypeInfo<IKvAudioSink>, IKvAudioDataTarget> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        *count = bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE*, LONG length) override {
        bytes += length;
        ++calls;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE*, LONG length) override {
        pcmBytes += length;
        return S_OK;
    }
    LONG bytes = 0;
    long calls = 0;
    LONG pcmBytes = 0;
};

class Allocations : public ::testing::Test, public kvtest::ComponentsFixture {};

template <class Class, class I = IKvAudioEncoder>
ComPtr<I> create() {
    ComPtr<I> e;
    EXPECT_EQ(kv::com::createInstance<Class>(nullptr, kv::com::iidOf<I>(), e.put_void()), S_OK);
    return e;
}

using kv::codecs::StreamFormat;
template <StreamFormat Format>
constexpr auto decoderOf = &create<kv::decoders::CKvAudioDecoder<Format>, IKvAudioDecoder>;

TEST_F(Allocations, NonePerDataCallAfterTheFirst) {
    struct Class {
        const char* name;
        ComPtr<IKvAudioEncoder> (*create)();
        ComPtr<IKvAudioDecoder> (*createDecoder)();
    };
    const Class classes[] = {
        {"G.711 A-law", &create<kv::encoders::CKV_AudioG711A>, decoderOf<StreamFormat::G711A>},
        {"G.711 mu-law", &create<kv::encoders::CKV_AudioG711U>, decoderOf<StreamFormat::G711U>},
        {"Quorvan", &create<kv::encoders::CKV_AudioQuorvan>, decoderOf<StreamFormat::Quorvan>},
        {"G.723.1", &create<kv::encoders::CKV_AudioG7231>, decoderOf<StreamFormat::G7231>},
    };
    // Capture-sized calls, then sizes that split samples and blocks, fill
    // and overrun the staging, start unaligned, and come in pieces.
    const long sizes[] = {640, 640, 1, 479, 320, 481, 0, 4321, 4800, 6401, 13, 100000, 640};
    std::vector<BYTE> pcm(100001);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<BYTE>(i * 7 + (i >> 9));
    for (const Class& c : classes) {
        SCOPED_TRACE(c.name);
        ComPtr<IKvAudioEncoder> encoder = c.create();
        ComPtr<IKvAudioDecoder> decoder = c.createDecoder();
        auto sink = kv::com::make<CountingSink>();
        ASSERT_EQ(encoder->AddSink(sink->identity()), S_OK);
        ASSERT_EQ(decoder->AddTarget(sink->identity()), S_OK);
        ASSERT_EQ(encoder->AddSink(decoder.get()), S_OK);
        encoder->OnAudioData(pcm.data(), 640);
        long calls = 0;
        const long before = g_allocations;
        for (int round = 0; round < 3; ++round) {
            for (const long n : sizes) {
                // Odd offsets too: the caller's buffer need not be aligned.
                encoder->OnAudioData(pcm.data() + (round & 1), static_cast<LONG>(n));
                ++calls;
            }
        }
        EXPECT_EQ(g_allocations - before, 0) << "over " << calls << " calls";
        EXPECT_GE(sink->calls, calls + 1) << "every call delivers";
        EXPECT_GT(sink->bytes, 0);
        EXPECT_GT(sink->pcmBytes, 0);
    }
}

}  // namespace
