#include "codecs/StreamDecoder.h"

#include <algorithm>
#include <cstring>

#include "codecs/G711Codec.h"

namespace kv::codecs {

CStreamDecoder::CStreamDecoder(StreamFormat format, int bitsPerCode, G722Alignment alignment)
    : m_format(format), m_bitsPerCode(format == StreamFormat::G722 ? bitsPerCode : 8), m_alignment(alignment) {
    if (m_format == StreamFormat::G7231) m_g7231.emplace();
    reset();
}

void CStreamDecoder::reset() {
    if (m_g7231) m_g7231->reset();
    // Quorvan: the low-band code is the byte's six low bits, over the two
    // bits our encoder sets above it.
    if (m_format == StreamFormat::Quorvan) m_g722.reset(8, G722Alignment::Right, true);
    if (m_format == StreamFormat::G722) m_g722.reset(m_bitsPerCode, m_alignment, false);
    m_heldBytes = 0;
    m_lost = false;
    m_frames = 0;
    m_bytesTaken = 0;
}

void CStreamDecoder::setPostFilter(bool on) {
    m_postFilter = on;
    if (m_g7231) m_g7231->setPostFilter(on);
}

bool CStreamDecoder::frameLost() {
    if (!m_g7231) return false;
    m_lost = true;
    return true;
}

std::size_t CStreamDecoder::flush() {
    const std::size_t dropped = static_cast<std::size_t>(m_heldBytes);
    m_heldBytes = 0;
    m_lost = false;
    return dropped;
}

void CStreamDecoder::decode(const std::uint8_t* bytes, std::size_t count, PcmOutput& out) {
    m_bytesTaken += count;
    if (!m_g7231) {
        decodeCodes(bytes, count, out);
        return;
    }
    while (count > 0) {
        const std::size_t need = static_cast<std::size_t>(CG7231Decoder::frameBytes(m_heldBytes ? m_held[0] : *bytes));
        if (m_heldBytes == 0 && count >= need) {
            // A whole frame in the caller's bytes is read where it is.
            decodeFrame(bytes, out);
            bytes += need;
            count -= need;
            continue;
        }
        const std::size_t take = std::min(count, need - static_cast<std::size_t>(m_heldBytes));
        std::memcpy(m_held + m_heldBytes, bytes, take);
        m_heldBytes += static_cast<int>(take);
        bytes += take;
        count -= take;
        if (static_cast<std::size_t>(m_heldBytes) == need) {
            m_heldBytes = 0;
            decodeFrame(m_held, out);
        }
    }
}

void CStreamDecoder::decodeFrame(const std::uint8_t* frame, PcmOutput& out) {
    // The mark is taken before the output runs, which may mark the next frame.
    const bool lost = m_lost;
    m_lost = false;
    m_g7231->decodeFrame(frame, lost, m_pcm);
    ++m_frames;
    out.pcm(m_pcm, CG7231Decoder::kFrameSamples);
}

void CStreamDecoder::decodeCodes(const std::uint8_t* bytes, std::size_t count, PcmOutput& out) {
    const std::size_t perByte = m_format == StreamFormat::G722 ? 2 : 1;
    while (count > 0) {
        const std::size_t n = std::min(count, kPieceSamples / perByte);
        const auto codes = static_cast<std::int32_t>(n);
        switch (m_format) {
            case StreamFormat::G711A:
                CG711Codec::decodeALawSamples(bytes, codes, m_pcm);
                break;
            case StreamFormat::G711U:
                CG711Codec::decodeMuLawSamples(bytes, codes, m_pcm);
                break;
            default:
                m_g722.decode(bytes, codes, m_pcm);
                break;
        }
        m_frames += n;
        out.pcm(m_pcm, static_cast<int>(n * perByte));
        bytes += n;
        count -= n;
    }
}

}  // namespace kv::codecs
