#pragma once

#include "platform/win32.h"

namespace kv::codecs {

// A PCM wave format with consistent block alignment and byte rate.
WAVEFORMATEX pcmWaveFormat(WORD channels, DWORD samplesPerSec, WORD bitsPerSample);

// Converts PCM buffers between wave formats through the Audio Compression
// Manager. Formats that agree in channels, rate and sample width pass the
// caller's buffer through untouched, which is how every encoder uses it.
//
// Results: 0 success, -1 invalid arguments, -2 not opened, -3 size query or
// stream open failed, -4 header preparation failed, -5 conversion failed.
class CPCMSampleConvert {
public:
    CPCMSampleConvert();
    virtual ~CPCMSampleConvert();

    CPCMSampleConvert(const CPCMSampleConvert&) = delete;
    CPCMSampleConvert& operator=(const CPCMSampleConvert&) = delete;

    int initConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst);
    // On success *out points at the converted bytes (the caller's own buffer in
    // pass-through mode, else a buffer owned here until the next call) and
    // *outLength holds how many bytes the conversion produced.
    int convert(const BYTE* src, DWORD length, BYTE** out, DWORD* outLength);
    int closeConvert();

private:
    void releaseHeader();

    BYTE m_bOpened;
    BYTE m_bPassThrough;
    HACMSTREAM m_hStream;
    ACMSTREAMHEADER m_header;
};

}  // namespace kv::codecs
