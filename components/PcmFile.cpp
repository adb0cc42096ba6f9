#include "components/PcmFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <system_error>

#include "codecs/PCMSampleConvert.h"
#include "components/Components.h"

namespace kv::components {

namespace {

constexpr WORD kFormatPcm = 1;
constexpr WORD kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as it is laid out in a file.
constexpr BYTE kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The most of a format chunk that means anything to us: the extensible layout.
constexpr std::size_t kFormatBytesUsed = 40;

std::uint32_t le32(const BYTE* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
WORD le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }

std::string hex(std::uint32_t v, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, static_cast<unsigned long>(v));
    return text;
}

// A chunk identifier for a message; a hostile file may put anything there.
std::string fourcc(const BYTE* id) {
    std::string s = "'";
    for (int i = 0; i < 4; ++i) s += id[i] >= 0x20 && id[i] < 0x7F ? static_cast<char>(id[i]) : '?';
    return s + "'";
}

HRESULT refuse(PcmLayout& layout, HRESULT hr, std::string why) {
    layout.problem = std::move(why);
    return hr;
}

// Reads the format chunk's body, of which `body` holds the first
// min(size, kFormatBytesUsed) bytes. The byte rate is not trusted, since
// writers get it wrong and it follows from the rest; a block alignment that
// disagrees with the rest leaves the frames themselves in doubt.
HRESULT readFormat(const BYTE* body, std::uint64_t size, PcmLayout& layout) {
    if (size < 16)
        return refuse(layout, E_KV_NOT_WAVE, "fmt chunk too short (" + std::to_string(size) + " bytes, need 16)");
    const WORD tag = le16(body);
    if (tag == kFormatExtensible) {
        // cbSize, valid bits, channel mask, then the sub-format GUID.
        if (size < 40 || le16(body + 16) < 22)
            return refuse(
                layout, E_KV_NOT_WAVE,
                "fmt chunk too short for WAVE_FORMAT_EXTENSIBLE (" + std::to_string(size) + " bytes, need 40)");
        if (std::memcmp(body + 24, kSubtypePcm, sizeof kSubtypePcm) != 0)
            return refuse(
                layout, E_KV_NOT_PCM,
                "samples are not PCM (WAVE_FORMAT_EXTENSIBLE, sub-format " + hex(le32(body + 24), 8) + "...)");
    } else if (tag != kFormatPcm) {
        return refuse(layout, E_KV_NOT_PCM, "samples are not PCM (format tag " + hex(tag, 4) + ")");
    }
    const WORD channels = le16(body + 2);
    const DWORD rate = le32(body + 4);
    const WORD align = le16(body + 12);
    const WORD bits = le16(body + 14);
    if (channels != 1 && channels != 2)
        return refuse(layout, E_KV_UNSUPPORTED, std::to_string(channels) + " channels (only 1 or 2 are supported)");
    if (bits != 8 && bits != 16)
        return refuse(layout, E_KV_UNSUPPORTED, std::to_string(bits) + " bits per sample (only 8 or 16 are supported)");
    if (rate < kMinFileRate || rate > kMaxFileRate)
        return refuse(layout, E_KV_UNSUPPORTED,
                      "sample rate " + std::to_string(rate) + " Hz (only " + std::to_string(kMinFileRate) + " to " +
                          std::to_string(kMaxFileRate) + " Hz are supported)");
    const unsigned frame = channels * bits / 8u;
    if (align != frame)
        return refuse(layout, E_KV_NOT_WAVE,
                      "block align " + std::to_string(align) + " does not match " + std::to_string(channels) +
                          " channel(s) of " + std::to_string(bits) + " bits (" + std::to_string(frame) + ")");
    layout.format = codecs::pcmWaveFormat(channels, rate, bits);
    return S_OK;
}

// Random access to an open file: exactly `n` bytes at `at`, or false.
class FileBytes {
public:
    FileBytes(std::ifstream& in, std::uint64_t size) : m_in(in), m_size(size) {}
    std::uint64_t size() const { return m_size; }
    bool read(std::uint64_t at, BYTE* to, std::size_t n) {
        if (at > m_size || n > m_size - at) return false;
        m_in.clear();
        m_in.seekg(static_cast<std::streamoff>(at));
        m_in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(n));
        return static_cast<std::size_t>(m_in.gcount()) == n;
    }

private:
    std::ifstream& m_in;
    std::uint64_t m_size;
};

// The RIFF size is not trusted: streaming writers leave it 0 or all ones.
// The chunks are walked up to the data chunk instead, which is where reading
// stops; what follows it does not matter.
HRESULT walkWave(FileBytes& file, PcmLayout& layout) {
    const std::uint64_t size = file.size();
    if (size == 0) return refuse(layout, E_KV_NOT_WAVE, "the file is empty");
    BYTE riff[12];
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof riff));
    if (!file.read(0, riff, head)) return E_KV_READ_FAULT;
    if (std::memcmp(riff, "RIFF", std::min<std::size_t>(head, 4)) != 0)
        return refuse(layout, E_KV_NOT_WAVE,
                      "not a WAV file: no RIFF header (raw 16-bit input must be named .pcm or .raw)");
    if (head < sizeof riff)
        return refuse(layout, E_KV_NOT_WAVE, "RIFF header cut short (" + std::to_string(head) + " of 12 bytes)");
    if (std::memcmp(riff + 8, "WAVE", 4) != 0)
        return refuse(layout, E_KV_NOT_WAVE, "not a WAV file: RIFF form " + fourcc(riff + 8) + ", not 'WAVE'");

    bool haveFormat = false;
    for (std::uint64_t pos = 12; pos + 8 <= size;) {
        BYTE header[8];
        if (!file.read(pos, header, sizeof header)) return E_KV_READ_FAULT;
        const std::uint64_t declared = le32(header + 4);
        const std::uint64_t body = pos + 8;
        const std::uint64_t present = std::min(declared, size - body);
        if (std::memcmp(header, "data", 4) == 0) {
            // The format must come first: a reader that streams has nothing
            // to make of samples it meets before it.
            if (!haveFormat) return refuse(layout, E_KV_NOT_WAVE, "no fmt chunk before the data chunk");
            layout.dataOffset = body;
            layout.claimedBytes = declared;
            layout.presentBytes = present;
            layout.dataBytes = present - present % layout.format.nBlockAlign;
            return S_OK;
        }
        if (present < declared)
            return refuse(layout, E_KV_NOT_WAVE,
                          fourcc(header) + " chunk claims " + std::to_string(declared) + " bytes, but the file ends " +
                              std::to_string(present) + " bytes into it");
        if (std::memcmp(header, "fmt ", 4) == 0 && !haveFormat) {
            BYTE format[kFormatBytesUsed] = {};
            if (!file.read(body, format, static_cast<std::size_t>(std::min<std::uint64_t>(declared, sizeof format))))
                return E_KV_READ_FAULT;
            const HRESULT hr = readFormat(format, declared, layout);
            if (FAILED(hr)) return hr;
            haveFormat = true;
        }
        pos = body + declared + (declared & 1);
    }
    return refuse(layout, E_KV_NOT_WAVE, haveFormat ? "no data chunk" : "no fmt chunk and no data chunk");
}

// Compared in UTF-16, which every path converts to, whatever the platform's
// narrow encoding makes of the rest of the name.
bool isRawName(const std::filesystem::path& path) {
    std::u16string ext = path.extension().u16string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; });
    return ext == u".pcm" || ext == u".raw";
}

HRESULT openFile(const std::filesystem::path& path, std::ifstream& in, std::uint64_t& size) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        const std::filesystem::path folder = path.parent_path();
        return folder.empty() || std::filesystem::is_directory(folder, ec) ? E_KV_FILE_NOT_FOUND : E_KV_PATH_NOT_FOUND;
    }
    if (std::filesystem::is_directory(status)) return E_ACCESSDENIED;
    in.open(path, std::ios::binary);
    if (!in) return E_ACCESSDENIED;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) return E_KV_READ_FAULT;
    size = static_cast<std::uint64_t>(end);
    return S_OK;
}

HRESULT inspect(FileBytes& file, const std::filesystem::path& path, DWORD rawRate, PcmLayout& layout) {
    layout = PcmLayout{};
    if (!isRawName(path)) return walkWave(file, layout);
    layout.format = codecs::pcmWaveFormat(1, rawRate, 16);
    layout.claimedBytes = layout.presentBytes = file.size();
    layout.dataBytes = file.size() & ~std::uint64_t{1};
    return S_OK;
}

// Exactly `n` bytes from a stream, or false at its end.
bool readExactly(std::FILE* stream, BYTE* to, std::size_t n) { return std::fread(to, 1, n, stream) == n; }

// The headers of a WAVE stream up to its data, read front to back: the same
// rules as walkWave, but nothing can be skipped by seeking, and the length of
// what follows is not known.
HRESULT walkWaveStream(std::FILE* stream, PcmLayout& layout) {
    BYTE riff[12];
    const std::size_t head = std::fread(riff, 1, sizeof riff, stream);
    if (std::ferror(stream)) return E_KV_READ_FAULT;
    if (head == 0) return refuse(layout, E_KV_NOT_WAVE, "empty input");
    if (std::memcmp(riff, "RIFF", std::min<std::size_t>(head, 4)) != 0)
        return refuse(layout, E_KV_NOT_WAVE, "not a WAV stream: no RIFF header");
    if (head < sizeof riff)
        return refuse(layout, E_KV_NOT_WAVE, "RIFF header cut short (" + std::to_string(head) + " of 12 bytes)");
    if (std::memcmp(riff + 8, "WAVE", 4) != 0)
        return refuse(layout, E_KV_NOT_WAVE, "not a WAV stream: RIFF form " + fourcc(riff + 8) + ", not 'WAVE'");
    bool haveFormat = false;
    for (;;) {
        BYTE header[8];
        if (!readExactly(stream, header, sizeof header)) break;
        const std::uint64_t declared = le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) return refuse(layout, E_KV_NOT_WAVE, "no fmt chunk before the data chunk");
            layout.claimedBytes = declared;
            return S_OK;
        }
        // As in a file, a chunk cut short by the end breaks the input before
        // anything in it counts.
        const std::uint64_t skip = declared + (declared & 1);
        const bool isFormat = std::memcmp(header, "fmt ", 4) == 0 && !haveFormat;
        BYTE format[kFormatBytesUsed] = {};
        std::uint64_t done = 0;
        for (BYTE scratch[4096]; done < skip;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(skip - done, sizeof scratch));
            const std::size_t got = std::fread(scratch, 1, n, stream);
            if (isFormat && done < sizeof format)
                std::memcpy(format + done, scratch,
                            static_cast<std::size_t>(std::min<std::uint64_t>(got, sizeof format - done)));
            done += got;
            if (got < n) break;
        }
        if (std::ferror(stream)) return E_KV_READ_FAULT;
        if (done < declared)
            return refuse(layout, E_KV_NOT_WAVE, fourcc(header) + " chunk cut short by the end of the input");
        if (isFormat) {
            const HRESULT hr = readFormat(format, declared, layout);
            if (FAILED(hr)) return hr;
            haveFormat = true;
        }
        if (done < skip) break;  // the end, in place of a pad byte
    }
    if (std::ferror(stream)) return E_KV_READ_FAULT;
    return refuse(layout, E_KV_NOT_WAVE, haveFormat ? "no data chunk" : "no fmt chunk and no data chunk");
}

}  // namespace

HRESULT PcmReader::open(const std::filesystem::path& path, DWORD rawRate) {
    try {
        std::uint64_t size = 0;
        HRESULT hr = openFile(path, m_file, size);
        if (FAILED(hr)) return hr;
        FileBytes file(m_file, size);
        hr = inspect(file, path, rawRate, m_layout);
        if (FAILED(hr)) return hr;
        m_file.clear();
        m_file.seekg(static_cast<std::streamoff>(m_layout.dataOffset));
        if (!m_file) return E_KV_READ_FAULT;
        m_left = m_layout.dataBytes;
        m_known = true;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_KV_READ_FAULT;
    }
}

HRESULT PcmReader::open(std::FILE* stream, bool raw, DWORD rawRate) {
    m_stream = stream;
    m_layout = PcmLayout{};
    if (raw) {
        m_layout.format = codecs::pcmWaveFormat(1, rawRate, 16);
        m_known = false;
        m_left = ~std::uint64_t{0};
        return S_OK;
    }
    try {
        const HRESULT hr = walkWaveStream(stream, m_layout);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const std::uint64_t claimed = m_layout.claimedBytes;
    m_known = claimed != 0 && claimed != 0xFFFFFFFF;
    m_left = m_known ? claimed : ~std::uint64_t{0};
    m_layout.dataBytes = m_known ? claimed - claimed % m_layout.format.nBlockAlign : 0;
    return S_OK;
}

HRESULT PcmReader::read(BYTE* to, std::size_t max, std::size_t& got) {
    const std::size_t frame = m_layout.format.nBlockAlign;
    got = 0;
    if (frame == 0) return E_UNEXPECTED;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, max)) / frame * frame;
    if (want == 0) return S_OK;
    if (m_stream) {
        got = std::fread(to, 1, want, m_stream);
        if (got < want) {
            if (std::ferror(m_stream)) return E_KV_READ_FAULT;
            m_left = 0;  // the end of the input, perhaps in a frame
            got -= got % frame;
            return S_OK;
        }
    } else {
        m_file.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(m_file.gcount()) != want) return E_KV_READ_FAULT;
        got = want;
    }
    m_left -= got;
    return S_OK;
}

HRESULT inspectPcmFile(const std::filesystem::path& path, DWORD rawRate, PcmLayout& layout) {
    try {
        std::ifstream in;
        std::uint64_t size = 0;
        const HRESULT hr = openFile(path, in, size);
        if (FAILED(hr)) return hr;
        FileBytes file(in, size);
        return inspect(file, path, rawRate, layout);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_KV_READ_FAULT;
    }
}

}  // namespace kv::components
