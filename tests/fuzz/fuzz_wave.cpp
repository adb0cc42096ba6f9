// kvencode's input reader (inspect, read, conversion) on arbitrary files.
//
// The input is written to a .wav file and given to inspectPcmFile, which
// kvencode asks first, and to readPcmFile, which the capture component plays;
// then what was read is converted to the capture format as the capture
// component does. Truncated headers, lying or huge chunk sizes and odd
// formats must be refused or read within the file; when both succeed they
// agree, the samples are the file's own bytes at the offset inspect names,
// whole frames of a format the reader promises, and the conversion makes no
// more than convertedBytes says.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/PCMSampleConvert.h"
#include "components/Components.h"
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

volatile unsigned g_sum;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& path = scratchFile();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        KV_FUZZ_CHECK(f != nullptr);
        KV_FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
        std::fclose(f);
    }
    kc::PcmLayout layout;
    const HRESULT inspected = kc::inspectPcmFile(path, 16000, layout);
    kc::PcmData pcm;
    const HRESULT read = kc::readPcmFile(path, 16000, pcm);
    KV_FUZZ_CHECK(SUCCEEDED(inspected) || read == inspected);
    if (FAILED(inspected)) {
        if (inspected == kc::E_KV_NOT_WAVE || inspected == kc::E_KV_NOT_PCM || inspected == kc::E_KV_UNSUPPORTED)
            KV_FUZZ_CHECK(!layout.problem.empty());
        return 0;
    }
    const WAVEFORMATEX& f = layout.format;
    KV_FUZZ_CHECK(f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2));
    KV_FUZZ_CHECK((f.wBitsPerSample == 8 || f.wBitsPerSample == 16));
    KV_FUZZ_CHECK(f.nSamplesPerSec >= kc::kMinFileRate && f.nSamplesPerSec <= kc::kMaxFileRate);
    KV_FUZZ_CHECK(f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8);
    KV_FUZZ_CHECK(f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign);
    KV_FUZZ_CHECK(layout.dataBytes % f.nBlockAlign == 0 && layout.dataBytes <= layout.presentBytes);
    // The samples follow the header of a data chunk that declares claimedBytes.
    KV_FUZZ_CHECK(layout.dataOffset >= 20 && layout.dataOffset <= size);
    const std::uint8_t* chunk = data + layout.dataOffset - 8;
    KV_FUZZ_CHECK(std::equal(chunk, chunk + 4, "data"));
    KV_FUZZ_CHECK(layout.claimedBytes == (chunk[4] | chunk[5] << 8 | chunk[6] << 16 | std::uint64_t{chunk[7]} << 24));
    KV_FUZZ_CHECK(layout.presentBytes == std::min<std::uint64_t>(layout.claimedBytes, size - layout.dataOffset));
    if (FAILED(read)) return 0;  // only E_KV_UNSUPPORTED or a memory failure may remain
    KV_FUZZ_CHECK(sameFormat(pcm.format, f) && pcm.bytes.size() == layout.dataBytes);
    KV_FUZZ_CHECK(std::equal(pcm.bytes.begin(), pcm.bytes.end(), data + layout.dataOffset));

    const WAVEFORMATEX capture = kv::codecs::pcmWaveFormat(1, 16000, 16);
    kv::codecs::CPCMSampleConvert converter;
    // Formats the converter cannot take are refused (E_KV_CONVERSION), not read.
    if (converter.initConvert(&f, &capture) != 0 || pcm.bytes.empty()) return 0;
    const std::uint64_t bound = kc::convertedBytes(f, capture, pcm.bytes.size());
    // A very low rate makes a lot of capture data from a small file; past a
    // few megabytes that is only slow.
    if (bound > (1u << 23)) return 0;
    BYTE* out = nullptr;
    DWORD length = 0;
    KV_FUZZ_CHECK(converter.convert(pcm.bytes.data(), static_cast<DWORD>(pcm.bytes.size()), &out, &length) == 0);
    KV_FUZZ_CHECK(length % 2 == 0 && length <= bound);
    // Reading what the length claims lets the sanitizer check it.
    unsigned sum = 0;
    for (DWORD i = 0; i < length; ++i) sum += out[i];
    g_sum = sum;
    return 0;
}
