#include "components/PcmFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

#include "codecs/PCMSampleConvert.h"
#include "components/Components.h"

namespace kvcomponents {

namespace {

constexpr WORD kFormatPcm = 1;
constexpr WORD kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as it is laid out in a file.
constexpr BYTE kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint32_t le32(const BYTE* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
WORD le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }

// Reads the format chunk's body; its block alignment and byte rate are not
// trusted, since writers get them wrong and both follow from the rest.
HRESULT readFormat(const BYTE* body, std::uint64_t size, WAVEFORMATEX& format) {
    if (size < 16) return E_KV_NOT_WAVE;
    const WORD tag = le16(body);
    if (tag == kFormatExtensible) {
        // cbSize, valid bits, channel mask, then the sub-format GUID.
        if (size < 40 || le16(body + 16) < 22) return E_KV_NOT_WAVE;
        if (std::memcmp(body + 24, kSubtypePcm, sizeof kSubtypePcm) != 0) return E_KV_NOT_PCM;
    } else if (tag != kFormatPcm) {
        return E_KV_NOT_PCM;
    }
    const WORD channels = le16(body + 2);
    const DWORD rate = le32(body + 4);
    const WORD bits = le16(body + 14);
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || rate == 0) return E_KV_UNSUPPORTED;
    format = pcmWaveFormat(channels, rate, bits);
    return S_OK;
}

// Compared in UTF-16, which every path converts to, whatever the platform's
// narrow encoding makes of the rest of the name.
bool isRawName(const std::filesystem::path& path) {
    std::u16string ext = path.extension().u16string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; });
    return ext == u".pcm" || ext == u".raw";
}

HRESULT readWholeFile(const std::filesystem::path& path, std::vector<BYTE>& bytes) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return E_KV_FILE_NOT_FOUND;
    if (std::filesystem::is_directory(status)) return E_ACCESSDENIED;
    std::ifstream in(path, std::ios::binary);
    if (!in) return E_ACCESSDENIED;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return E_KV_READ_FAULT;
    in.seekg(0, std::ios::beg);
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return E_KV_READ_FAULT;
    return S_OK;
}

}  // namespace

HRESULT parseWave(const BYTE* file, std::size_t size, PcmData& out) {
    if (!file || size < 12 || std::memcmp(file, "RIFF", 4) != 0 || std::memcmp(file + 8, "WAVE", 4) != 0)
        return E_KV_NOT_WAVE;
    // The RIFF size is not trusted either: streaming writers leave it 0 or
    // all ones. The chunks are walked up to the end of the file instead.
    bool haveFormat = false;
    bool haveData = false;
    WAVEFORMATEX format{};
    std::uint64_t dataAt = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t pos = 12;
    while (pos + 8 <= size && !(haveFormat && haveData)) {
        const BYTE* header = file + pos;
        const std::uint64_t chunkSize = le32(header + 4);
        const std::uint64_t body = pos + 8;
        const std::uint64_t available = std::min<std::uint64_t>(chunkSize, size - body);
        if (std::memcmp(header, "fmt ", 4) == 0 && !haveFormat) {
            const HRESULT hr = readFormat(file + body, available, format);
            if (FAILED(hr)) return hr;
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0 && !haveData) {
            // A data chunk cut short by the end of the file keeps what is there.
            dataAt = body;
            dataSize = available;
            haveData = true;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    if (!haveFormat || !haveData) return E_KV_NOT_WAVE;
    dataSize -= dataSize % format.nBlockAlign;
    try {
        out.bytes.assign(file + dataAt, file + dataAt + dataSize);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    out.format = format;
    return S_OK;
}

HRESULT readPcmFile(const std::filesystem::path& path, DWORD rawRate, PcmData& out) {
    try {
        std::vector<BYTE> bytes;
        const HRESULT hr = readWholeFile(path, bytes);
        if (FAILED(hr)) return hr;
        if (!isRawName(path)) return parseWave(bytes.data(), bytes.size(), out);
        bytes.resize(bytes.size() & ~std::size_t{1});
        out.format = pcmWaveFormat(1, rawRate, 16);
        out.bytes = std::move(bytes);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_KV_READ_FAULT;
    }
}

}  // namespace kvcomponents
