#include "components/PcmConverter.h"

namespace kv::components {

namespace {

bool takes(const WAVEFORMATEX& f, DWORD lowest, DWORD highest, WORD channels) {
    return f.wFormatTag == WAVE_FORMAT_PCM && f.nChannels >= 1 && f.nChannels <= channels &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= lowest &&
           f.nSamplesPerSec <= highest && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

int sampleAt(const BYTE* p, int bits) {
    return bits == 8 ? (p[0] - 128) * 256 : static_cast<std::int16_t>(p[0] | p[1] << 8);
}

// The mean rounded down, as an arithmetic shift gives it for two.
int floorDiv(int sum, int n) { return sum >= 0 ? sum / n : -((-sum + n - 1) / n); }

}  // namespace

bool PcmConverter::init(const WAVEFORMATEX& from, const WAVEFORMATEX& to) {
    // Channels are summed in an int: 32767 of them cannot overflow it.
    if (!takes(from, 4000, 384000, 32767) || !takes(to, 8000, 192000, 2)) return false;
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
        if (m_from.nChannels != m_lanes) {
            int sum = 0;
            for (int c = 0; c < m_from.nChannels; ++c) sum += sampleAt(frame + c * width, bits);
            m_lane[0][i] = static_cast<std::int16_t>(floorDiv(sum, m_from.nChannels));
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
