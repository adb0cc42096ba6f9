#include "components/PcmFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <optional>
#include <system_error>

#include "codecs/G711Codec.h"
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
    // What the system said of the failure, as an errno value.
    int error() const { return m_error; }

protected:
    void failedWith(int error) {
        if (m_error == 0) m_error = error != 0 ? error : EIO;
    }

private:
    int m_error = 0;
};

namespace {

constexpr WORD kFormatPcm = 1;
constexpr WORD kFormatFloat = 3;
constexpr WORD kFormatALaw = 6;
constexpr WORD kFormatMuLaw = 7;
constexpr WORD kFormatExtensible = 0xFFFE;
// What every KSDATAFORMAT_SUBTYPE_* GUID of a WAVE format tag holds after
// the tag, in its first two bytes, as it is laid out in a file.
constexpr BYTE kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The most of a format chunk that means anything to us: the extensible layout.
constexpr std::size_t kFormatBytesUsed = 40;
// Channels are averaged in 32 bits, and a frame decoded to 16 bits must fit
// a block alignment.
constexpr WORD kMaxChannels = 32767;

std::uint32_t le32(const BYTE* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
WORD le16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
std::uint64_t le64(const BYTE* p) { return le32(p) | std::uint64_t{le32(p + 4)} << 32; }

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

// The formats people meet in WAVE files that we do not take, by name.
std::string tagName(WORD tag) {
    switch (tag) {
        case 0x0002:
            return " (Microsoft ADPCM)";
        case 0x0011:
            return " (IMA ADPCM)";
        case 0x0031:
            return " (GSM 6.10)";
        case 0x0042:
            return " (G.723.1)";
        case 0x0050:
            return " (MPEG)";
        case 0x0055:
            return " (MPEG layer 3)";
        case 0x0064:
            return " (G.726 ADPCM)";
        case 0x0065:
            return " (G.722 ADPCM)";
        default:
            return "";
    }
}

// The sample widths each format tag we take comes in.
bool takesBits(WORD tag, WORD bits) {
    switch (tag) {
        case kFormatPcm:
            return bits == 8 || bits == 16 || bits == 24 || bits == 32;
        case kFormatFloat:
            return bits == 32 || bits == 64;
        default:
            return bits == 8;  // A-law, mu-law
    }
}

const char* tagWords(WORD tag) {
    switch (tag) {
        case kFormatPcm:
            return "PCM (only 8, 16, 24 or 32 are supported)";
        case kFormatFloat:
            return "IEEE float (only 32 or 64 are supported)";
        case kFormatALaw:
            return "A-law (only 8 is supported)";
        default:
            return "mu-law (only 8 is supported)";
    }
}

// Reads the format chunk's body, of which `body` holds the first
// min(size, kFormatBytesUsed) bytes. The byte rate is not trusted, since
// writers get it wrong and it follows from the rest; a block alignment that
// disagrees with the rest leaves the frames themselves in doubt. An
// extensible format's valid bits are not needed: its samples fill their
// container from the top.
HRESULT readFormat(const BYTE* body, std::uint64_t size, PcmLayout& layout) {
    if (size < 16)
        return refuse(layout, E_KV_NOT_WAVE, "fmt chunk too short (" + std::to_string(size) + " bytes, need 16)");
    constexpr const char* kTaken = "is not supported (only PCM, IEEE float, A-law and mu-law are)";
    WORD tag = le16(body);
    std::string container = "format tag ";
    if (tag == kFormatExtensible) {
        // cbSize, valid bits, channel mask, then the sub-format GUID.
        if (size < 40 || le16(body + 16) < 22)
            return refuse(
                layout, E_KV_NOT_WAVE,
                "fmt chunk too short for WAVE_FORMAT_EXTENSIBLE (" + std::to_string(size) + " bytes, need 40)");
        if (std::memcmp(body + 26, kSubtypeTail, sizeof kSubtypeTail) != 0)
            return refuse(layout, E_KV_NOT_PCM,
                          "WAVE_FORMAT_EXTENSIBLE sub-format " + hex(le32(body + 24), 8) + "... " + kTaken);
        tag = le16(body + 24);
        container = "WAVE_FORMAT_EXTENSIBLE sub-format ";
    }
    if (tag != kFormatPcm && tag != kFormatFloat && tag != kFormatALaw && tag != kFormatMuLaw)
        return refuse(layout, E_KV_NOT_PCM, container + hex(tag, 4) + tagName(tag) + " " + kTaken);
    const WORD channels = le16(body + 2);
    const DWORD rate = le32(body + 4);
    const WORD align = le16(body + 12);
    const WORD bits = le16(body + 14);
    if (channels == 0 || channels > kMaxChannels)
        return refuse(
            layout, E_KV_UNSUPPORTED,
            std::to_string(channels) + " channels (only 1 to " + std::to_string(kMaxChannels) + " are supported)");
    if (!takesBits(tag, bits))
        return refuse(layout, E_KV_UNSUPPORTED, std::to_string(bits) + " bits per sample of " + tagWords(tag));
    if (rate < kMinFileRate || rate > kMaxFileRate)
        return refuse(layout, E_KV_UNSUPPORTED,
                      "sample rate " + std::to_string(rate) + " Hz (only " + std::to_string(kMinFileRate) + " to " +
                          std::to_string(kMaxFileRate) + " Hz are supported)");
    const unsigned frame = channels * (bits / 8u);
    if (align != frame)
        return refuse(layout, E_KV_NOT_WAVE,
                      "block align " + std::to_string(align) + " does not match " + std::to_string(channels) +
                          " channel(s) of " + std::to_string(bits) + " bits (" + std::to_string(frame) + ")");
    layout.stored = codecs::pcmWaveFormat(channels, rate, bits);
    layout.stored.wFormatTag = tag;
    layout.format = codecs::pcmWaveFormat(channels, rate, tag == kFormatPcm && bits == 8 ? 8 : 16);
    return S_OK;
}

std::int16_t clamp16(std::int64_t v) { return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767)); }

// Floats are scaled by 32768 and rounded to nearest, halves up, as the
// integers are; NaN is silence.
std::int16_t fromFloat(double x) {
    const double v = std::floor(x * 32768.0 + 0.5);
    return v != v ? 0 : v >= 32767.0 ? 32767 : v <= -32768.0 ? -32768 : static_cast<std::int16_t>(v);
}

// `stored` samples to 16 bits, as a conversion without dither brings them
// there: wider integers rounded to nearest with halves up, and clamped; the
// G.711 laws expanded by the codecs' own tables.
void decodeSamples(const WAVEFORMATEX& stored, const BYTE* in, std::size_t n, std::int16_t* out) {
    switch (stored.wFormatTag) {
        case kFormatALaw:
            codecs::CG711Codec::decodeALawSamples(in, static_cast<std::int32_t>(n), out);
            return;
        case kFormatMuLaw:
            codecs::CG711Codec::decodeMuLawSamples(in, static_cast<std::int32_t>(n), out);
            return;
        case kFormatFloat:
            for (std::size_t i = 0; i < n; ++i)
                out[i] = stored.wBitsPerSample == 32 ? fromFloat(std::bit_cast<float>(le32(in + 4 * i)))
                                                     : fromFloat(std::bit_cast<double>(le64(in + 8 * i)));
            return;
        default:
            break;
    }
    if (stored.wBitsPerSample == 24) {
        for (std::size_t i = 0; i < n; ++i) {
            // Placed in the top of 32 bits, as the 32-bit samples are.
            const BYTE* p = in + 3 * i;
            const auto v = static_cast<std::int32_t>(std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]} << 16 |
                                                     std::uint32_t{p[2]} << 24);
            out[i] = clamp16((std::int64_t{v} + 0x8000) >> 16);
        }
    } else {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = clamp16((std::int64_t{static_cast<std::int32_t>(le32(in + 4 * i))} + 0x8000) >> 16);
    }
}

// A file, whose size is known: it skips by seeking, and a read that comes
// short of that size is a failure, not the end.
class FileSource final : public PcmSource {
public:
    HRESULT open(const std::filesystem::path& path) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (status.type() == std::filesystem::file_type::not_found) {
            failedWith(ENOENT);
            const std::filesystem::path folder = path.parent_path();
            return folder.empty() || std::filesystem::is_directory(folder, ec) ? E_KV_FILE_NOT_FOUND
                                                                               : E_KV_PATH_NOT_FOUND;
        }
        if (std::filesystem::is_directory(status)) {
            failedWith(EISDIR);
            return E_ACCESSDENIED;
        }
        errno = 0;
        m_in.open(path, std::ios::binary);
        if (!m_in) {
            failedWith(errno != 0 ? errno : EACCES);
            return E_ACCESSDENIED;
        }
        m_in.seekg(0, std::ios::end);
        const std::streamoff end = m_in.tellg();
        m_size = static_cast<std::uint64_t>(end);
        if (end < 0 || !m_in.seekg(0)) {
            failedWith(errno);
            return E_KV_READ_FAULT;
        }
        return S_OK;
    }
    std::uint64_t size() const { return m_size; }
    std::uint64_t position() const { return m_at; }

    std::size_t read(BYTE* to, std::size_t n) override {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_size - m_at));
        errno = 0;
        m_in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(want));
        const auto got = static_cast<std::size_t>(m_in.gcount());
        m_at += got;
        if (got < want) {
            m_failed = true;
            failedWith(errno);
        }
        return got;
    }
    std::uint64_t skip(std::uint64_t n) override {
        const std::uint64_t over = std::min(n, m_size - m_at);
        if (!m_in.seekg(static_cast<std::streamoff>(over), std::ios::cur)) {
            m_failed = true;
            failedWith(errno);
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

    std::size_t read(BYTE* to, std::size_t n) override {
        errno = 0;
        const std::size_t got = std::fread(to, 1, n, m_stream);
        if (got < n && std::ferror(m_stream)) failedWith(errno);
        return got;
    }
    std::uint64_t skip(std::uint64_t n) override {
        std::uint64_t done = 0;
        for (BYTE scratch[4096]; done < n;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, sizeof scratch));
            const std::size_t got = read(scratch, want);
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
// with `in` at the first sample and `dataDeclared` what the chunk declares
// (RF64 declares all ones there and the size in its ds64 chunk); what follows
// it does not matter. A chunk before it that the end of the input cuts short
// breaks the input before anything in it counts.
HRESULT walkWave(PcmSource& in, const InputWords& words, PcmLayout& layout, std::uint64_t& dataDeclared) {
    BYTE riff[12];
    const std::size_t head = in.read(riff, sizeof riff);
    if (in.failed()) return E_KV_READ_FAULT;
    if (head == 0) return refuse(layout, E_KV_NOT_WAVE, words.empty);
    const bool rf64 = std::memcmp(riff, "RF64", std::min<std::size_t>(head, 4)) == 0;
    if (!rf64 && std::memcmp(riff, "RIFF", std::min<std::size_t>(head, 4)) != 0)
        return refuse(layout, E_KV_NOT_WAVE, std::string(words.notWave) + ": no RIFF header" + words.rawHint);
    if (head < sizeof riff)
        return refuse(layout, E_KV_NOT_WAVE, "RIFF header cut short (" + std::to_string(head) + " of 12 bytes)");
    if (std::memcmp(riff + 8, "WAVE", 4) != 0)
        return refuse(layout, E_KV_NOT_WAVE,
                      std::string(words.notWave) + ": RIFF form " + fourcc(riff + 8) + ", not 'WAVE'");

    bool haveFormat = false;
    std::optional<std::uint64_t> ds64Data;  // the data size an RF64 file's ds64 chunk gives
    for (BYTE header[8]; in.read(header, sizeof header) == sizeof header;) {
        const std::uint64_t declared = le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            // The format must come first: a reader that streams has nothing
            // to make of samples it meets before it.
            if (!haveFormat) return refuse(layout, E_KV_NOT_WAVE, "no fmt chunk before the data chunk");
            dataDeclared = declared == 0xFFFFFFFF && ds64Data ? *ds64Data : declared;
            return S_OK;
        }
        const bool isFormat = std::memcmp(header, "fmt ", 4) == 0 && !haveFormat;
        const bool isSizes = rf64 && std::memcmp(header, "ds64", 4) == 0 && !ds64Data;
        BYTE format[kFormatBytesUsed] = {};
        const std::uint64_t padded = declared + (declared & 1);
        std::uint64_t passed =
            isFormat || isSizes
                ? in.read(format, static_cast<std::size_t>(std::min<std::uint64_t>(declared, sizeof format)))
                : 0;
        passed += in.skip(padded - passed);
        if (in.failed()) return E_KV_READ_FAULT;
        if (passed < declared) return refuse(layout, E_KV_NOT_WAVE, cutShort(words, header, declared, passed));
        if (isFormat) {
            const HRESULT hr = readFormat(format, declared, layout);
            if (FAILED(hr)) return hr;
            haveFormat = true;
        }
        // The RIFF size, then the data size, then the sample count.
        if (isSizes) {
            if (declared < 24)
                return refuse(layout, E_KV_NOT_WAVE,
                              "ds64 chunk too short (" + std::to_string(declared) + " bytes, need 24)");
            ds64Data = le64(format + 8);
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
        m_ioError.clear();
        m_read = 0;
        try {
            auto file = std::make_unique<FileSource>();
            HRESULT hr = file->open(path);
            if (FAILED(hr)) {
                m_ioError = std::error_code(file->error(), std::generic_category());
                return hr;
            }
            m_layout = PcmLayout{};
            if (isRawName(path)) {
                m_layout.format = m_layout.stored = codecs::pcmWaveFormat(1, rawRate, 16);
                m_layout.claimedBytes = m_layout.presentBytes = file->size();
                m_layout.dataBytes = file->size() & ~std::uint64_t{1};
            } else {
                std::uint64_t declared = 0;
                hr = walkWave(*file, kFileWords, m_layout, declared);
                if (FAILED(hr)) {
                    if (file->error() != 0) m_ioError = std::error_code(file->error(), std::generic_category());
                    return hr;
                }
                // A data size of 0 is what a recorder that never finished
                // leaves: the samples run to the end of the file.
                const std::uint64_t rest = file->size() - file->position();
                m_layout.dataOffset = file->position();
                m_layout.claimedBytes = declared;
                m_layout.presentBytes = declared == 0 ? rest : std::min(declared, rest);
                m_layout.dataBytes = m_layout.presentBytes - m_layout.presentBytes % m_layout.stored.nBlockAlign;
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
            m_ioError = std::make_error_code(std::errc::invalid_argument);
            return E_KV_READ_FAULT;
        }
    });
}

HRESULT PcmReader::open(std::FILE* stream, bool raw, DWORD rawRate) {
    return kv::com::guarded([&] {
        m_ioError.clear();
        m_read = 0;
        m_source = std::make_unique<StreamSource>(stream);
        m_layout = PcmLayout{};
        if (raw) {
            m_layout.format = m_layout.stored = codecs::pcmWaveFormat(1, rawRate, 16);
            m_known = false;
            m_left = ~std::uint64_t{0};
            return S_OK;
        }
        std::uint64_t claimed = 0;
        const HRESULT hr = walkWave(*m_source, kStreamWords, m_layout, claimed);
        if (m_source->error() != 0) m_ioError = std::error_code(m_source->error(), std::generic_category());
        if (FAILED(hr)) return hr;
        m_layout.claimedBytes = claimed;
        m_known = claimed != 0 && claimed != 0xFFFFFFFF;
        m_left = m_known ? claimed : ~std::uint64_t{0};
        m_layout.dataBytes = m_known ? claimed - claimed % m_layout.stored.nBlockAlign : 0;
        return S_OK;
    });
}

HRESULT PcmReader::read(BYTE* to, std::size_t max, std::size_t& got) {
    const WAVEFORMATEX& stored = m_layout.stored;
    const std::size_t frame = stored.nBlockAlign, decodedFrame = m_layout.format.nBlockAlign;
    got = 0;
    if (frame == 0) return E_UNEXPECTED;
    const std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(m_left / frame, max / decodedFrame));
    if (frames == 0) return S_OK;
    // 8- and 16-bit PCM are given as they are; the rest is decoded.
    const bool asStored = stored.wFormatTag == WAVE_FORMAT_PCM && stored.wBitsPerSample <= 16;
    const std::size_t want = frames * frame;
    if (!asStored) m_stored.resize(want);
    BYTE* const into = asStored ? to : m_stored.data();
    std::size_t bytes = m_source->read(into, want);
    m_read += bytes;
    if (bytes < want) {
        // A file holds what its headers promise, so coming short there is a
        // fault, which its failed() tells; a stream ends, perhaps in a frame.
        if (m_source->failed()) {
            m_ioError = std::error_code(m_source->error(), std::generic_category());
            return E_KV_READ_FAULT;
        }
        m_left = 0;
        bytes -= bytes % frame;
    } else {
        m_left -= bytes;
    }
    if (asStored) {
        got = bytes;
        return S_OK;
    }
    const std::size_t samples = bytes / frame * stored.nChannels;
    // Through an aligned buffer, written out little-endian as the WAVE
    // samples are.
    m_decoded.resize(samples);
    decodeSamples(stored, m_stored.data(), samples, m_decoded.data());
    for (std::size_t i = 0; i < samples; ++i) {
        to[2 * i] = static_cast<BYTE>(m_decoded[i] & 0xFF);
        to[2 * i + 1] = static_cast<BYTE>((m_decoded[i] >> 8) & 0xFF);
    }
    got = samples * 2;
    return S_OK;
}

}  // namespace kv::components
