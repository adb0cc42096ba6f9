// kvencode: encodes a PCM file through the encoder objects, the way a host
// application drives them: the capture component plays the file into the
// encoder it is connected to, and a file sink keeps what comes out.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "components/AudioRecorder.h"
#include "components/Components.h"
#include "components/PcmFile.h"
#include "components/Sinks.h"
#include "interfaces/Interfaces.h"
#include "tools/kvencode/SameFile.h"
#include "tools/kvencode/Server.h"

namespace {

using kv::com::ComPtr;
namespace kc = kv::components;

const char kUsage[] =
    "usage: kvencode -f FORMAT -i INPUT -o OUTPUT [--chunk BYTES]\n"
    "\n"
    "Encodes INPUT through the KvAudioEncoder objects and writes the raw encoded\n"
    "stream to OUTPUT.\n"
    "\n"
    "  -f, --format FORMAT  g711a   G.711 A-law, 1 byte per sample\n"
    "                       g711u   G.711 mu-law, 1 byte per sample\n"
    "                       quorvan Quorvan (G.722 low-band codes), 1 byte per sample\n"
    "                       g7231   G.723.1 6.3 kbit/s, 24 bytes per 240 samples\n"
    "  -i, --input INPUT    a PCM WAV file (4000 to 384000 Hz, mono or stereo,\n"
    "                       8 or 16 bit; converted to 16 kHz mono 16-bit), or a\n"
    "                       .pcm/.raw file of 16-bit little-endian mono samples\n"
    "                       at 16 kHz; never the same file as OUTPUT\n"
    "  -o, --output OUTPUT  the encoded stream, no header\n"
    "  --chunk BYTES        bytes of PCM per capture call: default 640 (20 ms),\n"
    "                       480 (one frame) for g7231. The G.723.1 encoder codes\n"
    "                       one frame per piece it takes and may keep whole frames\n"
    "                       held at the end, so with a larger chunk its output is\n"
    "                       a prefix of the same stream\n"
    "  -h, --help           this text\n";

struct Format {
    const char* name;
    const CLSID* clsid;
    LONG defaultChunk;
};

const Format kFormats[] = {
    {"g711a", &CLSID_KV_AudioG711A, 640},
    {"g711u", &CLSID_KV_AudioG711U, 640},
    {"quorvan", &CLSID_KV_AudioQuorvan, 640},
    {"g7231", &CLSID_KV_AudioG7231, 480},
};

struct Options {
    const Format* format = nullptr;
    std::string input;
    std::string output;
    LONG chunk = 0;
    bool help = false;
};

// A failure reported as one line on stderr, and the exit status for it.
struct Failure {
    std::string message;
    int status;
};

int fail(const Failure& f) {
    std::fprintf(stderr, "kvencode: %s\n", f.message.c_str());
    return f.status;
}

constexpr int kUsageError = 2;
constexpr int kRunError = 1;

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
    return text;
}

std::optional<LONG> chunkValue(const char* text) {
    long long v = 0;
    if (!*text) return std::nullopt;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        v = v * 10 + (*p - '0');
        if (v > 0x7FFFFFFF) return std::nullopt;
    }
    if (v == 0) return std::nullopt;
    return static_cast<LONG>(v);
}

std::optional<Failure> parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            o.help = true;
            return std::nullopt;
        }
        const bool takesValue = arg == "-f" || arg == "--format" || arg == "-i" || arg == "--input" || arg == "-o" ||
                                arg == "--output" || arg == "--chunk";
        if (!takesValue)
            return Failure{arg.size() > 1 && arg[0] == '-' ? "unknown option " + arg + " (see --help)"
                                                           : "unexpected argument " + arg + " (see --help)",
                           kUsageError};
        if (i + 1 >= argc) return Failure{arg + " needs a value (see --help)", kUsageError};
        const char* value = argv[++i];
        if (arg == "-f" || arg == "--format") {
            o.format = nullptr;
            for (const Format& f : kFormats)
                if (std::strcmp(f.name, value) == 0) o.format = &f;
            if (!o.format)
                return Failure{std::string("unknown format '") + value + "' (g711a, g711u, quorvan or g7231)",
                               kUsageError};
        } else if (arg == "-i" || arg == "--input") {
            o.input = value;
        } else if (arg == "-o" || arg == "--output") {
            o.output = value;
        } else {
            const std::optional<LONG> chunk = chunkValue(value);
            if (!chunk)
                return Failure{std::string("bad --chunk '") + value + "': need 1 to 2147483647 bytes", kUsageError};
            o.chunk = *chunk;
        }
    }
    if (!o.format) return Failure{"missing -f FORMAT (see --help)", kUsageError};
    if (o.input.empty()) return Failure{"missing -i INPUT (see --help)", kUsageError};
    if (o.output.empty()) return Failure{"missing -o OUTPUT (see --help)", kUsageError};
    if (o.chunk == 0) o.chunk = o.format->defaultChunk;
    return std::nullopt;
}

std::string captureMessage(HRESULT hr, const std::string& input) {
    if (hr == kc::E_KV_FILE_NOT_FOUND) return "cannot read " + input + ": no such file";
    if (hr == E_ACCESSDENIED) return "cannot read " + input + ": cannot open it";
    if (hr == kc::E_KV_READ_FAULT) return "cannot read " + input + ": read error";
    if (hr == kc::E_KV_NOT_WAVE) return input + " is not a WAV file (raw 16-bit input must be named .pcm or .raw)";
    if (hr == kc::E_KV_NOT_PCM) return input + " is a WAV file but its samples are not PCM";
    if (hr == kc::E_KV_UNSUPPORTED) return input + ": a layout or a size this tool does not take";
    if (hr == kc::E_KV_CONVERSION) return input + ": cannot convert its format to 16 kHz mono 16-bit";
    if (hr == E_OUTOFMEMORY) return input + " is too large to encode here";
    if (hr == S_FALSE) return "the encoder did not connect to the capture component";
    return "capturing " + input + " failed (" + hex(hr) + ")";
}

// What the input holds, looked at before anything is opened for writing, so
// that a file the tool cannot take leaves no output behind, not even an
// empty one. The capture component reads it the same way afterwards.
std::optional<Failure> checkInput(const Options& o) {
    // The capture format the encoders ask for: raw input is taken at it.
    WAVEFORMATEX capture{};
    capture.wFormatTag = WAVE_FORMAT_PCM;
    capture.nChannels = 1;
    capture.nSamplesPerSec = 16000;
    capture.wBitsPerSample = 16;
    capture.nBlockAlign = 2;
    capture.nAvgBytesPerSec = 32000;

    const std::filesystem::path input(o.input);
    kc::PcmLayout layout;
    const HRESULT hr = kc::inspectPcmFile(input, capture.nSamplesPerSec, layout);
    if (FAILED(hr))
        return Failure{layout.problem.empty() ? captureMessage(hr, o.input) : o.input + ": " + layout.problem,
                       kRunError};
    const std::string limit = ", more than the " + std::to_string(kc::kMaxPcmBytes) + " bytes this tool takes";
    if (layout.dataBytes > kc::kMaxPcmBytes)
        return Failure{o.input + ": " + std::to_string(layout.dataBytes) + " bytes of samples" + limit, kRunError};
    // Counted in 64 bits: a low rate or a long file must not wrap it.
    const std::uint64_t converted = kc::convertedBytes(layout.format, capture, layout.dataBytes);
    if (converted > kc::kMaxPcmBytes)
        return Failure{o.input + ": its " + std::to_string(layout.dataBytes) + " bytes of samples at " +
                           std::to_string(layout.format.nSamplesPerSec) + " Hz become up to " +
                           std::to_string(converted) + " bytes at 16 kHz" + limit,
                       kRunError};

    // Taken, but not all of it: said, not hidden.
    if (layout.presentBytes < layout.claimedBytes)
        std::fprintf(stderr,
                     "kvencode: warning: %s: the data chunk claims %llu bytes but the file holds %llu; "
                     "encoding those (was the recording finished?)\n",
                     o.input.c_str(), static_cast<unsigned long long>(layout.claimedBytes),
                     static_cast<unsigned long long>(layout.presentBytes));
    if (const std::uint64_t rest = layout.presentBytes - layout.dataBytes; rest != 0)
        std::fprintf(stderr, "kvencode: warning: %s: the last %llu byte(s) are not a whole %s and are left out\n",
                     o.input.c_str(), static_cast<unsigned long long>(rest),
                     layout.format.nBlockAlign == 2 && layout.format.nChannels == 1 ? "sample" : "sample frame");
    return std::nullopt;
}

kc::OleString oleString(const std::filesystem::path& path) {
    const std::u16string units = path.u16string();
    return kc::OleString(units.begin(), units.end());
}

// The encoder's side of things: COM, the server, the objects. The output
// file is already open in `sink`. The encoder is released before the server
// goes, and everything before the caller uninitialises COM.
std::optional<Failure> encode(const Options& o, const ComPtr<kc::CKvFileSink>& sink) {
    kc::ComponentRegistration components;
    if (FAILED(components.status()))
        return Failure{"cannot register the capture components (" + hex(components.status()) + ")", kRunError};
    kv::tools::EncoderServer server;
    if (FAILED(server.status()))
        return Failure{"cannot register the encoder classes (" + hex(server.status()) + ")", kRunError};

    // The recorder is entered in the registry before the encoder looks for
    // one, so that the file plays into the recorder the encoder listens to.
    ComPtr<IKvAudioRecorder> recorder;
    ComPtr<IKvObjectRegistry> registry;
    HRESULT hr = CoCreateInstance(kc::CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioRecorder,
                                  recorder.put_void());
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kc::CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER, IID_IKvObjectRegistry,
                              registry.put_void());
    if (SUCCEEDED(hr)) hr = registry->AddObject(kc::kRecorderName, recorder.get());
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
        const kc::OleString input = oleString(std::filesystem::path(o.input));
        hr = recorder->CaptureFile(input.c_str(), o.chunk);
        if (hr != S_OK) failure = Failure{captureMessage(hr, o.input), kRunError};
        encoder->RemoveSink(static_cast<IKvAudioSink*>(sink.get()));
    }
    encoder.reset();
    BSTR name = SysAllocString(kc::kRecorderName);
    registry->RemoveObject(name);
    SysFreeString(name);
    return failure;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (std::optional<Failure> f = parse(argc, argv, options)) return fail(*f);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // Opening the output for writing empties it: were it the input, the input
    // would be gone before it was read. Identity, not spelling, decides.
    const std::filesystem::path output(options.output);
    if (kv::tools::sameFile(options.input, output))
        return fail(
            {options.input + " and " + options.output + " are the same file; the output would destroy the input",
             kUsageError});
    if (std::optional<Failure> f = checkInput(options)) return fail(*f);

    ComPtr<kc::CKvFileSink> sink = kv::com::make<kc::CKvFileSink>();
    if (!sink) return fail({"out of memory", kRunError});
    if (FAILED(sink->open(output))) return fail({"cannot write " + options.output, kRunError});

    std::optional<Failure> failure;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(init)) {
        failure = Failure{"cannot initialise COM (" + hex(init) + ")", kRunError};
    } else {
        failure = encode(options, sink);
        CoUninitialize();
    }
    const HRESULT closed = sink->close();
    if (!failure && FAILED(closed)) failure = Failure{"writing " + options.output + " failed", kRunError};
    if (failure) {
        // What was written is not the encoding of the input; leave nothing.
        sink.reset();
        std::error_code ec;
        std::filesystem::remove(output, ec);
        return fail(*failure);
    }
    return 0;
}
