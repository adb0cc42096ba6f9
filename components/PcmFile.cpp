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

// The input, read front to back: all the WAVE rules need, so that a stream
// that cannot seek takes them as a file does.
class PcmSource {
public:
    virtual ~PcmSource() = default;
    // Up to `n` bytes; fewer only at the end of the input or on a failure.
    virtual std::size_t read(BYTE* to, std::size_t n) = 0;
    // Passes over up to `n` bytes and says how many; fewer only at the end or
    // on a failure.
    virtual std::uint64_t skip(std::uint64_t n) = 0;
    virtual bool failed() const = 0;
};

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

// A file, whose size is known: it skips by seeking, and a read that comes
// short of that size is a failure, not the end.
class FileSource final : public PcmSource {
public:
    HRESULT open(const std::filesystem::path& path) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (status.type() == std::filesystem::file_type::not_found) {
            const std::filesystem::path folder = path.parent_path();
            return folder.empty() || std::filesystem::is_directory(folder, ec) ? E_KV_FILE_NOT_FOUND
                                                                               : E_KV_PATH_NOT_FOUND;
        }
        if (std::filesystem::is_directory(status)) return E_ACCESSDENIED;
        m_in.open(path, std::ios::binary);
        if (!m_in) return E_ACCESSDENIED;
        m_in.seekg(0, std::ios::end);
        const std::streamoff end = m_in.tellg();
        if (end < 0) return E_KV_READ_FAULT;
        m_size = static_cast<std::uint64_t>(end);
        m_in.seekg(0);
        return m_in ? S_OK : E_KV_READ_FAULT;
    }
    std::uint64_t size() const { return m_size; }
    std::uint64_t position() const { return m_at; }

    std::size_t read(BYTE* to, std::size_t n) override {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_size - m_at));
        m_in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(m_in.gcount());
        m_at += got;
        m_failed = m_failed || got < want;
        return got;
    }
    std::uint64_t skip(std::uint64_t n) override {
        const std::uint64_t over = std::min(n, m_size - m_at);
        if (!m_in.seekg(static_cast<std::streamoff>(over), std::ios::cur)) {
            m_failed = true;
            return 0;
        }
        m_at += over;
        return over;
    }
    bool failed() const override { return m_failed; }

private:
    std::ifstream m_in;
    std::uint64_t m_size = 0;
    std::uint64_t m_at = 0;
    bool m_failed = false;
};

// A stream that cannot seek (standard input): passing over is reading.
class StreamSource final : public PcmSource {
public:
    explicit StreamSource(std::FILE* stream) : m_stream(stream) {}

    std::size_t read(BYTE* to, std::size_t n) override { return std::fread(to, 1, n, m_stream); }
    std::uint64_t skip(std::uint64_t n) override {
        std::uint64_t done = 0;
        for (BYTE scratch[4096]; done < n;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof scratch));
            const std::size_t got = std::fread(scratch, 1, want, m_stream);
            done += got;
            if (got < want) break;
        }
        return done;
    }
    bool failed() const override { return std::ferror(m_stream) != 0; }

private:
    std::FILE* m_stream;
};

// How a refusal names the input. The rules are one, but a file and a stream
// have always been described in words of their own.
struct InputWords {
    const char* empty;
    const char* notWave;   // begins the refusal of what is not a WAVE input
    const char* rawHint;   // ends the refusal of what has no RIFF header
    bool countsCutChunks;  // a chunk cut short is told in bytes
};
constexpr InputWords kFileWords{"the file is empty", "not a WAV file", " (raw 16-bit input must be named .pcm or .raw)",
                                true};
constexpr InputWords kStreamWords{"empty input", "not a WAV stream", "", false};

std::string cutShort(const InputWords& words, const BYTE* id, std::uint64_t declared, std::uint64_t present) {
    if (!words.countsCutChunks) return fourcc(id) + " chunk cut short by the end of the input";
    return fourcc(id) + " chunk claims " + std::to_string(declared) + " bytes, but the file ends " +
           std::to_string(present) + " bytes into it";
}

// The RIFF size is not trusted: streaming writers leave it 0 or all ones.
// The chunks are walked instead, up to the data chunk, where the walk stops
// with `in` at the first sample and `dataDeclared` what the chunk declares;
// what follows it does not matter. A chunk before it that the end of the
// input cuts short breaks the input before anything in it counts.
HRESULT walkWave(PcmSource& in, const InputWords& words, PcmLayout& layout, std::uint64_t& dataDeclared) {
    BYTE riff[12];
    const std::size_t head = in.read(riff, sizeof riff);
    if (in.failed()) return E_KV_READ_FAULT;
    if (head == 0) return refuse(layout, E_KV_NOT_WAVE, words.empty);
    if (std::memcmp(riff, "RIFF", std::min<std::size_t>(head, 4)) != 0)
        return refuse(layout, E_KV_NOT_WAVE, std::string(words.notWave) + ": no RIFF header" + words.rawHint);
    if (head < sizeof riff)
        return refuse(layout, E_KV_NOT_WAVE, "RIFF header cut short (" + std::to_string(head) + " of 12 bytes)");
    if (std::memcmp(riff + 8, "WAVE", 4) != 0)
        return refuse(layout, E_KV_NOT_WAVE,
                      std::string(words.notWave) + ": RIFF form " + fourcc(riff + 8) + ", not 'WAVE'");

    bool haveFormat = false;
    for (BYTE header[8]; in.read(header, sizeof header) == sizeof header;) {
        const std::uint64_t declared = le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            // The format must come first: a reader that streams has nothing
            // to make of samples it meets before it.
            if (!haveFormat) return refuse(layout, E_KV_NOT_WAVE, "no fmt chunk before the data chunk");
            dataDeclared = declared;
            return S_OK;
        }
        const bool isFormat = std::memcmp(header, "fmt ", 4) == 0 && !haveFormat;
        BYTE format[kFormatBytesUsed] = {};
        const std::uint64_t padded = declared + (declared & 1);
        std::uint64_t passed =
            isFormat ? in.read(format, static_cast<std::size_t>(std::min<std::uint64_t>(declared, sizeof format))) : 0;
        passed += in.skip(padded - passed);
        if (in.failed()) return E_KV_READ_FAULT;
        if (passed < declared) return refuse(layout, E_KV_NOT_WAVE, cutShort(words, header, declared, passed));
        if (isFormat) {
            const HRESULT hr = readFormat(format, declared, layout);
            if (FAILED(hr)) return hr;
            haveFormat = true;
        }
        if (passed < padded) break;  // the end, in place of a pad byte
    }
    if (in.failed()) return E_KV_READ_FAULT;
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

}  // namespace

PcmReader::PcmReader() = default;
PcmReader::~PcmReader() = default;

HRESULT PcmReader::open(const std::filesystem::path& path, DWORD rawRate) {
    return kv::com::guarded([&] {
        try {
            auto file = std::make_unique<FileSource>();
            HRESULT hr = file->open(path);
            if (FAILED(hr)) return hr;
            m_layout = PcmLayout{};
            if (isRawName(path)) {
                m_layout.format = codecs::pcmWaveFormat(1, rawRate, 16);
                m_layout.claimedBytes = m_layout.presentBytes = file->size();
                m_layout.dataBytes = file->size() & ~std::uint64_t{1};
            } else {
                std::uint64_t declared = 0;
                hr = walkWave(*file, kFileWords, m_layout, declared);
                if (FAILED(hr)) return hr;
                m_layout.dataOffset = file->position();
                m_layout.claimedBytes = declared;
                m_layout.presentBytes = std::min(declared, file->size() - file->position());
                m_layout.dataBytes = m_layout.presentBytes - m_layout.presentBytes % m_layout.format.nBlockAlign;
            }
            m_source = std::move(file);
            m_left = m_layout.dataBytes;
            m_known = true;
            return S_OK;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception&) {
            // Not a barrier: what the file system throws (for a name it
            // cannot convert, say) is a read fault to every caller.
            return E_KV_READ_FAULT;
        }
    });
}

HRESULT PcmReader::open(std::FILE* stream, bool raw, DWORD rawRate) {
    return kv::com::guarded([&] {
        m_source = std::make_unique<StreamSource>(stream);
        m_layout = PcmLayout{};
        if (raw) {
            m_layout.format = codecs::pcmWaveFormat(1, rawRate, 16);
            m_known = false;
            m_left = ~std::uint64_t{0};
            return S_OK;
        }
        std::uint64_t claimed = 0;
        const HRESULT hr = walkWave(*m_source, kStreamWords, m_layout, claimed);
        if (FAILED(hr)) return hr;
        m_layout.claimedBytes = claimed;
        m_known = claimed != 0 && claimed != 0xFFFFFFFF;
        m_left = m_known ? claimed : ~std::uint64_t{0};
        m_layout.dataBytes = m_known ? claimed - claimed % m_layout.format.nBlockAlign : 0;
        return S_OK;
    });
}

HRESULT PcmReader::read(BYTE* to, std::size_t max, std::size_t& got) {
    const std::size_t frame = m_layout.format.nBlockAlign;
    got = 0;
    if (frame == 0) return E_UNEXPECTED;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(m_left, max)) / frame * frame;
    if (want == 0) return S_OK;
    got = m_source->read(to, want);
    if (got < want) {
        // A file holds what its headers promise, so coming short there is a
        // fault, which its failed() tells; a stream ends, perhaps in a frame.
        if (m_source->failed()) return E_KV_READ_FAULT;
        m_left = 0;
        got -= got % frame;
        return S_OK;
    }
    m_left -= got;
    return S_OK;
}

}  // namespace kv::components
