// Host stand-in for the Audio Compression Manager's PCM stream calls.
//
// It converts between PCM formats the way the system's PCM converter does, so
// that host and Windows give the same bytes: each output frame takes the
// source frame nearest the centre of its period (no filtering), stereo folds
// to mono by a saturated sum, mono spreads to both channels, and 8-bit samples
// are unsigned with the 16-bit value in their high byte. Conversions keep no
// state between calls.
#include "platform/win32.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

struct HACMSTREAM__ {
    WAVEFORMATEX src;
    WAVEFORMATEX dst;
};

namespace {

std::mutex g_streamsLock;
std::set<HACMSTREAM> g_streams;

bool isOpen(HACMSTREAM has) {
    std::lock_guard<std::mutex> guard(g_streamsLock);
    return g_streams.count(has) != 0;
}

// The system's converter takes any rate; this one takes those the tree has a
// use for, from 4 kHz telephone recordings to 384 kHz studio ones.
bool supported(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 4000 && f.nSamplesPerSec <= 384000;
}

DWORD frameBytes(const WAVEFORMATEX& f) { return f.nChannels * (f.wBitsPerSample / 8u); }

// Output frames for a number of input frames, rounded to the nearest frame
// with halves rounded down.
std::uint64_t outputFrames(const HACMSTREAM__& s, DWORD inFrames) {
    const std::uint64_t num = std::uint64_t{inFrames} * s.dst.nSamplesPerSec;
    return (num + (s.src.nSamplesPerSec - 1) / 2) / s.src.nSamplesPerSec;
}

int readSample(const WAVEFORMATEX& f, const BYTE* frame, int channel) {
    if (f.wBitsPerSample == 8) return (frame[channel] - 128) * 256;
    const BYTE* p = frame + 2 * channel;
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

void writeSample(const WAVEFORMATEX& f, BYTE* frame, int channel, int value) {
    if (f.wBitsPerSample == 8) {
        frame[channel] = static_cast<BYTE>((value >> 8) + 128);
        return;
    }
    frame[2 * channel] = static_cast<BYTE>(value & 0xFF);
    frame[2 * channel + 1] = static_cast<BYTE>((value >> 8) & 0xFF);
}

void convertFrame(const HACMSTREAM__& s, const BYTE* in, BYTE* out) {
    if (s.src.nChannels == s.dst.nChannels) {
        for (int c = 0; c < s.src.nChannels; ++c) writeSample(s.dst, out, c, readSample(s.src, in, c));
    } else if (s.src.nChannels == 2) {
        const int sum = readSample(s.src, in, 0) + readSample(s.src, in, 1);
        writeSample(s.dst, out, 0, std::clamp(sum, -32768, 32767));
    } else {
        const int v = readSample(s.src, in, 0);
        writeSample(s.dst, out, 0, v);
        writeSample(s.dst, out, 1, v);
    }
}

// What a prepared header remembers of its buffers, so that unpreparing a
// header whose buffers were changed is refused as the system refuses it.
struct PreparedBuffers {
    LPBYTE src;
    DWORD srcLength;
    LPBYTE dst;
    DWORD dstLength;
};
static_assert(sizeof(PreparedBuffers) <= sizeof(ACMSTREAMHEADER::dwReservedDriver));

void remember(ACMSTREAMHEADER& h) {
    const PreparedBuffers b{h.pbSrc, h.cbSrcLength, h.pbDst, h.cbDstLength};
    std::memcpy(h.dwReservedDriver, &b, sizeof b);
}

bool unchanged(const ACMSTREAMHEADER& h) {
    PreparedBuffers b;
    std::memcpy(&b, h.dwReservedDriver, sizeof b);
    return b.src == h.pbSrc && b.srcLength == h.cbSrcLength && b.dst == h.pbDst && b.dstLength == h.cbDstLength;
}

bool validHeader(const ACMSTREAMHEADER* pash) { return pash && pash->cbStruct >= sizeof(ACMSTREAMHEADER); }

}  // namespace

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                       PWAVEFILTER pwfltr, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
    const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
    if (phas) *phas = nullptr;
    if (!pwfxSrc || !pwfxDst || pwfltr || (!query && !phas)) return MMSYSERR_INVALPARAM;
    if (!supported(*pwfxSrc) || !supported(*pwfxDst)) return ACMERR_NOTPOSSIBLE;
    if (query) return MMSYSERR_NOERROR;
    auto* s = new (std::nothrow) HACMSTREAM__{*pwfxSrc, *pwfxDst};
    if (!s) return MMSYSERR_NOMEM;
    {
        std::lock_guard<std::mutex> guard(g_streamsLock);
        g_streams.insert(s);
    }
    *phas = s;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize) {
    if (!isOpen(has)) return MMSYSERR_INVALHANDLE;
    if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
    // Only the source-to-destination query is used here.
    if (fdwSize != ACM_STREAMSIZEF_SOURCE) return MMSYSERR_INVALFLAG;
    // A size past 32 bits is refused, not wrapped into a small one.
    const std::uint64_t size = outputFrames(*has, cbInput / frameBytes(has->src)) * frameBytes(has->dst);
    if (size > 0xFFFFFFFF) return ACMERR_NOTPOSSIBLE;
    *pdwOutputBytes = static_cast<DWORD>(size);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
    if (!isOpen(has)) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pash)) return MMSYSERR_INVALPARAM;
    if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return MMSYSERR_NOERROR;
    remember(*pash);
    pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
    if (!isOpen(has)) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pash)) return MMSYSERR_INVALPARAM;
    if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    if (!unchanged(*pash)) return MMSYSERR_INVALPARAM;

    const HACMSTREAM__& s = *has;
    const DWORD inFrameBytes = frameBytes(s.src);
    const DWORD outFrameBytes = frameBytes(s.dst);
    const DWORD inFrames = pash->cbSrcLength / inFrameBytes;
    const DWORD outFrames =
        static_cast<DWORD>(std::min<std::uint64_t>(outputFrames(s, inFrames), pash->cbDstLength / outFrameBytes));
    for (DWORD n = 0; n < outFrames; ++n) {
        const std::uint64_t pos =
            (std::uint64_t{n} * s.src.nSamplesPerSec + s.src.nSamplesPerSec / 2) / s.dst.nSamplesPerSec;
        const DWORD k = static_cast<DWORD>(std::min<std::uint64_t>(pos, inFrames - 1));
        convertFrame(s, pash->pbSrc + k * inFrameBytes, pash->pbDst + n * outFrameBytes);
    }
    pash->cbSrcLengthUsed = inFrames * inFrameBytes;
    pash->cbDstLengthUsed = outFrames * outFrameBytes;
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
    if (!isOpen(has)) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pash)) return MMSYSERR_INVALPARAM;
    if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    if (!unchanged(*pash)) return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~static_cast<DWORD>(ACMSTREAMHEADER_STATUSF_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
    if (fdwClose != 0) return MMSYSERR_INVALFLAG;
    {
        std::lock_guard<std::mutex> guard(g_streamsLock);
        if (g_streams.erase(has) == 0) return MMSYSERR_INVALHANDLE;
    }
    delete has;
    return MMSYSERR_NOERROR;
}
