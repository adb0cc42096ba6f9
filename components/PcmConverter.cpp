#include "components/PcmConverter.h"

namespace kv::components {

namespace {

bool takes(const WAVEFORMATEX& f, DWORD lowest, DWORD highest) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= lowest &&
           f.nSamplesPerSec <= highest && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

int sampleAt(const BYTE* p, int bits) {
    return bits == 8 ? (p[0] - 128) * 256 : static_cast<std::int16_t>(p[0] | p[1] << 8);
}

}  // namespace

bool PcmConverter::init(const WAVEFORMATEX& from, const WAVEFORMATEX& to) {
    if (!takes(from, 4000, 384000) || !takes(to, 8000, 192000)) return false;
    m_from = from;
    m_to = to;
    m_passThrough = from.nChannels == to.nChannels && from.nSamplesPerSec == to.nSamplesPerSec &&
                    from.wBitsPerSample == to.wBitsPerSample;
    m_lanes = from.nChannels == 2 && to.nChannels == 2 ? 2 : 1;
    for (int c = 0; c < 2; ++c) {
        m_rate[c].reset();
        if (c < m_lanes && from.nSamplesPerSec != to.nSamplesPerSec)
            m_rate[c].emplace(from.nSamplesPerSec, to.nSamplesPerSec);
        m_lane[c].clear();
        m_done[c].clear();
    }
    return true;
}

void PcmConverter::convert(const BYTE* in, std::size_t bytes, std::vector<BYTE>& out) {
    const int bits = m_from.wBitsPerSample, width = bits / 8;
    const std::size_t frames = bytes / m_from.nBlockAlign;
    for (int c = 0; c < m_lanes; ++c) m_lane[c].resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const BYTE* frame = in + i * m_from.nBlockAlign;
        if (m_from.nChannels == 2 && m_lanes == 1) {
            // Arithmetic shift: the mean rounded down.
            m_lane[0][i] = static_cast<std::int16_t>((sampleAt(frame, bits) + sampleAt(frame + width, bits)) >> 1);
        } else {
            for (int c = 0; c < m_lanes; ++c)
                m_lane[c][i] = static_cast<std::int16_t>(sampleAt(frame + c * width, bits));
        }
    }
    for (int c = 0; c < m_lanes; ++c) {
        if (m_rate[c])
            m_rate[c]->push(m_lane[c].data(), frames, m_done[c]);
        else
            m_done[c].insert(m_done[c].end(), m_lane[c].begin(), m_lane[c].end());
    }
    emit(out);
}

void PcmConverter::finish(std::vector<BYTE>& out) {
    for (int c = 0; c < m_lanes; ++c)
        if (m_rate[c]) m_rate[c]->finish(m_done[c]);
    emit(out);
}

// Both lanes of a stereo conversion advance alike, so they hold the same
// number of samples here.
void PcmConverter::emit(std::vector<BYTE>& out) {
    const std::size_t frames = m_done[0].size();
    const int channels = m_to.nChannels;
    out.reserve(out.size() + frames * m_to.nBlockAlign);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const std::int16_t v = m_done[m_lanes == 2 ? c : 0][i];
            if (m_to.wBitsPerSample == 8) {
                out.push_back(static_cast<BYTE>((v >> 8) + 128));
            } else {
                out.push_back(static_cast<BYTE>(v & 0xFF));
                out.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
            }
        }
    }
    for (int c = 0; c < m_lanes; ++c) m_done[c].clear();
}

}  // namespace kv::components
