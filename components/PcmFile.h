#pragma once

// Reading the PCM that the capture component plays: a RIFF WAVE file, or a
// headerless file of 16-bit little-endian mono samples.

#include <cstddef>
#include <filesystem>
#include <vector>

#include "platform/win32.h"

namespace kvcomponents {

struct PcmData {
    WAVEFORMATEX format{};
    std::vector<BYTE> bytes;  // whole frames only
};

// A file named .pcm or .raw (any case) is headerless 16-bit mono at rawRate;
// anything else must be a WAVE file. Results: S_OK, E_KV_FILE_NOT_FOUND,
// E_ACCESSDENIED, E_KV_READ_FAULT, E_KV_NOT_WAVE, E_KV_NOT_PCM,
// E_KV_UNSUPPORTED, E_OUTOFMEMORY.
HRESULT readPcmFile(const std::filesystem::path& path, DWORD rawRate, PcmData& out);

// The WAVE parser on its own, over the bytes of a whole file. Chunks it does
// not know are skipped, odd-sized chunks carry their pad byte, a data chunk
// cut short by the end of the file yields what is there, and a trailing
// partial frame is dropped.
HRESULT parseWave(const BYTE* file, std::size_t size, PcmData& out);

}  // namespace kvcomponents
