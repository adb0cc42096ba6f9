// kvdecode: decodes a stream our encoders made, or a peer's G.723.1 or G.722
// stream, to 16-bit mono PCM: a WAV file or raw samples. The codecs are
// linked in; no COM object is involved.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "codecs/StreamDecoder.h"
#include "components/WavHeader.h"
#include "tools/common/Console.h"
#include "tools/common/Tool.h"

const char kv::tools::kToolName[] = "kvdecode";

namespace {

using kv::codecs::StreamFormat;
using kv::tools::Failure;
using kv::tools::isStandard;
using kv::tools::kRunError;
using kv::tools::kUsageError;

const char kUsage[] =
    "usage: kvdecode -f FORMAT -i STREAM -o OUTPUT [--rate 16000|8000] [--no-postfilter]\n"
    "                [--lost LIST] [--bits 8|7|6]\n"
    "       kvdecode --version\n"
    "\n"
    "Decodes STREAM, a raw encoded stream as kvencode writes it, to 16-bit mono PCM.\n"
    "\n"
    "  -f, --format FORMAT  g711a   G.711 A-law, 1 byte per sample\n"
    "                       g711u   G.711 mu-law, 1 byte per sample\n"
    "                       quorvan Quorvan (G.722 low-band codes), 1 byte per sample\n"
    "                       g7231   G.723.1 frames of 24, 20, 4 or 1 bytes (6.3 and\n"
    "                               5.3 kbit/s, comfort noise), 240 samples each\n"
    "                       g722    G.722, one code word per byte, left-aligned as\n"
    "                               other software writes it; 2 samples per byte\n"
    "  -i, --input STREAM   the encoded stream, no header; - is standard input;\n"
    "                       never the same file as OUTPUT\n"
    "  -o, --output OUTPUT  NAME.wav: a WAV file; NAME.pcm or NAME.raw: 16-bit\n"
    "                       little-endian samples, no header; - is standard\n"
    "                       output, raw samples\n"
    "  --rate RATE          the rate a WAV file states: 16000 (the default: our\n"
    "                       encoders take 16 kHz samples as their 8 kHz input, so\n"
    "                       their streams decode to 16 kHz samples) or 8000 (a\n"
    "                       standard peer's 8 kHz stream); nothing is resampled.\n"
    "                       g722 is always 16000\n"
    "  --no-postfilter      g7231: decode without the postfilter\n"
    "  --lost LIST          g7231: frames lost in transport, to be concealed:\n"
    "                       0-based indices separated by commas, e.g. 3,4,17\n"
    "  --bits BITS          g722: bits per code word, 8 (64 kbit/s, the default),\n"
    "                       7 (56 kbit/s) or 6 (48 kbit/s)\n"
    "  -h, --help           this text\n"
    "  --version            the version\n"
    "\n"
    "The stream is read as it is decoded, so memory stays the same whatever its\n"
    "length; on a terminal, a progress line shows for streams longer than 5 s.\n"
    "\n"
    "Exit status: 0 decoded; 1 failed, and nothing was written (an existing\n"
    "OUTPUT stays as it was); 2 bad usage; 3 the stream ends inside a G.723.1\n"
    "frame: that frame is dropped, said on stderr, and all before it written.\n";

constexpr int kCutShort = 3;

struct Format {
    const char* name;
    StreamFormat format;
};

const Format kFormats[] = {
    {"g711a", StreamFormat::G711A}, {"g711u", StreamFormat::G711U}, {"quorvan", StreamFormat::Quorvan},
    {"g7231", StreamFormat::G7231}, {"g722", StreamFormat::G722},
};

struct Options : kv::tools::CommonOptions<Format> {
    bool wav = false;
    std::uint32_t rate = 16000;
    bool rateGiven = false;
    bool postFilter = true;
    std::vector<std::uint64_t> lost;  // ascending, each once
    bool lostGiven = false;
    int bits = 8;
    bool bitsGiven = false;
};

constexpr kv::tools::Option kOptions[] = {
    {nullptr, "--rate", true},
    {nullptr, "--bits", true},
    {nullptr, "--no-postfilter", false},
    {nullptr, "--lost", true},
};

std::optional<std::vector<std::uint64_t>> frameList(const std::string& text) {
    std::vector<std::uint64_t> frames;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::optional<std::uint64_t> index = kv::tools::decimal(text.substr(at, comma - at), ~0ull >> 1);
        if (!index) return std::nullopt;
        frames.push_back(*index);
        if (comma == text.size()) break;
        at = comma + 1;
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

bool endsWith(std::string name, const char* suffix) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string s(suffix);
    return name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
}

std::optional<Failure> parse(const std::vector<std::string>& args, Options& o) {
    const auto take = [&](const std::string& name, const std::string& value) -> std::optional<Failure> {
        if (name == "--rate") {
            const std::optional<std::uint64_t> rate = kv::tools::decimal(value, 16000);
            if (rate != 16000u && rate != 8000u)
                return Failure{"bad --rate '" + value + "': 16000 or 8000", kUsageError};
            o.rate = static_cast<std::uint32_t>(*rate);
            o.rateGiven = true;
        } else if (name == "--bits") {
            const std::optional<std::uint64_t> bits = kv::tools::decimal(value, 8);
            if (!bits || *bits < 6) return Failure{"bad --bits '" + value + "': 8, 7 or 6", kUsageError};
            o.bits = static_cast<int>(*bits);
            o.bitsGiven = true;
        } else if (name == "--lost") {
            std::optional<std::vector<std::uint64_t>> lost = frameList(value);
            if (!lost)
                return Failure{"bad --lost '" + value + "': frame indices from 0, separated by commas", kUsageError};
            o.lost = std::move(*lost);
            o.lostGiven = true;
        } else {
            o.postFilter = false;
        }
        return std::nullopt;
    };
    if (std::optional<Failure> f = kv::tools::parseOptions(args, kFormats, kOptions, "STREAM", o, take)) return f;
    if (o.help || o.version) return std::nullopt;
    const StreamFormat format = o.format->format;
    if (o.bitsGiven && format != StreamFormat::G722)
        return Failure{"--bits is for g722, not " + std::string(o.format->name), kUsageError};
    if (format != StreamFormat::G7231 && (o.lostGiven || !o.postFilter))
        return Failure{std::string(o.lostGiven ? "--lost" : "--no-postfilter") + " is for g7231, not " + o.format->name,
                       kUsageError};
    if (format == StreamFormat::G722 && o.rate != 16000)
        return Failure{"g722 decodes to 16000 Hz; --rate " + std::to_string(o.rate) + " does not apply", kUsageError};
    o.wav = endsWith(o.output, ".wav");
    if (!o.wav && !isStandard(o.output) && !endsWith(o.output, ".pcm") && !endsWith(o.output, ".raw"))
        return Failure{"OUTPUT " + o.output + " must be named .wav, .pcm or .raw, or be -", kUsageError};
    return std::nullopt;
}

// Input bytes per second of audio, for the progress line; a G.723.1
// stream is taken at 6.3 kbit/s, its usual rate.
std::uint64_t bytesPerSecond(const Options& o) {
    switch (o.format->format) {
        case StreamFormat::G722:
            return 8000;
        case StreamFormat::G7231:
            return o.rate / 10;
        default:
            return o.rate;
    }
}

std::optional<Failure> openInput(const std::string& name, std::FILE*& file, std::uint64_t& size) {
    size = 0;
    if (isStandard(name)) {
        file = stdin;
        return std::nullopt;
    }
    const std::filesystem::path path = kv::tools::pathOf(name);
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    const auto refused = [&](int error) {
        return Failure{"cannot read " + name + ": " + kv::tools::errnoText(error), kRunError};
    };
    if (!std::filesystem::exists(status)) return refused(ENOENT);
    if (std::filesystem::is_directory(status)) return refused(EISDIR);
    errno = 0;
    file = kv::tools::openForReading(path);
    if (!file) return refused(errno);
    size = std::filesystem::file_size(path, ec);
    if (ec) size = 0;
    return std::nullopt;
}

// Takes the decoded samples into the output, and marks the frames of the
// lost list as the decoder comes to them.
class Writer : public kv::codecs::PcmOutput {
public:
    Writer(kv::tools::OutputFile& output, kv::codecs::CStreamDecoder& decoder, const std::vector<std::uint64_t>& lost)
        : m_output(output), m_decoder(decoder), m_lost(lost) {
        markNext();
    }

    void pcm(const std::int16_t* samples, int count) override {
        // The samples are written as they lie in memory: s16le.
        static_assert(std::endian::native == std::endian::little);
        m_output.write(samples, static_cast<std::size_t>(count) * 2);
        m_samples += static_cast<std::uint64_t>(count);
        markNext();
    }

    std::uint64_t samples() const { return m_samples; }

private:
    // A G.723.1 frame's samples come in one call: after it, frames() is the
    // index of the frame to come.
    void markNext() {
        if (m_next < m_lost.size() && m_lost[m_next] == m_decoder.frames()) {
            m_decoder.frameLost();
            ++m_next;
        }
    }

    kv::tools::OutputFile& m_output;
    kv::codecs::CStreamDecoder& m_decoder;
    const std::vector<std::uint64_t>& m_lost;
    std::size_t m_next = 0;
    std::uint64_t m_samples = 0;
};

}  // namespace

int main(int argc, char** argv) {
    using kv::tools::fail;
    Options o;
    if (std::optional<int> status = kv::tools::start(argc, argv, kUsage, o, &parse)) return *status;
    std::FILE* input = nullptr;
    std::uint64_t inputSize = 0;
    if (std::optional<Failure> f = openInput(o.input, input, inputSize)) return fail(*f);
    kv::tools::OutputFile output;
    if (std::optional<Failure> f = output.open(o.output)) {
        if (input != stdin) std::fclose(input);
        return fail(*f);
    }

    if (o.wav) output.write(kv::components::wavHeader(o.rate, 0).data(), kv::components::kWavHeaderBytes);
    kv::codecs::CStreamDecoder decoder(o.format->format, o.bits, kv::codecs::G722Alignment::Left);
    decoder.setPostFilter(o.postFilter);
    Writer writer(output, decoder, o.lost);
    kv::tools::ProgressLine progress(inputSize, bytesPerSecond(o), kv::tools::stderrIsTerminal());
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), input)) != 0;) {
        decoder.decode(buffer.data(), n, writer);
        progress.update(decoder.bytesTaken());
    }
    progress.clear();
    const bool readFailed = std::ferror(input) != 0;
    const int readError = errno;  // of the read that failed: the last call
    if (input != stdin) std::fclose(input);
    if (readFailed)
        return fail({"cannot read " + (isStandard(o.input) ? "standard input" : o.input) + ": " +
                         kv::tools::errnoText(readError),
                     kRunError});

    const std::size_t dropped = decoder.flush();
    if (!o.lost.empty() && o.lost.back() >= decoder.frames())
        kv::tools::warn("--lost names frame " + std::to_string(o.lost.back()) + ", but the stream has " +
                        std::to_string(decoder.frames()) + " frames");
    if (o.wav) {
        const std::uint64_t dataBytes = 2 * writer.samples();
        if (dataBytes > 0xFFFFFFFFu - kv::components::kWavHeaderBytes)
            return fail({"the samples are more than a WAV file can hold; write .pcm instead", kRunError});
        output.writeAt(0, kv::components::wavHeader(o.rate, static_cast<std::uint32_t>(dataBytes)).data(),
                       kv::components::kWavHeaderBytes);
    }
    if (std::optional<Failure> f = output.commit()) return fail(*f);
    if (dropped != 0)
        return fail({(isStandard(o.input) ? "standard input" : o.input) + " ends " + std::to_string(dropped) +
                         " byte(s) into a G.723.1 frame: that frame is dropped, all before it written",
                     kCutShort});
    return 0;
}
