#pragma once

// Reading the PCM that the capture component plays: a RIFF WAVE file, or a
// headerless file of 16-bit little-endian mono samples.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/win32.h"

namespace kv::components {

// The sample rates a WAVE file may have.
inline constexpr DWORD kMinFileRate = 4000;
inline constexpr DWORD kMaxFileRate = 384000;

// What a file's headers say about its samples, found without reading them.
struct PcmLayout {
    // What read() gives: PCM of the file's channels and rate, 8 bits where
    // the file holds 8-bit PCM, else 16 bits.
    WAVEFORMATEX format{};
    // What the file holds: its format tag (WAVE_FORMAT_EXTENSIBLE resolved to
    // its sub-format: PCM, IEEE float, A-law or mu-law), bits and block
    // alignment. The byte counts below are of these.
    WAVEFORMATEX stored{};
    std::uint64_t dataOffset = 0;    // where the samples start
    std::uint64_t claimedBytes = 0;  // what the data chunk (or RF64's ds64) declares; the size of a raw file
    std::uint64_t presentBytes = 0;  // how much of that the file holds
    std::uint64_t dataBytes = 0;     // the whole frames among them: what is played
    std::string problem;             // why the file was refused, in a few words
};

class PcmSource;  // the input, read front to back (PcmFile.cpp)

// Plays the samples of a file, or of a stream read front to back, in pieces
// of any size, so that memory does not grow with the length of the input.
// Both take one set of WAVE rules, walked front to back.
class PcmReader {
public:
    PcmReader();
    ~PcmReader();

    // A file named .pcm or .raw (any case) is headerless 16-bit mono at
    // rawRate; anything else must be a WAVE file (RIFF, or RF64 whose ds64
    // chunk gives the sizes): "fmt " (PCM of 8, 16, 24 or 32 bits, IEEE float
    // of 32 or 64, A-law or mu-law of 8, or WAVE_FORMAT_EXTENSIBLE with one of
    // them as its sub-format; 1 to 32767 channels, 4000 to 384000 Hz, a block
    // alignment that matches) before "data". Chunks it does not know are
    // skipped, odd-sized chunks carry their pad byte, a data chunk cut short
    // by the end of the file yields what is there (also when it declares
    // 0xFFFFFFFF, as streaming writers leave it), one that declares 0 bytes
    // (a recording never finished) runs to the end of the file, and a
    // trailing partial frame is dropped. A chunk before the data that runs
    // past the end of the file breaks it.
    //
    // Results: S_OK, E_KV_FILE_NOT_FOUND (E_KV_PATH_NOT_FOUND when the folder
    // is missing too), E_ACCESSDENIED, E_KV_READ_FAULT, E_KV_NOT_WAVE (not a
    // WAVE file, or a broken one), E_KV_NOT_PCM, E_KV_UNSUPPORTED (a layout we
    // do not take), E_OUTOFMEMORY; on any failure but the first four and the
    // last, `layout().problem` says what is wrong, and on the first four
    // `ioError()` says what the system said.
    HRESULT open(const std::filesystem::path& path, DWORD rawRate);
    // A stream that cannot seek (standard input), not owned: headerless
    // 16-bit mono at rawRate when `raw`, else a WAVE stream walked as a file
    // is, except that a data chunk declaring 0 or 0xFFFFFFFF bytes (what
    // writers leave who cannot seek back) runs to the end of the stream, and
    // that nothing after the data chunk is read.
    HRESULT open(std::FILE* stream, bool raw, DWORD rawRate);

    // What the headers say; for a stream, `dataBytes` is the declared length
    // in whole frames, or 0 when unknown, and the offsets are not kept.
    const PcmLayout& layout() const { return m_layout; }
    bool lengthKnown() const { return m_known; }

    // Up to `max` bytes of whole frames of `format`, decoded from the file's
    // samples; `got` is 0 at the end, or when `max` holds no whole frame. A
    // partial frame at the end is left out. S_OK or E_KV_READ_FAULT.
    HRESULT read(BYTE* to, std::size_t max, std::size_t& got);

    // The bytes of the data chunk read so far, of `stored` frames.
    std::uint64_t bytesRead() const { return m_read; }
    // Why the last open or read failed with an I/O error, as the system
    // said it; empty otherwise.
    std::error_code ioError() const { return m_ioError; }

private:
    std::unique_ptr<PcmSource> m_source;
    PcmLayout m_layout;
    std::uint64_t m_left = 0;  // bytes the data may still hold
    std::uint64_t m_read = 0;
    bool m_known = true;
    std::vector<BYTE> m_stored;  // samples read, before they are decoded
    std::vector<std::int16_t> m_decoded;
    std::error_code m_ioError;
};

}  // namespace kv::components
