// Each encoder class with a decoder class as its sink, created through COM by
// their published identities: what the decoder pushes to its targets is what
// the codec makes of the stream the encoder delivered (the laws' expansions
// for G.711, the G.723.1 decoder's frames with the postfilter on and off), or
// the input again, near enough (Quorvan); and the same stream fed a byte per
// call gives the same samples.
#include "codecs/G711Codec.h"
#include "codecs/G7231Decoder.h"
#include "com/NoTypeInfo.h"
#include "com/Object.h"
#include "interfaces/Interfaces.h"
#include "tests/com/last_error.h"
#include "tests/decoders/round_trip.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using kv::com::ComPtr;
using Bytes = std::vector<BYTE>;
using Samples = std::vector<std::int16_t>;

// Keeps the stream an encoder delivers.
class CodeSink : public kv::com::implements<CodeSink, kv::com::NoTypeInfo<IKvAudioSink>> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        *count = static_cast<LONG>(code.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override {
        code.insert(code.end(), data, data + length);
        return S_OK;
    }
    Bytes code;
};

// Keeps the samples a decoder pushes, and answers each call with a failure,
// which must keep no other target from its samples. Given the decoder (a
// reference of its own), it lets go of it inside the delivery that brings
// the last of `expected` samples.
class Target : public kv::com::implements<Target, IKvAudioDataTarget> {
public:
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        const std::size_t had = samples.size();
        samples.resize(had + static_cast<std::size_t>(length) / 2);
        if (length > 0) std::memcpy(samples.data() + had, data, static_cast<std::size_t>(length));
        if (decoder && samples.size() >= expected) decoder.reset();
        return E_FAIL;
    }
    Samples samples;
    ComPtr<IUnknown> decoder;
    std::size_t expected = 0;
};

Samples expanded(const Bytes& code, void (*law)(const std::uint8_t*, std::int32_t, std::int16_t*)) {
    Samples out(code.size());
    law(code.data(), static_cast<std::int32_t>(code.size()), out.data());
    return out;
}

Samples g7231Frames(const Bytes& code, bool postFilter) {
    kv::codecs::CG7231Decoder codec;
    codec.setPostFilter(postFilter);
    Samples out;
    std::int16_t frame[kv::codecs::CG7231Decoder::kFrameSamples];
    for (std::size_t at = 0; at < code.size(); at += kv::codecs::CG7231Decoder::frameBytes(code[at])) {
        codec.decodeFrame(&code[at], false, frame);
        out.insert(out.end(), std::begin(frame), std::end(frame));
    }
    return out;
}

double snrDb(const Samples& input, const Samples& output) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        signal += double(input[i]) * input[i];
        noise += (double(input[i]) - output[i]) * (double(input[i]) - output[i]);
    }
    return 10 * std::log10(signal / noise);
}

struct Case {
    const char* name;
    const published::EncoderClass& encoder;
    const published::ComponentClass& decoder;
    bool postFilter;
    void (*check)(const Case&, const Bytes& code, const Samples& input, const Samples& decoded);
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"G711A", published::kG711A, published::kDecoderG711A, true,
     [](const Case&, const Bytes& code, const Samples&, const Samples& decoded) {
         EXPECT_EQ(decoded, expanded(code, kv::codecs::CG711Codec::decodeALawSamples));
     }},
    {"G711U", published::kG711U, published::kDecoderG711U, true,
     [](const Case&, const Bytes& code, const Samples&, const Samples& decoded) {
         EXPECT_EQ(decoded, expanded(code, kv::codecs::CG711Codec::decodeMuLawSamples));
     }},
    {"G7231", published::kG7231, published::kDecoderG7231, true,
     [](const Case& c, const Bytes& code, const Samples&, const Samples& decoded) {
         EXPECT_EQ(decoded, g7231Frames(code, c.postFilter));
     }},
    {"G7231_PostFilterOff", published::kG7231, published::kDecoderG7231, false,
     [](const Case& c, const Bytes& code, const Samples&, const Samples& decoded) {
         EXPECT_EQ(decoded, g7231Frames(code, c.postFilter));
     }},
    {"Quorvan", published::kQuorvan, published::kDecoderQuorvan, true,
     [](const Case&, const Bytes&, const Samples& input, const Samples& decoded) {
         ASSERT_EQ(decoded.size(), input.size());
         // Not more: the input's loudest peaks pass half scale, where the low band clips.
         EXPECT_GT(snrDb(input, decoded), 20.0);
     }},
};

template <class I>
ComPtr<I> create(const char* clsid) {
    ComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(published::guid<CLSID>(clsid), nullptr, CLSCTX_INPROC_SERVER, kv::com::iidOf<I>(),
                               object.put_void()),
              S_OK);
    return object;
}

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, TheDecoderGivesWhatTheCodecMakesOfTheEncodersStream) {
    const Case& c = GetParam();
    std::ifstream file(kvtest::roundTripData() / "g7231" / "speech_en.pcm", std::ios::binary);
    const Bytes pcm{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(pcm.size(), 100000u);
    Samples input(pcm.size() / 2);
    std::memcpy(input.data(), pcm.data(), input.size() * 2);

    auto encoder = create<IKvAudioEncoder>(c.encoder.clsid);
    auto decoder = create<IKvAudioDecoder>(c.decoder.clsid);
    ASSERT_TRUE(encoder && decoder);
    ASSERT_EQ(decoder->put_PostFilter(c.postFilter ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    auto first = kv::com::make<Target>(), second = kv::com::make<Target>();
    auto sink = kv::com::make<CodeSink>();
    ASSERT_EQ(decoder->AddTarget(first.get()), S_OK);
    ASSERT_EQ(decoder->AddTarget(second.get()), S_OK);
    ASSERT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    ASSERT_EQ(encoder->AddSink(decoder.get()), S_OK);
    // In capture-sized pieces, and the end of the stream.
    for (std::size_t at = 0; at < pcm.size(); at += 640)
        encoder->OnAudioData(const_cast<BYTE*>(&pcm[at]),
                             static_cast<LONG>(std::min<std::size_t>(640, pcm.size() - at)));
    ASSERT_EQ(encoder.query<IKvAudioEncoderControl>()->Flush(), S_OK);
    EXPECT_EQ(decoder->Flush(), S_OK) << "the stream ends on a whole frame";
    EXPECT_EQ(encoder->RemoveSink(decoder.get()), S_OK);
    LONG taken = 0;
    EXPECT_EQ(decoder.query<IKvAudioSink>()->GetBytesReceived(&taken), S_OK);
    EXPECT_EQ(taken, static_cast<LONG>(sink->code.size()));

    c.check(c, sink->code, input, first->samples);
    EXPECT_EQ(second->samples, first->samples) << "one failing target kept the other from its samples";

    // The same stream a byte per call, to a decoder that only its target holds.
    auto holder = kv::com::make<Target>();
    IKvAudioSink* bytewise = nullptr;
    {
        auto alone = create<IKvAudioDecoder>(c.decoder.clsid);
        ASSERT_TRUE(alone);
        ASSERT_EQ(alone->put_PostFilter(c.postFilter ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        ASSERT_EQ(alone->AddTarget(holder.get()), S_OK);
        holder->decoder = alone.query<IUnknown>();
        holder->expected = first->samples.size();
        bytewise = alone.query<IKvAudioSink>().get();
    }
    std::size_t fed = 0;
    for (; fed < sink->code.size() && holder->decoder; ++fed) bytewise->OnEncodedData(&sink->code[fed], 1);
    EXPECT_EQ(fed, sink->code.size()) << "the last samples came before the last byte";
    holder->decoder.reset();
    EXPECT_EQ(holder->samples, first->samples);
    EXPECT_EQ(holder.get()->AddRef(), 2u) << "the decoder let go of its target at its end";
    holder.get()->Release();

    // A stream that ends inside a frame: only G.723.1 has frames, to conceal or to cut short.
    const bool framed = &c.decoder == &published::kDecoderG7231;
    EXPECT_EQ(decoder->FrameLost(), framed ? S_OK : S_FALSE);
    ASSERT_EQ(decoder.query<IKvAudioSink>()->OnEncodedData(sink->code.data(), 10), S_OK);
    EXPECT_EQ(decoder->Flush(), framed ? static_cast<HRESULT>(0x80040210) : S_OK);
    if (framed) {
        EXPECT_NE(kvtest::lastError().find("its 10 bytes were dropped"), std::string::npos) << kvtest::lastError();
    }
}

INSTANTIATE_TEST_SUITE_P(EachClass, RoundTrip, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
