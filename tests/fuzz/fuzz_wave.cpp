// kvencode's input reader (open, read, conversion) on arbitrary files.
//
// The input is written to a .wav file and given to PcmReader on the file,
// which the capture component plays, and on the same bytes as a stream that
// cannot seek, as standard input is read; what was read is converted to the
// capture format as the capture component does. Truncated headers, lying or
// huge chunk sizes and odd formats must be refused or read within the file;
// the two agree, the samples are the file's own bytes at the offset the
// reader names (where undecoded), whole frames of a format the reader promises, and the
// conversion makes exactly the samples the rate ratio calls for.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/PCMSampleConvert.h"
#include "components/Components.h"
#include "components/PcmConverter.h"
#include "components/PcmFile.h"
#include "tests/fuzz/input.h"

namespace {

namespace kc = kv::components;

// One file per process, taken away when the process ends.
const std::filesystem::path& scratchFile() {
    static const struct Scratch {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("kv-fuzz-wave-" + std::to_string(getpid()) + ".wav");
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    } scratch;
    return scratch.path;
}

bool sameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample && a.nBlockAlign == b.nBlockAlign &&
           a.nAvgBytesPerSec == b.nAvgBytesPerSec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = scratchFile();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        KV_FUZZ_CHECK(f != nullptr);
        KV_FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
        std::fclose(f);
    }
    kc::PcmReader reader;
    const HRESULT opened = reader.open(path, 16000);
    const kc::PcmLayout& layout = reader.layout();
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    KV_FUZZ_CHECK(stream != nullptr);
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{stream};
    kc::PcmReader streamed;
    KV_FUZZ_CHECK(streamed.open(stream, false, 16000) == opened);
    if (FAILED(opened)) {
        if (opened == kc::E_KV_NOT_WAVE || opened == kc::E_KV_NOT_PCM || opened == kc::E_KV_UNSUPPORTED)
            KV_FUZZ_CHECK(!layout.problem.empty() && !streamed.layout().problem.empty());
        return 0;
    }
    const WAVEFORMATEX& f = layout.format;
    const WAVEFORMATEX& stored = layout.stored;
    KV_FUZZ_CHECK(f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= 32767);
    KV_FUZZ_CHECK((f.wBitsPerSample == 8 || f.wBitsPerSample == 16));
    KV_FUZZ_CHECK(f.nSamplesPerSec >= kc::kMinFileRate && f.nSamplesPerSec <= kc::kMaxFileRate);
    KV_FUZZ_CHECK(f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8);
    KV_FUZZ_CHECK(f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign);
    const WORD tag = stored.wFormatTag;  // PCM, IEEE float, A-law, mu-law
    KV_FUZZ_CHECK((tag == 1 || tag == 3 || tag == 6 || tag == 7) && stored.nChannels == f.nChannels &&
                  stored.nBlockAlign == stored.nChannels * stored.wBitsPerSample / 8);
    KV_FUZZ_CHECK(layout.dataBytes % stored.nBlockAlign == 0 && layout.dataBytes <= layout.presentBytes);
    // The samples follow the header of a data chunk that declares claimedBytes (RF64: in ds64).
    KV_FUZZ_CHECK(layout.dataOffset >= 20 && layout.dataOffset <= size);
    const std::uint8_t* chunk = data + layout.dataOffset - 8;
    KV_FUZZ_CHECK(std::equal(chunk, chunk + 4, "data"));
    const std::uint64_t declared = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | std::uint64_t{chunk[7]} << 24;
    KV_FUZZ_CHECK(layout.claimedBytes == declared || (declared == 0xFFFFFFFF && std::equal(data, data + 4, "RF64")));
    const std::uint64_t rest = size - layout.dataOffset;
    KV_FUZZ_CHECK(layout.presentBytes ==
                  (layout.claimedBytes == 0 ? rest : std::min<std::uint64_t>(layout.claimedBytes, rest)));
    KV_FUZZ_CHECK(sameFormat(streamed.layout().format, f) && sameFormat(streamed.layout().stored, stored));

    // Both readers in odd pieces that hold a frame: the file gives its whole frames, decoded, and
    // the stream the same (up to its end when the size is one a streaming writer leaves).
    const auto all = [&](kc::PcmReader& r) {
        std::vector<BYTE> bytes, piece(97 + f.nBlockAlign);
        for (;;) {
            std::size_t got = 0;
            KV_FUZZ_CHECK(r.read(piece.data(), piece.size(), got) == S_OK);
            if (got == 0) return bytes;
            bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        }
    };
    const std::vector<BYTE> fromFile = all(reader), fromStream = all(streamed);
    KV_FUZZ_CHECK(fromFile.size() == layout.dataBytes / stored.nBlockAlign * f.nBlockAlign);
    if (tag == WAVE_FORMAT_PCM && stored.wBitsPerSample <= 16)
        KV_FUZZ_CHECK(std::equal(fromFile.begin(), fromFile.end(), data + layout.dataOffset));
    KV_FUZZ_CHECK(fromStream == fromFile);

    kc::PcmConverter converter;
    KV_FUZZ_CHECK(converter.init(f, kv::codecs::pcmWaveFormat(1, 16000, 16)));
    std::vector<BYTE> out;
    for (std::size_t at = 0; at < fromStream.size(); at += 3 * f.nBlockAlign)
        converter.convert(fromStream.data() + at, std::min<std::size_t>(3 * f.nBlockAlign, fromStream.size() - at),
                          out);
    converter.finish(out);
    const std::uint64_t frames = fromStream.size() / f.nBlockAlign;
    KV_FUZZ_CHECK(out.size() == 2 * ((frames * 16000 + f.nSamplesPerSec - 1) / f.nSamplesPerSec));
    return 0;
}
