// kvencode: encodes a PCM file through the encoder objects, the way a host
// application drives them: the capture component plays the file into the
// encoder it is connected to, and a file sink keeps what comes out.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "components/AudioRecorder.h"
#include "components/Components.h"
#include "components/PcmFile.h"
#include "components/WavHeader.h"
#include "com/NoTypeInfo.h"
#include "interfaces/Interfaces.h"
#include "tools/common/Console.h"
#include "tools/common/Tool.h"
#include "tools/kvencode/Server.h"

const char kv::tools::kToolName[] = "kvencode";

namespace {

using kv::com::ComPtr;
using kv::tools::Failure;
using kv::tools::isStandard;
using kv::tools::kRunError;
using kv::tools::kUsageError;
namespace kc = kv::components;

const char kUsage[] =
    "usage: kvencode -f FORMAT -i INPUT -o OUTPUT [--chunk BYTES] [--no-flush] [--raw] [--rate HZ]\n"
    "       kvencode --version\n"
    "\n"
    "Encodes INPUT through the KvAudioEncoder objects and writes the encoded\n"
    "stream to OUTPUT.\n"
    "\n"
    "  -f, --format FORMAT  g711a   G.711 A-law, 1 byte per sample\n"
    "                       g711u   G.711 mu-law, 1 byte per sample\n"
    "                       quorvan Quorvan (G.722 low-band codes), 1 byte per sample\n"
    "                       g7231   G.723.1 6.3 kbit/s, 24 bytes per 240 samples\n"
    "                       in any case, or as the ProgID (KvAudioEncoder.KV_AudioG711A)\n"
    "  -i, --input INPUT    a WAV file (RIFF or RF64) of PCM at 8 (unsigned), 16,\n"
    "                       24 or 32 bits, IEEE float at 32 or 64 bits, A-law or\n"
    "                       mu-law, plain or WAVE_FORMAT_EXTENSIBLE, 4000 to\n"
    "                       384000 Hz, any number of channels; converted to 16 kHz\n"
    "                       mono 16-bit: wider samples rounded to nearest, floats\n"
    "                       clamped, the channels averaged, the rate band-limited.\n"
    "                       A data size of 0 or past the end of the file reads to\n"
    "                       its end, with a warning. Or a\n"
    "                       .pcm/.raw file of 16-bit little-endian mono samples\n"
    "                       at 16 kHz; - is standard input, a WAV stream (a data\n"
    "                       size of 0 or 0xFFFFFFFF runs to its end) unless --raw;\n"
    "                       never the same file as OUTPUT\n"
    "  -o, --output OUTPUT  the encoded stream, no header; - is standard output.\n"
    "                       A name ending in .wav (any case) gets a WAV container\n"
    "                       that players and FFmpeg open: G.711 at either rate,\n"
    "                       G.723.1 at --rate 8000; Quorvan has none\n"
    "  --rate HZ            the rate the input is coded at: 16000 (default, the\n"
    "                       encoders' capture rate; only kvdecode plays these\n"
    "                       streams at the right speed) or 8000, the rate of\n"
    "                       standard G.711, G.723.1 and G.722 peers (Quorvan at\n"
    "                       8000 is a 64 kbit/s G.722 stream of 16 kHz audio)\n"
    "  --chunk BYTES        bytes of PCM per capture call: default 640 (20 ms),\n"
    "                       480 (one frame) for g7231\n"
    "  --no-flush           the bare object stream: what the encoder still holds at\n"
    "                       the end stays there (a partial block, and G.723.1\n"
    "                       frames with a larger chunk; the output is then a\n"
    "                       prefix of the same stream). By default the encoder is\n"
    "                       flushed: G.711 and Quorvan end with the input's last\n"
    "                       sample, G.723.1 with its last frame padded with silence\n"
    "  --raw                standard input is 16-bit little-endian mono samples at\n"
    "                       16 kHz, not a WAV stream\n"
    "  -h, --help           this text\n"
    "  --version            the version\n"
    "\n"
    "The input is read as it is encoded, so memory stays the same whatever its\n"
    "length; on a terminal, a progress line shows for inputs longer than 5 s.\n";

// How a WAV file names a stream: its format tag, and its bytes and samples
// per block of code (tag 0: no container).
struct Container {
    std::uint16_t tag;
    std::uint16_t blockBytes;
    std::uint16_t blockSamples;
    std::uint16_t bits;
};

struct Format {
    const char* name;
    const CLSID* clsid;
    LONG defaultChunk;
    Container wav;
};

// G.723.1 as Microsoft's G.723 tag, which is what FFmpeg opens as G.723.1.
const Format kFormats[] = {
    {"g711a", &CLSID_KV_AudioG711A, 640, {6, 1, 1, 8}},
    {"g711u", &CLSID_KV_AudioG711U, 640, {7, 1, 1, 8}},
    {"quorvan", &CLSID_KV_AudioQuorvan, 640, {0, 0, 0, 0}},
    {"g7231", &CLSID_KV_AudioG7231, 480, {0x0042, 24, 240, 0}},
};

// The capture format the encoders ask for: raw input is taken at it, and it
// is the default coding rate.
constexpr DWORD kCaptureRate = 16000;
// The rate standard peers decode G.711 and G.723.1 at.
constexpr DWORD kStandardRate = 8000;

struct Options : kv::tools::CommonOptions<Format> {
    LONG chunk = 0;
    bool flush = true;
    bool raw = false;
    DWORD rate = kCaptureRate;
    bool wav = false;  // a WAV container around the stream
};

std::string shown(const std::string& name) { return isStandard(name) ? "standard input" : name; }

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    return text;
}

constexpr kv::tools::Option kOptions[] = {
    {nullptr, "--chunk", true},
    {nullptr, "--rate", true},
    {nullptr, "--no-flush", false},
    {nullptr, "--raw", false},
};

std::optional<Failure> parse(const std::vector<std::string>& args, Options& o) {
    const auto take = [&](const std::string& name, const std::string& value) -> std::optional<Failure> {
        if (name == "--chunk") {
            const std::optional<std::uint64_t> chunk = kv::tools::decimal(value, 0x7FFFFFFF);
            if (!chunk || *chunk == 0)
                return Failure{"bad --chunk '" + value + "': need 1 to 2147483647 bytes", kUsageError};
            o.chunk = static_cast<LONG>(*chunk);
        } else if (name == "--rate") {
            if (value != "16000" && value != "8000")
                return Failure{"bad --rate '" + value + "': 16000 (the capture rate) or 8000 (standard peers)",
                               kUsageError};
            o.rate = value == "8000" ? kStandardRate : kCaptureRate;
        } else {
            (name == "--raw" ? o.raw : o.flush) = name == "--raw";
        }
        return std::nullopt;
    };
    if (std::optional<Failure> f = kv::tools::parseOptions(args, kFormats, kOptions, "INPUT", o, take)) return f;
    if (o.help || o.version) return std::nullopt;
    if (o.chunk == 0) o.chunk = o.format->defaultChunk;
    if (o.raw && !isStandard(o.input))
        return Failure{"--raw is for standard input; a raw file is named .pcm or .raw", kUsageError};
    // Read in the UTF-8 spelling: any name converts to it.
    std::string ending = o.output.substr(o.output.size() - std::min<std::size_t>(o.output.size(), 4));
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    o.wav = ending == ".wav";
    if (o.wav && o.format->wav.tag == 0)
        return Failure{
            "the Quorvan stream has no WAV container; name the output otherwise (e.g. .g722) for the raw "
            "stream",
            kUsageError};
    if (o.wav && o.format->wav.blockSamples > 1 && o.rate != kStandardRate)
        return Failure{"G.723.1 is an 8 kHz codec: its WAV container needs --rate 8000", kUsageError};
    return std::nullopt;
}

std::string captureMessage(HRESULT hr, const std::string& name, const kc::PcmReader& reader) {
    const std::string input = shown(name);
    if (hr == kc::E_KV_FILE_NOT_FOUND || hr == kc::E_KV_PATH_NOT_FOUND || hr == E_ACCESSDENIED ||
        hr == kc::E_KV_READ_FAULT)
        return "cannot read " + input + ": " + kv::tools::errnoText(reader.ioError().value());
    if (hr == kc::E_KV_NOT_WAVE) return input + " is not a WAV file (raw 16-bit input must be named .pcm or .raw)";
    if (hr == kc::E_KV_NOT_PCM)
        return input + " is a WAV file but its samples are in a format this tool does not decode";
    if (hr == kc::E_KV_UNSUPPORTED) return input + ": a layout or a size this tool does not take";
    if (hr == kc::E_KV_CONVERSION) return input + ": cannot convert its format to 16 kHz mono 16-bit";
    if (hr == E_OUTOFMEMORY) return input + " is too large to encode here";
    if (hr == kc::E_KV_NO_TARGET) return "the encoder did not connect to the capture component";
    return "capturing " + input + " failed (" + hex(hr) + ")";
}

// Opens the input and reads its headers before anything is opened for
// writing, so that an input the tool cannot take leaves no output behind,
// not even an empty one.
std::optional<Failure> openInput(const Options& o, kc::PcmReader& reader) {
    const HRESULT hr = isStandard(o.input) ? reader.open(stdin, o.raw, kCaptureRate)
                                           : reader.open(kv::tools::pathOf(o.input), kCaptureRate);
    const kc::PcmLayout& layout = reader.layout();
    if (FAILED(hr))
        return Failure{
            layout.problem.empty() ? captureMessage(hr, o.input, reader) : shown(o.input) + ": " + layout.problem,
            kRunError};
    // Taken, but not all of it: said, not hidden. A stream's end is not
    // known before it comes.
    if (isStandard(o.input)) return std::nullopt;
    if (layout.claimedBytes == 0 && layout.presentBytes != 0)
        kv::tools::warn(o.input + ": the data chunk claims 0 bytes but " + std::to_string(layout.presentBytes) +
                        " follow it; encoding those to the end of the file (was the recording finished?)");
    if (layout.presentBytes < layout.claimedBytes)
        kv::tools::warn(o.input + ": the data chunk claims " + std::to_string(layout.claimedBytes) +
                        " bytes but the file holds " + std::to_string(layout.presentBytes) +
                        "; encoding those (was the recording finished?)");
    if (const std::uint64_t rest = layout.presentBytes - layout.dataBytes; rest != 0 && layout.presentBytes != 0)
        kv::tools::warn(o.input + ": the last " + std::to_string(rest) + " byte(s) are not a whole " +
                        (layout.stored.nBlockAlign == 2 && layout.stored.nChannels == 1 ? "sample" : "sample frame") +
                        " and are left out");
    return std::nullopt;
}

// A stream's end comes only after it is read: what its header claimed is
// judged then, as a file's is before.
void warnOfStreamEnd(const Options& o, const kc::PcmReader& reader) {
    const std::uint64_t claimed = reader.layout().claimedBytes, read = reader.bytesRead();
    if (!isStandard(o.input) || o.raw || read == claimed) return;
    if (claimed == 0)
        kv::tools::warn("standard input: the data chunk claims 0 bytes but " + std::to_string(read) +
                        " follow it; encoding those to the end of the input (was the recording finished?)");
    else if (read < claimed && claimed != 0xFFFFFFFF)
        kv::tools::warn("standard input: the data chunk claims " + std::to_string(claimed) +
                        " bytes but the input holds " + std::to_string(read) + "; encoding those");
}

// Where the encoded stream goes: the output, counted in 64 bits. A failed
// write is sticky in the output; the encoder ignores what sinks return.
class OutputSink
    : public kv::com::implements<OutputSink, kc::NoTypeInfo<IKvAudioSink>, kv::com::alias<IDispatch, IKvAudioSink>> {
public:
    void attach(kv::tools::OutputFile& output) { m_output = &output; }
    // Hands on what is gathered.
    void close() { drain(); }
    std::uint64_t written() const { return m_written; }

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<LONG>(m_written);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override {
        if (length < 0 || (!data && length > 0)) return E_INVALIDARG;
        if (length == 0) return S_OK;
        const auto n = static_cast<std::size_t>(length);
        // A block is a few hundred bytes at most: gathered here, the file sees
        // one write per buffer instead of one per block.
        if (n <= kBuffer - m_used) {
            std::memcpy(m_buffer + m_used, data, n);
            m_used += n;
        } else {
            drain();
            write(data, n);
        }
        m_written += n;
        return S_OK;
    }

private:
    static constexpr std::size_t kBuffer = 32 * 1024;

    void write(const BYTE* data, std::size_t n) { m_output->write(data, n); }
    void drain() {
        if (m_used) write(m_buffer, m_used);
        m_used = 0;
    }

    BYTE m_buffer[kBuffer];
    std::size_t m_used = 0;
    kv::tools::OutputFile* m_output = nullptr;
    std::uint64_t m_written = 0;
};

// The encoder's side of things: COM, the server, the objects. The input is
// open in `reader` and the output in `sink`. The encoder is released before
// the server goes, and everything before the caller uninitialises COM.
std::optional<Failure> encode(const Options& o, kc::PcmReader& reader, const ComPtr<OutputSink>& sink) {
    kc::ComponentRegistration components;
    if (FAILED(components.status()))
        return Failure{"cannot register the capture components (" + hex(components.status()) + ")", kRunError};
    kv::tools::EncoderServer server;
    if (FAILED(server.status()))
        return Failure{"cannot register the encoder classes (" + hex(server.status()) + ")", kRunError};

    // The recorder is entered in the registry before the encoder looks for
    // one, so that the input plays into the recorder the encoder listens to.
    ComPtr<kc::CKvAudioRecorder> recorder = kv::com::make<kc::CKvAudioRecorder>();
    ComPtr<IKvObjectRegistry> registry;
    HRESULT hr = recorder ? S_OK : E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kc::CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER, IID_IKvObjectRegistry,
                              registry.put_void());
    if (SUCCEEDED(hr)) hr = registry->AddObject(kc::kRecorderName, static_cast<IKvAudioRecorder*>(recorder.get()));
    if (FAILED(hr)) return Failure{"cannot set up the capture component (" + hex(hr) + ")", kRunError};

    std::optional<Failure> failure;
    ComPtr<IKvAudioEncoder> encoder;
    std::string note;
    hr = server.createEncoder(*o.format->clsid, encoder.put(), note);
    if (!note.empty()) std::fprintf(stderr, "kvencode: %s\n", note.c_str());
    if (FAILED(hr))
        failure = Failure{std::string("cannot create the ") + o.format->name + " encoder (" + hex(hr) + ")", kRunError};
    if (!failure) {
        hr = encoder->AddSink(static_cast<IKvAudioSink*>(sink.get()));
        if (FAILED(hr)) failure = Failure{"the encoder refused the output sink (" + hex(hr) + ")", kRunError};
    }
    if (!failure) {
        const kc::PcmLayout& layout = reader.layout();
        // Counted in what the reader gives, its samples decoded.
        const std::uint64_t total = layout.dataBytes / layout.stored.nBlockAlign * layout.format.nBlockAlign;
        kv::tools::ProgressLine progress(reader.lengthKnown() ? total : 0, layout.format.nAvgBytesPerSec,
                                         kv::tools::stderrIsTerminal());
        // The recorder flushes the encoder at the end: what it holds comes out.
        hr = recorder->capture(
            reader, o.chunk, [&](std::uint64_t done) { progress.update(done); }, o.flush, o.rate);
        progress.clear();
        if (hr != S_OK) failure = Failure{captureMessage(hr, o.input, reader), kRunError};
        if (!failure) warnOfStreamEnd(o, reader);
        encoder->RemoveSink(static_cast<IKvAudioSink*>(sink.get()));
    }
    encoder.reset();
    BSTR name = SysAllocString(kc::kRecorderName);
    registry->RemoveObject(name);
    SysFreeString(name);
    return failure;
}

// The container's header for `dataBytes` of code.
std::vector<std::uint8_t> containerHeader(const Options& o, std::uint32_t dataBytes) {
    const Container& c = o.format->wav;
    const kc::WavFormat format{c.tag, 1, o.rate, o.rate * c.blockBytes / c.blockSamples, c.blockBytes, c.bits};
    return kc::wavHeader(format, dataBytes, dataBytes / c.blockBytes * c.blockSamples);
}

// The sizes go in once the stream is complete; RIFF counts them in 32 bits.
std::optional<Failure> finishContainer(const Options& o, kv::tools::OutputFile& output, std::uint64_t dataBytes) {
    const std::size_t headerBytes = containerHeader(o, 0).size();
    if (dataBytes + headerBytes + 1 > 0xFFFFFFFFu)
        return Failure{o.output + ": the stream is too long for a WAV file (4 GiB); write it raw", kRunError};
    const std::uint8_t pad = 0;  // RIFF's, after an odd length
    if (dataBytes & 1) output.write(&pad, 1);
    const std::vector<std::uint8_t> header = containerHeader(o, static_cast<std::uint32_t>(dataBytes));
    output.writeAt(0, header.data(), header.size());
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using kv::tools::fail;
    Options options;
    if (std::optional<int> status = kv::tools::start(argc, argv, kUsage, options, &parse)) return *status;
    kc::PcmReader reader;
    if (std::optional<Failure> f = openInput(options, reader)) return fail(*f);

    ComPtr<OutputSink> sink = kv::com::make<OutputSink>();
    if (!sink) return fail({"out of memory", kRunError});
    kv::tools::OutputFile output;
    if (std::optional<Failure> f = output.open(options.output)) return fail(*f);
    if (options.wav) {
        const std::vector<std::uint8_t> header = containerHeader(options, 0);
        output.write(header.data(), header.size());
    }
    sink->attach(output);

    std::optional<Failure> failure;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init)) {
        failure = Failure{"cannot initialise COM (" + hex(init) + ")", kRunError};
    } else {
        failure = encode(options, reader, sink);
        CoUninitialize();
    }
    sink->close();
    if (!failure && options.wav) failure = finishContainer(options, output, sink->written());
    if (!failure) failure = output.commit();
    // Otherwise what was written is not the encoding of the input: the
    // output drops it, and a file of that name stays as it was.
    if (failure) return fail(*failure);
    return 0;
}
