// kvencode's input reader (WAVE parser, then conversion) on arbitrary files.
//
// kvencode's input reader on arbitrary files: the WAVE parser, then the
// conversion to the capture format the capture component makes of what it
// read. Truncated headers, lying or huge chunk sizes and odd formats must be
// refused or read within the file, never past it, and what is read must be
// whole frames of a format the converter can take.
#include <algorithm>
#include <vector>

#include "codecs/PCMSampleConvert.h"
#include "components/PcmFile.h"
#include "tests/fuzz/input.h"

static volatile unsigned g_sum;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly the file's size, so that reading past it is seen.
    const std::vector<BYTE> file(data, data + size);
    kvcomponents::PcmData pcm;
    if (FAILED(kvcomponents::parseWave(file.empty() ? nullptr : file.data(), file.size(), pcm))) return 0;

    const WAVEFORMATEX& f = pcm.format;
    KV_FUZZ_CHECK(f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2));
    KV_FUZZ_CHECK((f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec > 0);
    KV_FUZZ_CHECK(f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8);
    KV_FUZZ_CHECK(f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign);
    KV_FUZZ_CHECK(pcm.bytes.size() % f.nBlockAlign == 0 && pcm.bytes.size() + 12 <= file.size());

    const WAVEFORMATEX capture = pcmWaveFormat(1, 16000, 16);
    CPCMSampleConvert converter;
    // Formats the converter cannot take are refused (E_KV_CONVERSION), not read.
    if (converter.initConvert(&f, &capture) != 0 || pcm.bytes.empty()) return 0;
    // A very low rate makes a lot of capture data from a small file; past a
    // few megabytes that is only slow.
    const double frames = static_cast<double>(pcm.bytes.size() / f.nBlockAlign) * 16000.0 / f.nSamplesPerSec;
    if (frames > (1 << 21)) return 0;
    BYTE* out = nullptr;
    DWORD length = 0;
    KV_FUZZ_CHECK(converter.convert(pcm.bytes.data(), static_cast<DWORD>(pcm.bytes.size()), &out, &length) == 0);
    KV_FUZZ_CHECK(length % 2 == 0 && length / 2 <= static_cast<DWORD>(frames) + 1);
    // Reading what the length claims lets the sanitizer check it.
    unsigned sum = 0;
    for (DWORD i = 0; i < length; ++i) sum += out[i];
    g_sum = sum;
    return 0;
}
