// Each encoder class with a decoder as its sink, made by CLSID (on host linked
// in; under Wine the registered DLLs, in tests/dll's components client): the
// decoder's samples are the codec's decode of the encoder's stream (Quorvan:
// the input, near enough), also when the stream comes a byte per call.
#include "codecs/G711Codec.h"
#include "codecs/G7231Decoder.h"
#include "com/NoTypeInfo.h"
#include "com/Object.h"
#include "interfaces/Interfaces.h"
#include "tests/com/last_error.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using kv::com::ComPtr;
using Bytes = std::vector<BYTE>;
using Samples = std::vector<std::int16_t>;
namespace pub = published;

// Keeps what it is given: an encoder's stream as a sink, a decoder's samples
// as a target. As a target it fails every call, which must keep no other
// target from its samples; given the decoder, it lets go of it inside the
// delivery that brings it `last` bytes.
class Collector : public kv::com::implements<Collector, kv::com::NoTypeInfo<IKvAudioSink>, IKvAudioDataTarget> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override {
        bytes.insert(bytes.end(), data, data + length);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        OnEncodedData(data, length);
        if (bytes.size() >= last) decoder.reset();
        return E_FAIL;
    }
    Bytes bytes;
    ComPtr<IUnknown> decoder;
    std::size_t last = 0;
};

Samples samplesOf(const Bytes& bytes) {
    Samples s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

struct Case {
    const char* name;
    const pub::EncoderClass& encoder;
    const pub::ComponentClass& decoder;
    bool postFilter = true;
};
const Case kCases[] = {{"G711A", pub::kG711A, pub::kDecoderG711A},
                       {"G711U", pub::kG711U, pub::kDecoderG711U},
                       {"G7231", pub::kG7231, pub::kDecoderG7231},
                       {"G7231_PostFilterOff", pub::kG7231, pub::kDecoderG7231, false},
                       {"Quorvan", pub::kQuorvan, pub::kDecoderQuorvan}};

// What the codec makes of a G.711 or G.723.1 stream.
Samples codecDecode(const Case& c, const Bytes& code) {
    using kv::codecs::CG7231Decoder;
    Samples out(code.size());
    const auto n = static_cast<std::int32_t>(code.size());
    if (&c.decoder == &pub::kDecoderG711A) kv::codecs::CG711Codec::decodeALawSamples(code.data(), n, out.data());
    if (&c.decoder == &pub::kDecoderG711U) kv::codecs::CG711Codec::decodeMuLawSamples(code.data(), n, out.data());
    if (&c.decoder != &pub::kDecoderG7231) return out;
    CG7231Decoder codec;
    codec.setPostFilter(c.postFilter);
    out.clear();
    for (std::size_t at = 0; at < code.size(); at += CG7231Decoder::frameBytes(code[at])) {
        out.resize(out.size() + CG7231Decoder::kFrameSamples);
        codec.decodeFrame(&code[at], false, &out[out.size() - CG7231Decoder::kFrameSamples]);
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

template <class I>
ComPtr<I> create(const char* clsid) {
    ComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(pub::guid<CLSID>(clsid), nullptr, CLSCTX_INPROC_SERVER, kv::com::iidOf<I>(),
                               object.put_void()),
              S_OK);
    return object;
}

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, TheDecoderGivesWhatTheCodecMakesOfTheEncodersStream) {
    const Case& c = GetParam();
    std::ifstream file(std::filesystem::path(KV_TEST_DATA_DIR) / "g7231" / "speech_en.pcm", std::ios::binary);
    const Bytes pcm{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(pcm.size(), 100000u);
    auto encoder = create<IKvAudioEncoder>(c.encoder.clsid);
    auto decoder = create<IKvAudioDecoder>(c.decoder.clsid), alone = create<IKvAudioDecoder>(c.decoder.clsid);
    ASSERT_TRUE(encoder && decoder && alone);
    auto code = kv::com::make<Collector>(), first = kv::com::make<Collector>(), second = kv::com::make<Collector>();
    for (IKvAudioDecoder* d : {decoder.get(), alone.get()})
        ASSERT_EQ(d->put_PostFilter(c.postFilter ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
    ASSERT_EQ(decoder->AddTarget(first->identity()), S_OK);
    ASSERT_EQ(decoder->AddTarget(second->identity()), S_OK);
    ASSERT_EQ(encoder->AddSink(code->identity()), S_OK);
    ASSERT_EQ(encoder->AddSink(decoder.get()), S_OK);
    // In capture-sized pieces, and the end of the stream.
    for (std::size_t at = 0; at < pcm.size(); at += 640)
        encoder->OnAudioData(const_cast<BYTE*>(&pcm[at]),
                             static_cast<LONG>(std::min<std::size_t>(640, pcm.size() - at)));
    ASSERT_EQ(encoder.query<IKvAudioEncoderControl>()->Flush(), S_OK);
    EXPECT_EQ(decoder->Flush(), S_OK) << "the stream ends on a whole frame";
    if (&c.decoder == &pub::kDecoderQuorvan) {
        ASSERT_EQ(first->bytes.size(), pcm.size());
        // Not more: the input's loudest peaks pass half scale, where the low band clips.
        EXPECT_GT(snrDb(samplesOf(pcm), samplesOf(first->bytes)), 20.0);
    } else {
        EXPECT_EQ(samplesOf(first->bytes), codecDecode(c, code->bytes));
    }
    EXPECT_EQ(second->bytes, first->bytes) << "a failing target kept the other from its samples";

    // The same stream a byte per call, to a decoder that only its target holds.
    auto holder = kv::com::make<Collector>();
    ASSERT_EQ(alone->AddTarget(holder->identity()), S_OK);
    holder->decoder = alone.query<IUnknown>();
    holder->last = first->bytes.size();
    IKvAudioSink* bytewise = alone.query<IKvAudioSink>().get();
    alone.reset();
    std::size_t fed = 0;
    for (; fed < code->bytes.size() && holder->decoder; ++fed) bytewise->OnEncodedData(&code->bytes[fed], 1);
    EXPECT_EQ(fed, code->bytes.size()) << "the last samples came before the last byte";
    holder->decoder.reset();
    EXPECT_EQ(holder->bytes, first->bytes);
    EXPECT_EQ(holder->identity()->AddRef(), 2u) << "the decoder let go of its target at its end";
    holder->identity()->Release();

    // A stream that ends inside a frame: only G.723.1 has frames, to conceal or to cut short.
    const bool framed = &c.decoder == &pub::kDecoderG7231;
    EXPECT_EQ(decoder->FrameLost(), framed ? S_OK : S_FALSE);
    ASSERT_EQ(decoder.query<IKvAudioSink>()->OnEncodedData(code->bytes.data(), 10), S_OK);
    EXPECT_EQ(decoder->Flush(), framed ? static_cast<HRESULT>(0x80040210) : S_OK);
    EXPECT_EQ(kvtest::lastError().find("its 10 bytes were dropped") != std::string::npos, framed);
}

INSTANTIATE_TEST_SUITE_P(EachClass, RoundTrip, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
