#include "codecs/PCMSampleConvert.h"

#include <cstring>
#include <new>

namespace kv::codecs {

WAVEFORMATEX pcmWaveFormat(WORD channels, DWORD samplesPerSec, WORD bitsPerSample) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = samplesPerSec;
    f.nBlockAlign = static_cast<WORD>(channels * (bitsPerSample / 8));
    f.nAvgBytesPerSec = samplesPerSec * f.nBlockAlign;
    f.wBitsPerSample = bitsPerSample;
    f.cbSize = 0;
    return f;
}

CPCMSampleConvert::CPCMSampleConvert() : m_bOpened(0), m_bPassThrough(0), m_hStream(nullptr) {
    std::memset(&m_header, 0, sizeof m_header);
}

CPCMSampleConvert::~CPCMSampleConvert() { closeConvert(); }

int CPCMSampleConvert::initConvert(const WAVEFORMATEX* src, const WAVEFORMATEX* dst) {
    if (!src || !dst) return -1;
    // A stream left open by an earlier call would leak and, worse, keep
    // converting with the old formats.
    if (closeConvert() != 0) return -3;
    if (src->nChannels == dst->nChannels && src->nSamplesPerSec == dst->nSamplesPerSec &&
        src->wBitsPerSample == dst->wBitsPerSample) {
        m_bPassThrough = 1;
        return 0;
    }
    WAVEFORMATEX from = *src;
    WAVEFORMATEX to = *dst;
    if (acmStreamOpen(&m_hStream, nullptr, &from, &to, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
        m_hStream = nullptr;
        OutputDebugStringW(KV_W("CPCMSampleConvert::initConvert - Failed to prepare, acmStreamOpen\r\n"));
        return -3;
    }
    m_bOpened = 1;
    return 0;
}

// Lets go of the previous conversion's header and destination buffer.
void CPCMSampleConvert::releaseHeader() {
    if (m_header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) acmStreamUnprepareHeader(m_hStream, &m_header, 0);
    delete[] m_header.pbDst;
    std::memset(&m_header, 0, sizeof m_header);
}

int CPCMSampleConvert::convert(const BYTE* src, DWORD length, BYTE** out, DWORD* outLength) {
    if (!src || length == 0 || !outLength) return -1;
    if (m_bPassThrough) {
        if (out) *out = const_cast<BYTE*>(src);
        *outLength = length;
        return 0;
    }
    if (!m_hStream || !m_bOpened) return -2;

    releaseHeader();
    DWORD size = 0;
    if (acmStreamSize(m_hStream, length, &size, ACM_STREAMSIZEF_SOURCE) != 0) {
        *outLength = 0;
        return -3;
    }
    m_header.cbStruct = sizeof m_header;
    m_header.pbSrc = const_cast<BYTE*>(src);
    m_header.cbSrcLength = length;
    m_header.pbDst = new (std::nothrow) BYTE[size ? size : 1];
    m_header.cbDstLength = size;
    if (!m_header.pbDst || acmStreamPrepareHeader(m_hStream, &m_header, 0) != 0) {
        releaseHeader();
        *outLength = 0;
        return -4;
    }
    // A failed conversion unprepares the header too, so the next call starts
    // from a clean one instead of a prepared header with a freed buffer.
    if (acmStreamConvert(m_hStream, &m_header, ACM_STREAMCONVERTF_BLOCKALIGN) != 0) {
        releaseHeader();
        *outLength = 0;
        return -5;
    }
    if (out) *out = m_header.pbDst;
    // What the conversion produced, which may be less than the size estimate.
    *outLength = m_header.cbDstLengthUsed;
    return 0;
}

int CPCMSampleConvert::closeConvert() {
    m_bPassThrough = 0;
    if (m_hStream && m_bOpened) {
        releaseHeader();
        if (acmStreamClose(m_hStream, 0) != 0) return -1;
        m_hStream = nullptr;
        m_bOpened = 0;
    }
    return 0;
}

}  // namespace kv::codecs
