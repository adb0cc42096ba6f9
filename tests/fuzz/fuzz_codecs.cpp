// G.711, G.722 in every mode and CPCMSampleConvert on arbitrary input.
//
// The sample codecs and the converter on arbitrary samples and arguments.
//   G.711: the block call equals the per-sample laws; refusals write nothing.
//   G.722, every rate and input mode: the stream cut anywhere into calls gives
//          the bytes of the whole stream in one call, and no call writes past
//          one byte per sample.
//   CPCMSampleConvert on the host stand-in: any pair of formats, any length;
//          the reported length is what the buffer holds, whole output frames,
//          and two converters give the same bytes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codecs/G711Codec.h"
#include "codecs/G722Codec.h"
#include "codecs/PCMSampleConvert.h"
#include "tests/fuzz/input.h"

namespace {

using kvfuzz::Input;

constexpr std::size_t kMaxSamples = 16384;

std::vector<std::int16_t> samplesOf(Input& in, std::size_t count) {
    std::vector<std::int16_t> s(count);
    for (auto& v : s) v = static_cast<std::int16_t>(in.u16());
    return s;
}

void fuzzG711(Input& in, bool aLaw) {
    const kv::codecs::CG711Codec codec;
    const std::int32_t byteCount = static_cast<std::int32_t>(in.u32());
    const std::vector<std::int16_t> pcm = samplesOf(in, std::min<std::size_t>(in.remaining() / 2, kMaxSamples));
    const auto call = [&](const std::int16_t* p, std::int32_t n, std::uint8_t* out, std::int32_t* count) {
        return aLaw ? codec.encodeALaw(p, n, out, count) : codec.encodeMuLaw(p, n, out, count);
    };
    // An arbitrary count is refused unless it is even, positive and within the samples.
    const bool valid = byteCount > 0 && byteCount % 2 == 0 && static_cast<std::size_t>(byteCount) <= 2 * pcm.size();
    std::vector<std::uint8_t> out(pcm.size() + 1, 0xEE);
    std::int32_t count = 0x5A5A;
    if (valid || byteCount <= 0 || byteCount % 2 != 0) {
        const std::int32_t r = call(pcm.data(), byteCount, out.data(), &count);
        if (!valid) {
            KV_FUZZ_CHECK(r == -1 && count == 0x5A5A);
            KV_FUZZ_CHECK(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xEE; }));
        }
    }
    count = 0x5A5A;
    KV_FUZZ_CHECK(call(nullptr, 2, out.data(), &count) == -1 && count == 0x5A5A);
    KV_FUZZ_CHECK(call(pcm.data(), 2, nullptr, &count) == -1 && count == 0x5A5A);
    if (pcm.empty()) return;
    const std::int32_t n = static_cast<std::int32_t>(pcm.size());
    KV_FUZZ_CHECK(call(pcm.data(), 2 * n, out.data(), &count) == n && count == n);
    for (std::int32_t i = 0; i < n; ++i)
        KV_FUZZ_CHECK(out[i] == (aLaw ? kv::codecs::CG711Codec::linearToALaw(pcm[i])
                                      : kv::codecs::CG711Codec::linearToMuLaw(pcm[i])));
    KV_FUZZ_CHECK(out[n] == 0xEE);
}

void fuzzG722(Input& in, std::uint8_t mode) {
    static const std::int32_t kRates[] = {64000, 56000, 48000};
    const std::int32_t bitRate = kRates[mode % 3];
    const std::int32_t sampleRate = mode & 4 ? 8000 : 16000;
    // The cuts come first, then the samples.
    std::vector<std::size_t> cuts(in.byte() % 16);
    for (auto& c : cuts) c = in.u16();
    const std::vector<std::int16_t> pcm = samplesOf(in, std::min<std::size_t>(in.remaining() / 2, kMaxSamples));

    kv::codecs::CG722Codec whole;
    whole.initCodec(bitRate, sampleRate);
    std::vector<std::uint8_t> expected;
    if (!pcm.empty()) {
        expected.resize(pcm.size());
        std::int32_t count = 0;
        const std::int32_t r =
            whole.encodeG722(pcm.data(), static_cast<std::int32_t>(2 * pcm.size()), expected.data(), &count);
        KV_FUZZ_CHECK(r == count && r >= 0 && static_cast<std::size_t>(r) <= pcm.size());
        expected.resize(static_cast<std::size_t>(r));
    }

    kv::codecs::CG722Codec pieces;
    pieces.initCodec(bitRate, sampleRate);
    std::vector<std::uint8_t> got;
    std::size_t at = 0;
    for (std::size_t i = 0; at < pcm.size(); ++i) {
        const std::size_t n = i < cuts.size() ? std::min(cuts[i] % 97 + 1, pcm.size() - at) : pcm.size() - at;
        // Exactly one byte per sample of room: the sanitizer sees any overrun.
        std::vector<std::uint8_t> out(n);
        std::int32_t count = 0;
        const std::int32_t r = pieces.encodeG722(pcm.data() + at, static_cast<std::int32_t>(2 * n), out.data(), &count);
        KV_FUZZ_CHECK(r == count && r >= 0 && static_cast<std::size_t>(r) <= n);
        got.insert(got.end(), out.begin(), out.begin() + r);
        at += n;
    }
    KV_FUZZ_CHECK(got == expected);

    // Refusals leave the stream untouched: the next call continues it.
    std::int32_t count = 0;
    std::uint8_t byte = 0;
    KV_FUZZ_CHECK(pieces.encodeG722(nullptr, 2, &byte, &count) == -1 && count == -1);
    KV_FUZZ_CHECK(pieces.encodeG722(pcm.data(), 0, &byte, &count) == -1 && count == -1);
    KV_FUZZ_CHECK(pieces.closeCodec());
    KV_FUZZ_CHECK(pieces.encodeG722(pcm.data(), 2, &byte, &count) == -1 && count == -1);
}

WAVEFORMATEX formatOf(Input& in) {
    const std::uint8_t b = in.byte();
    WAVEFORMATEX f = kv::codecs::pcmWaveFormat(static_cast<WORD>(b & 3), in.u32() % 400000, b & 4 ? 8 : 16);
    if (b & 8) f.wBitsPerSample = static_cast<WORD>(in.byte());  // odd widths
    if (b & 16) f.wFormatTag = static_cast<WORD>(in.u16());      // odd tags
    if (b & 32) f.nBlockAlign = static_cast<WORD>(in.u16());     // lying alignment
    return f;
}

std::vector<BYTE> convertOnce(const WAVEFORMATEX& from, const WAVEFORMATEX& to, const std::vector<BYTE>& src,
                              int* result) {
    kv::codecs::CPCMSampleConvert converter;
    *result = converter.initConvert(&from, &to);
    if (*result != 0) return {};
    BYTE* out = nullptr;
    DWORD length = 0;
    *result = converter.convert(src.empty() ? nullptr : src.data(), static_cast<DWORD>(src.size()), &out, &length);
    if (*result != 0) return {};
    // Copying reads every byte the length claims; the sanitizer checks them.
    return std::vector<BYTE>(out, out + length);
}

void fuzzConvert(Input& in) {
    const WAVEFORMATEX from = formatOf(in);
    const WAVEFORMATEX to = formatOf(in);
    std::size_t size = 0;
    const std::uint8_t* p = in.bytes(in.remaining(), &size);
    const std::vector<BYTE> src(p, p + size);
    // Keep the output to a few megabytes: the rates may differ a millionfold.
    if (from.nSamplesPerSec && to.nSamplesPerSec &&
        static_cast<double>(size) * to.nSamplesPerSec / from.nSamplesPerSec > (1 << 22))
        return;
    int first = 0;
    int second = 0;
    const std::vector<BYTE> a = convertOnce(from, to, src, &first);
    const std::vector<BYTE> b = convertOnce(from, to, src, &second);
    KV_FUZZ_CHECK(first == second && a == b);
    if (first != 0) return;
    const bool passThrough = from.nChannels == to.nChannels && from.nSamplesPerSec == to.nSamplesPerSec &&
                             from.wBitsPerSample == to.wBitsPerSample;
    if (passThrough) {
        KV_FUZZ_CHECK(a == src);
    } else {
        const unsigned frame = to.nChannels * (to.wBitsPerSample / 8u);
        KV_FUZZ_CHECK(frame != 0 && a.size() % frame == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t what = in.byte();
    switch (what % 4) {
        case 0:
            fuzzG711(in, true);
            break;
        case 1:
            fuzzG711(in, false);
            break;
        case 2:
            fuzzG722(in, what >> 2);
            break;
        default:
            fuzzConvert(in);
            break;
    }
    return 0;
}
