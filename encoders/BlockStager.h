#pragma once

// Cuts a PCM byte stream into the blocks a codec takes, however the calls
// that bring it are split. Bytes go in behind those held, one pass at a time:
// a pass takes as much as the staging has room for, then codes the oldest
// whole block held. With one block of staging every block is coded as it
// completes; with more (G.723.1), whole blocks may stay held across calls and
// a large call codes one block per pass. No COM here.
//
// Blocks: kInBlock PCM bytes code into kOutBlock bytes, kStagingBlocks blocks
// are held at most, kMaxPieceBytes bounds a piece of a call, kPadLastBlock
// says how a flush codes a partial block. The codec: encodeBlock(pcm, code)
// and, without kPadLastBlock, encodeSamples(pcm, count, code), a byte a sample.

#include "platform/win32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kv::encoders {

template <class Blocks>
class BlockStager {
    static constexpr int kIn = Blocks::kInBlock;
    static constexpr int kStagingBytes = kIn * Blocks::kStagingBlocks;
    static_assert(kIn % 2 == 0 && Blocks::kStagingBlocks >= 1 && Blocks::kMaxPieceBytes >= kIn);

public:
    // A piece of N bytes codes at most ceil(N / kIn) blocks: one block of
    // staging holds less than a block in front of it, and with more, every
    // pass after the first brings at most kIn bytes.
    static constexpr int kOutBytes = (Blocks::kMaxPieceBytes + kIn - 1) / kIn * Blocks::kOutBlock;
    static_assert(kOutBytes >= Blocks::kStagingBlocks * Blocks::kOutBlock, "a flush codes all that is held at once");

    // How many of a call's remaining bytes its next piece takes; each piece
    // is coded (take) and delivered on its own. With one block of staging,
    // where a call is cut changes nothing but the deliveries. With more, a
    // piece cut part-way through a pass would code a block early, so a long
    // call is cut only where a pass ends: its pieces code exactly the blocks
    // one unbounded call would.
    LONG nextPiece(LONG rest) const {
        if (rest <= Blocks::kMaxPieceBytes) return rest;
        if constexpr (Blocks::kStagingBlocks == 1) return Blocks::kMaxPieceBytes;
        const int room = kStagingBytes - m_held;
        return room + (Blocks::kMaxPieceBytes - room) / kIn * kIn;
    }

    // Takes one piece and returns the code bytes it made, in out().
    template <class Codec>
    int take(Codec& codec, const BYTE* pcm, int count) {
        int produced = 0;
        while (count > 0) {
            const int part = std::min(count, kStagingBytes - m_held);
            std::memcpy(staged() + m_held, pcm, static_cast<std::size_t>(part));
            m_held += part;
            pcm += part;
            count -= part;
            if (m_held >= kIn) codeOldest(codec, produced);
        }
        return produced;
    }

    // Codes all that is held, oldest first, into out(): the whole blocks,
    // then the rest, padded with silence to a block or sample by sample.
    template <class Codec>
    int flush(Codec& codec) {
        int produced = 0;
        while (m_held >= kIn) codeOldest(codec, produced);
        if constexpr (Blocks::kPadLastBlock) {
            if (m_held > 0) {
                std::memset(staged() + m_held, 0, static_cast<std::size_t>(kIn - m_held));
                m_held = kIn;
                codeOldest(codec, produced);
            }
        } else if (const int samples = m_held / 2; samples > 0) {  // half a sample is no sample
            codec.encodeSamples(m_samples, samples, m_out + produced);
            produced += samples;
        }
        m_held = 0;
        return produced;
    }

    void clear() { m_held = 0; }
    // The code of the last take or flush, the object's until the next one.
    BYTE* out() { return m_out; }

private:
    BYTE* staged() { return reinterpret_cast<BYTE*>(m_samples); }

    template <class Codec>
    void codeOldest(Codec& codec, int& produced) {
        codec.encodeBlock(m_samples, m_out + produced);
        produced += Blocks::kOutBlock;
        m_held -= kIn;
        std::memmove(m_samples, staged() + kIn, static_cast<std::size_t>(m_held));
    }

    std::int16_t m_samples[kStagingBytes / 2] = {};  // filled byte by byte: a call may split a sample
    int m_held = 0;                                  // bytes held, from the start
    BYTE m_out[kOutBytes] = {};
};

}  // namespace kv::encoders
