// kvencode end to end: the program as built, run with arguments, judged by
// its exit status, its stderr and the bytes it writes. Expectations come from
// outside the encoder: the G.711 laws written out in the test, and the
// G.723.1 reference vectors. The win32 test prefix has the encoder classes
// unregistered, so there the tool runs on the KvAudioEncoder.dll beside it
// and says so first on stderr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "components/WavHeader.h"
#include "tests/tools/g711_reference.h"
#include "tests/tools/tool_server.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

Bytes text(const std::string& t) { return Bytes(t.begin(), t.end()); }

// A path as the tool's UTF-8 command line spells it.
std::string utf8(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One RIFF chunk with its pad byte; `declared` overrides the size field.
Bytes chunk(const char id[5], const Bytes& body, std::int64_t declared = -1) {
    Bytes b = text(std::string(id, 4));
    put32(b, static_cast<std::uint32_t>(declared < 0 ? static_cast<std::int64_t>(body.size()) : declared));
    b = b + body;
    if (body.size() & 1) b.push_back(0);
    return b;
}

// A format chunk's body; `align` overrides the block alignment.
Bytes fmtBody(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits, int align = -1) {
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, align < 0 ? channels * bits / 8 : static_cast<unsigned>(align));
    put16(b, bits);
    return b;
}

// WAVE_FORMAT_EXTENSIBLE, mono, whose sub-format GUID starts with `subtype`
// (1 PCM, 3 IEEE float) and goes on as every KSDATAFORMAT_SUBTYPE_* does.
Bytes extensibleBody(std::uint32_t rate, unsigned bits, std::uint32_t subtype) {
    Bytes b = fmtBody(0xFFFE, 1, rate, bits);
    put16(b, 22);
    put16(b, bits);
    put32(b, 0x4);
    put32(b, subtype);
    return b + Bytes{0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
}

// "RIFF", its size (the true one unless given), "WAVE" and the chunks.
Bytes riff(const std::vector<Bytes>& chunks, std::int64_t declared = -1) {
    Bytes body = text("WAVE");
    for (const Bytes& c : chunks) body = body + c;
    Bytes b = text("RIFF");
    put32(b, static_cast<std::uint32_t>(declared < 0 ? static_cast<std::int64_t>(body.size()) : declared));
    return b + body;
}

Bytes wave(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits, const Bytes& data) {
    return riff({chunk("fmt ", fmtBody(tag, channels, rate, bits)), chunk("data", data)});
}

// Every 16-bit value once, in ascending order, as raw little-endian PCM, and
// 64 zeros after them to complete the last 160-sample G.711 block.
Bytes everySample() {
    Bytes b;
    for (int v = -32768; v <= 32767; ++v) put16(b, static_cast<unsigned>(v) & 0xFFFF);
    b.resize(b.size() + 128, 0);
    return b;
}

struct Outcome {
    int status;
    std::vector<std::string> errorLines;
    std::string out;
};

class Kvencode : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        dir = fs::temp_directory_path() / ("kvencode-" + std::to_string(rd()) + std::to_string(rd()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    fs::path file(const std::string& name) const { return dir / name; }

    // The tool sits in bin/ under the build folder, the tests' working folder.
    static fs::path builtTool() { return fs::path("bin") / KV_TOOL_NAME; }

    // What stderr holds after a run that went well: the note, where the tool
    // has to use the server beside it, and nothing else.
    static std::vector<std::string> quietRun(const fs::path& toolFolder = "bin") {
        const std::string note = kvtest::fallbackNote(toolFolder);
        return note.empty() ? std::vector<std::string>{} : std::vector<std::string>{note};
    }

    // The tool alone in a folder of its own, without the server beside it.
    fs::path lonelyTool() const {
        const fs::path folder = file("alone");
        fs::create_directories(folder);
        fs::copy_file(builtTool(), folder / KV_TOOL_NAME, fs::copy_options::overwrite_existing);
        return folder / KV_TOOL_NAME;
    }

    // The tool's name goes first and unquoted: the Windows command interpreter
    // strips the outer quotes of a line that starts with one. `input`, when
    // given, is the tool's standard input.
    Outcome run(const std::vector<std::string>& args, const fs::path& tool = builtTool(),
                const fs::path& input = {}) const {
        std::string line = utf8(fs::path(tool).make_preferred());
        for (const std::string& a : args) line += " \"" + a + "\"";
        // Fresh names for every run: under Wine a finished run's files can
        // stay open a moment longer, and reusing them fails with a sharing
        // violation.
        const std::string n = std::to_string(++runs);
        const fs::path out = file("stdout" + n + ".txt"), err = file("stderr" + n + ".txt");
        if (!input.empty()) line += " <\"" + utf8(input) + "\"";
        line += " >\"" + utf8(out) + "\" 2>\"" + utf8(err) + "\"";
        Outcome r{};
        r.status = kvtest::runCommand(line);
        std::ifstream e(err);
        for (std::string l; std::getline(e, l);) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            r.errorLines.push_back(l);
        }
        const Bytes o = readFile(out);
        r.out.assign(o.begin(), o.end());
        return r;
    }

    Bytes encode(const std::string& format, const fs::path& input, const std::string& chunk = "",
                 const std::vector<std::string>& more = {}) const {
        const fs::path output = file("out-" + format + std::to_string(runs) + ".bin");
        std::vector<std::string> args{"-f", format, "-i", utf8(input), "-o", utf8(output)};
        if (!chunk.empty()) args.insert(args.end(), {"--chunk", chunk});
        args.insert(args.end(), more.begin(), more.end());
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << (r.errorLines.empty() ? "" : r.errorLines.back());
        EXPECT_EQ(r.errorLines, quietRun());
        return readFile(output);
    }

    fs::path dir;
    mutable int runs = 0;
};

// ---- mistakes of the caller and of the input ------------------------------------

struct Mistake {
    const char* name;
    std::vector<std::string> args;  // {dir} and {out} stand for the test's folder and output
    const char* says;
    const char* tool = "kvencode";
    friend void PrintTo(const Mistake& m, std::ostream* os) { *os << m.name; }
};

class Mistakes : public Kvencode, public ::testing::WithParamInterface<Mistake> {};

TEST_P(Mistakes, EndInOneLineOnStderrAndAFailureStatus) {
    const Mistake& m = GetParam();
    writeFile(file("in.raw"), Bytes(6400, 0));
    writeFile(file("text.wav"), Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
    fs::create_directory(file("folder.wav"));
    writeFile(file("out.pcm"), text("before"));
    std::vector<std::string> args;
    for (std::string a : m.args) {
        for (const auto& [key, value] :
             {std::pair<std::string, std::string>{"{dir}", (dir / "").string()}, {"{out}", file("out.pcm").string()}}) {
            if (const auto at = a.find(key); at != std::string::npos) a.replace(at, key.size(), value);
        }
        args.push_back(a);
    }
    const bool decoding = std::string(m.tool) == "kvdecode";
    const Outcome r = run(args, decoding ? fs::path("bin") / KV_DECODE_TOOL_NAME : builtTool());
    EXPECT_NE(r.status, 0);
    ASSERT_EQ(r.errorLines.size(), 1u) << r.out;
    const std::string& line = r.errorLines.back();
    EXPECT_EQ(line.rfind(std::string(m.tool) + ": ", 0), 0u) << line;
    EXPECT_NE(line.find(m.says), std::string::npos) << line;
    EXPECT_EQ(readFile(file("out.pcm")), text("before")) << "a failed run leaves the output as it was";
    for (const auto& entry : fs::directory_iterator(dir)) EXPECT_NE(entry.path().extension(), ".tmp");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mistakes,
    ::testing::Values(
        Mistake{"noArguments", {}, "missing -f"},
        Mistake{"unknownFormat", {"-f", "mp3", "-i", "{dir}in.raw", "-o", "{out}"}, "unknown format 'mp3'"},
        Mistake{"noInput", {"-f", "g711a", "-o", "{out}"}, "missing -i"},
        Mistake{"noOutput", {"-f", "g711a", "-i", "{dir}in.raw"}, "missing -o"},
        Mistake{
            "valueMissing", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk"}, "--chunk needs a value"},
        Mistake{
            "unknownOption", {"-f", "g711a", "--bogus", "-i", "{dir}in.raw", "-o", "{out}"}, "unknown option --bogus"},
        Mistake{"strayArgument", {"-f", "g711a", "{dir}in.raw", "-o", "{out}"}, "unexpected argument"},
        Mistake{"chunkZero", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk", "0"}, "bad --chunk '0'"},
        Mistake{"chunkNegative", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk", "-640"}, "bad --chunk"},
        Mistake{"chunkText", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk", "20ms"}, "bad --chunk"},
        Mistake{
            "chunkHuge", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk", "2147483648"}, "bad --chunk"},
        Mistake{"rawFile", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--raw"}, "--raw is for standard input"},
        Mistake{"rateOther", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--rate", "11025"}, "bad --rate"},
        Mistake{"quorvanContainer",
                {"-f", "quorvan", "-i", "{dir}in.raw", "-o", "{dir}x.Wav", "--rate", "8000"},
                "Quorvan stream has no WAV container"},
        Mistake{"g7231ContainerAt16k", {"-f", "g7231", "-i", "{dir}in.raw", "-o", "{dir}x.wav"}, "needs --rate 8000"},
        Mistake{"missingInput", {"-f", "g711a", "-i", "{dir}absent.raw", "-o", "{out}"}, "No such file or directory"},
        Mistake{"folderInput", {"-f", "g711u", "-i", "{dir}folder.wav", "-o", "{out}"}, "Is a directory"},
        Mistake{"inputTwice", {"-f", "g711a", "-i", "{dir}in.raw", "-i", "{dir}in", "-o", "{out}"}, "-i given twice"},
        Mistake{
            "chunkTwice", {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--chunk", "2", "--chunk", "2"}, "twice"},
        Mistake{"notAWave", {"-f", "g7231", "-i", "{dir}text.wav", "-o", "{out}"}, "not a WAV file"},
        Mistake{"unwritableOutput",
                {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{dir}no-such-folder/out.bin"},
                "no-such-folder/out.bin: "},
        Mistake{"decodeUnknownFormat", {"-f", "mp3", "-i", "{dir}in.raw", "-o", "{out}"}, "unknown format", "kvdecode"},
        Mistake{"decodeBitsNotG722",
                {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{out}", "--bits", "7"},
                "--bits is for g722",
                "kvdecode"},
        Mistake{"decodeLostNotG7231",
                {"-f", "quorvan", "-i", "{dir}in.raw", "-o", "{out}", "--lost", "1"},
                "--lost is for g7231",
                "kvdecode"},
        Mistake{"decodeBadList",
                {"-f", "g7231", "-i", "{dir}in.raw", "-o", "{out}", "--lost", "1,,2"},
                "bad --lost",
                "kvdecode"},
        Mistake{"decodeG722At8k",
                {"-f", "g722", "-i", "{dir}in.raw", "-o", "{out}", "--rate", "8000"},
                "does not apply",
                "kvdecode"},
        Mistake{"decodeOutputName", {"-f", "g711u", "-i", "{dir}in.raw", "-o", "{dir}out.mp3"}, ".wav", "kvdecode"},
        Mistake{"decodeMissingInput", {"-f", "g711u", "-i", "{dir}absent", "-o", "{out}"}, "No such file", "kvdecode"},
        Mistake{"decodeSameFile", {"-f", "g711u", "-i", "{out}", "-o", "{out}"}, "same file", "kvdecode"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Kvencode, ExplainsItselfOnHelp) {
    for (const char* flag : {"-h", "--help"}) {
        const Outcome r = run({flag});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.errorLines.empty());
        EXPECT_EQ(r.out.rfind("usage: kvencode -f FORMAT -i INPUT -o OUTPUT [--chunk BYTES]", 0), 0u) << r.out;
        for (const char* word : {"g711a", "g711u", "quorvan", "g7231", "prefix"})
            EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
    const Outcome r = run({"--version"});
    EXPECT_TRUE(r.status == 0 && r.errorLines.empty());
    EXPECT_EQ(r.out.substr(0, r.out.find_first_of("\r\n")), std::string("kvencode ") + KV_PROJECT_VERSION);
}

// ---- where the encoder objects come from -------------------------------------------

TEST_F(Kvencode, WithoutTheServerBesideItEncodesOnlyWhereItCarriesIt) {
    Bytes samples;
    for (int i = 0; i < 1600; ++i) put16(samples, static_cast<unsigned>(i * 37) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    const fs::path tool = lonelyTool();
    const Outcome r = run({"-f", "g711a", "-i", file("in.raw").string(), "-o", file("out.bin").string()}, tool);
    if (kvtest::toolCarriesServer()) {
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.errorLines.empty());
        EXPECT_EQ(readFile(file("out.bin")).size(), 1600u);
    } else {
        EXPECT_NE(r.status, 0);
        ASSERT_EQ(r.errorLines.size(), 2u);
        EXPECT_EQ(r.errorLines[0], kvtest::fallbackNote(tool.parent_path()));
        EXPECT_EQ(r.errorLines[1].rfind("kvencode: cannot create the g711a encoder (0x", 0), 0u) << r.errorLines[1];
        EXPECT_FALSE(fs::exists(file("out.bin")));
    }
}

// Registered, the classes come from wherever their registration says, with no
// word about it: a copy of the tool alone encodes all four formats as the
// tool beside its server does.
TEST_F(Kvencode, UsesTheRegisteredServerWithoutANote) {
    Bytes samples;
    for (int i = 0; i < 4800; ++i)
        put16(samples, static_cast<unsigned>(6000 * std::sin(i * 0.05) + (i % 53) * 60) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    const char* formats[] = {"g711a", "g711u", "g7231", "quorvan"};
    std::vector<Bytes> beside;
    for (const char* format : formats) beside.push_back(encode(format, file("in.raw")));

    const fs::path tool = lonelyTool();
    kvtest::RegisteredServer server(file("installed"));
    ASSERT_EQ(server.status(), S_OK);
    for (std::size_t f = 0; f < std::size(formats); ++f) {
        SCOPED_TRACE(formats[f]);
        const fs::path output = file(std::string("registered-") + formats[f] + ".bin");
        const Outcome r = run({"-f", formats[f], "-i", file("in.raw").string(), "-o", output.string()}, tool);
        EXPECT_EQ(r.status, 0) << (r.errorLines.empty() ? "" : r.errorLines.back());
        EXPECT_TRUE(r.errorLines.empty()) << testing::PrintToString(r.errorLines);
        ASSERT_FALSE(beside[f].empty());
        EXPECT_EQ(readFile(output), beside[f]);
    }
}

// ---- what it writes -------------------------------------------------------------

TEST_F(Kvencode, G711IsExactForEverySampleWhateverTheChunk) {
    const Bytes input = everySample();
    writeFile(file("all.raw"), input);
    for (const char* format : {"g711a", "g711u"}) {
        SCOPED_TRACE(format);
        Bytes expected;
        for (std::size_t i = 0; i < input.size(); i += 2) {
            const auto x = static_cast<std::int16_t>(input[i] | input[i + 1] << 8);
            expected.push_back(format[4] == 'a' ? kvtest::alawReference(x) : kvtest::ulawReference(x));
        }
        for (const char* chunk : {"", "1", "7", "319", "320", "641", "6400", "6401", "1000000"}) {
            SCOPED_TRACE(std::string("--chunk ") + (*chunk ? chunk : "default"));
            const Bytes got = encode(format, file("all.raw"), chunk);
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << "input sample " << i;
        }
    }
}

TEST_F(Kvencode, ReadsWaveFilesAsTheSameSamples) {
    Bytes samples;
    for (int i = 0; i < 8000; ++i) put16(samples, static_cast<unsigned>((i * 2654435761u) >> 16) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    writeFile(file("in.wav"), wave(1, 1, 16000, 16, samples));
    for (const char* format : {"g711a", "quorvan"}) {
        SCOPED_TRACE(format);
        const Bytes fromRaw = encode(format, file("in.raw"));
        EXPECT_EQ(fromRaw.size(), 8000u) << "one byte per sample, the last one included";
        EXPECT_EQ(encode(format, file("in.wav")), fromRaw);
    }
    // An 8 kHz file is brought to 16 kHz first: twice the samples out.
    writeFile(file("slow.wav"), wave(1, 1, 8000, 16, samples));
    EXPECT_EQ(encode("g711u", file("slow.wav")).size(), 16000u);
}

TEST_F(Kvencode, QuorvanIsTheSameStreamWhateverTheChunk) {
    Bytes samples;
    for (int i = 0; i < 9000; ++i)
        put16(samples, static_cast<unsigned>(8000 * std::sin(i * 0.07) + (i % 97) * 40) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    const Bytes reference = encode("quorvan", file("in.raw"));
    ASSERT_EQ(reference.size(), 9000u) << "one byte per sample, the last one included";
    for (std::uint8_t b : reference) ASSERT_GE(b, 0xC4);
    for (const char* chunk : {"1", "7", "479", "481", "4800", "100000"}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(encode("quorvan", file("in.raw"), chunk), reference);
    }
}

TEST_F(Kvencode, G7231MatchesTheReferenceVectorsFrameForFrame) {
    const fs::path data = fs::path(KV_TEST_DATA_DIR) / "g7231";
    for (const char* name : {"sine_1k", "speech_en", "overload"}) {
        SCOPED_TRACE(name);
        const Bytes expected = readFile(data / (std::string(name) + ".g7231"));
        ASSERT_FALSE(expected.empty());
        // The vectors hold the whole frames of the input, not a padded last one.
        const Bytes got = encode("g7231", data / (std::string(name) + ".pcm"), "", {"--no-flush"});
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t f = 0; f < got.size() / 24; ++f)
            ASSERT_TRUE(std::equal(got.begin() + 24 * f, got.begin() + 24 * f + 24, expected.begin() + 24 * f))
                << "frame " << f;
    }
}

// The encoder codes one frame per piece it takes and may keep whole frames
// held at the end: flushed, every chunk gives the whole stream; bare, a larger
// chunk gives a prefix of it.
TEST_F(Kvencode, G7231GivesTheWholeStreamWhateverTheChunkUnlessNotFlushed) {
    const fs::path input = fs::path(KV_TEST_DATA_DIR) / "g7231" / "speech_en.pcm";
    const Bytes full = encode("g7231", input);
    for (const char* chunk : {"960", "4000", "1000000"}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(encode("g7231", input, chunk), full);
        const Bytes part = encode("g7231", input, chunk, {"--no-flush"});
        ASSERT_EQ(part.size() % 24, 0u);
        ASSERT_LT(part.size(), full.size()) << "whole frames stay held at the end";
        EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()));
    }
}

// 1234 samples: seven whole G.711 blocks and some, five of the others.
// Flushed, G.711 and Quorvan end with the last sample, and G.723.1 with its
// last frame padded with silence; bare, the partial block is not coded, and
// what is written is a prefix of the flushed stream.
struct Ending {
    const char* format;
    std::size_t flushed, bare;
};

TEST_F(Kvencode, FlushesTheEndUnlessAskedNotTo) {
    Bytes samples;
    for (int i = 0; i < 1234; ++i) put16(samples, static_cast<unsigned>(9000 * std::sin(i * 0.03)) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    for (const Ending& e : {Ending{"g711a", 1234, 1120}, Ending{"g711u", 1234, 1120}, Ending{"quorvan", 1234, 1200},
                            Ending{"g7231", 144, 120}}) {
        SCOPED_TRACE(e.format);
        const Bytes flushed = encode(e.format, file("in.raw"));
        const Bytes bare = encode(e.format, file("in.raw"), "", {"--no-flush"});
        EXPECT_EQ(flushed.size(), e.flushed);
        ASSERT_EQ(bare.size(), e.bare);
        EXPECT_TRUE(std::equal(bare.begin(), bare.end(), flushed.begin()));
    }
}

// ---- standard input and output, any name ---------------------------------------

struct Standard {
    const char* name;
    Bytes input;    // what the tool reads
    bool viaStdin;  // as its standard input, else as the file in.wav
    std::vector<std::string> options;
    bool toStdout;
    const char* warning = nullptr;  // what the one warning says, if any
    friend void PrintTo(const Standard& s, std::ostream* os) { *os << s.name; }
};

class StandardStreams : public Kvencode, public ::testing::WithParamInterface<Standard> {};

// A stream is the same samples as a file: the same code comes out.
TEST_P(StandardStreams, CarryTheSameCodeAsFiles) {
    const Standard& c = GetParam();
    Bytes samples;
    for (int i = 0; i < 4321; ++i) put16(samples, static_cast<unsigned>(7000 * std::sin(i * 0.02) + i % 7) & 0xFFFF);
    writeFile(file("in.raw"), samples);
    const Bytes expected = encode("g7231", file("in.raw"));
    ASSERT_EQ(expected.size(), 24u * 19);

    writeFile(file("in.wav"), c.input.empty() ? wave(1, 1, 16000, 16, samples) : c.input);
    std::vector<std::string> args{
        "-f", "g7231", "-i", c.viaStdin ? "-" : utf8(file("in.wav")), "-o", c.toStdout ? "-" : utf8(file("out.bin"))};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome r = run(args, builtTool(), c.viaStdin ? file("in.wav") : fs::path());
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> said = quietRun();
    if (c.warning) said.push_back(std::string("kvencode: warning: standard input: ") + c.warning);
    EXPECT_EQ(r.errorLines, said);
    EXPECT_EQ(c.toStdout ? Bytes(r.out.begin(), r.out.end()) : readFile(file("out.bin")), expected);
}

std::vector<Standard> standardCases() {
    Bytes samples;
    for (int i = 0; i < 4321; ++i) put16(samples, static_cast<unsigned>(7000 * std::sin(i * 0.02) + i % 7) & 0xFFFF);
    const Bytes fmt = chunk("fmt ", fmtBody(1, 1, 16000, 16));
    return {
        {"waveInToFile", {}, true, {}, false},
        {"fileToStdout", {}, false, {}, true},
        {"waveInToStdout", {}, true, {}, true},
        {"streamedSizeZero",
         riff({fmt, chunk("data", samples, 0)}, 0),
         true,
         {},
         true,
         "the data chunk claims 0 bytes but 8642 follow it; encoding those to the end of the input (was the "
         "recording finished?)"},
        {"streamedSizeAllOnes",
         riff({chunk("LIST", text("INFOkvtst")), fmt, chunk("data", samples, 0xFFFFFFFF)}, 0xFFFFFFFF),
         true,
         {},
         true},
        {"rawIn", samples, true, {"--raw"}, true},
    };
}

INSTANTIATE_TEST_SUITE_P(Cases, StandardStreams, ::testing::ValuesIn(standardCases()),
                         [](const auto& p) { return std::string(p.param.name); });

// Names the ANSI code page cannot spell, in and out.
TEST_F(Kvencode, TakesAnyFileName) {
    Bytes samples;
    for (int i = 0; i < 1600; ++i) put16(samples, static_cast<unsigned>(i * 2654435761u >> 16) & 0xFFFF);
    writeFile(file("in.wav"), wave(1, 1, 16000, 16, samples));
    const fs::path in = dir / fs::path(u8"\u00dcn\u00efc\u00f6d\u00e9 \u2013 \u0442\u0435\u0441\u0442.wav");
    const fs::path out = dir / fs::path(u8"\u0432\u044b\u0432\u043e\u0434 \u00fc.bin");
    writeFile(in, wave(1, 1, 16000, 16, samples));
    const Outcome r = run({"-f", "g711a", "-i", utf8(in), "-o", utf8(out)});
    EXPECT_EQ(r.status, 0) << (r.errorLines.empty() ? "" : r.errorLines.back());
    EXPECT_EQ(readFile(out), encode("g711a", file("in.wav")));
}

// ---- what a listener hears ---------------------------------------------------------

// A-law decoded by the reference encoder itself: each code stands for the
// mean of the samples it is given to.
std::vector<double> alawDecoded(const Bytes& code) {
    std::vector<double> sum(256), count(256);
    for (int x = -32768; x <= 32767; ++x) {
        const std::uint8_t c = kvtest::alawReference(static_cast<std::int16_t>(x));
        sum[c] += x;
        count[c] += 1;
    }
    std::vector<double> out;
    for (std::uint8_t c : code) out.push_back(sum[c] / count[c]);
    return out;
}

// The level at `hz` of the middle half of 16 kHz samples, in dB of a tone of
// amplitude 16000 (a least-squares fit of the tone).
double levelDb(const std::vector<double>& y, double hz) {
    const double w = 2 * 3.14159265358979323846 * hz / 16000;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0;
    for (std::size_t i = y.size() / 4; i < y.size() * 3 / 4; ++i) {
        const double s = std::sin(w * i), c = std::cos(w * i);
        ss += s * s, cc += c * c, sc += s * c, ys += y[i] * s, yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc, p = (ys * cc - yc * sc) / det, q = (yc * ss - ys * sc) / det;
    return 10 * std::log10(std::max(p * p + q * q, 1e-12) / (16000.0 * 16000.0));
}

struct Tone {
    std::uint32_t rate;
    unsigned channels;
    double hz;
};

// A tone in the pass band comes out at its level, from any rate; one above
// 8 kHz leaves nothing where a converter without a filter would fold it;
// two equal channels are heard as the one.
TEST_F(Kvencode, ConvertsWhatAListenerHears) {
    for (const Tone& t : {Tone{48000, 1, 1000}, Tone{48000, 1, 10000}, Tone{44100, 2, 1000}, Tone{44100, 2, 10000},
                          Tone{4000, 1, 1000}, Tone{8000, 2, 3000}, Tone{384000, 1, 1000}, Tone{384000, 1, 10000}}) {
        SCOPED_TRACE(::testing::Message() << t.hz << " Hz in " << t.channels << " x " << t.rate << " Hz");
        Bytes mono, both;
        for (std::uint32_t i = 0; i < t.rate / 2; ++i) {
            const unsigned v =
                static_cast<unsigned>(std::lround(16000 * std::sin(2 * 3.14159265358979323846 * t.hz * i / t.rate)));
            put16(mono, v & 0xFFFF);
            put16(both, v & 0xFFFF);
            put16(both, v & 0xFFFF);
        }
        writeFile(file("tone.wav"), wave(1, t.channels, t.rate, 16, t.channels == 2 ? both : mono));
        const Bytes code = encode("g711a", file("tone.wav"));
        ASSERT_EQ(code.size(), 8000u);
        const std::vector<double> heard = alawDecoded(code);
        if (t.hz < 8000) {
            EXPECT_NEAR(levelDb(heard, t.hz), 0.0, 0.1);
        } else {
            EXPECT_LT(levelDb(heard, 16000 - t.hz), -60.0);
        }
        if (t.channels == 2) {
            writeFile(file("mono.wav"), wave(1, 1, t.rate, 16, mono));
            EXPECT_EQ(code, encode("g711a", file("mono.wav")));
        }
    }
}

// Integer arithmetic all the way: a 44.1 kHz stereo file, resampled and
// mixed down, gives the same code on every build. The host run leaves its
// code in its build folder; the win32 run, which ./kv test makes after it,
// compares with it. G.723.1 hears every bit of what it is given.
TEST_F(Kvencode, GivesTheSameCodeOnEveryBuild) {
    Bytes stereo;
    std::uint32_t seed = 3;
    for (int i = 0; i < 22050; ++i) {
        seed = seed * 1103515245u + 12345u;
        const int noise = static_cast<int>(seed >> 20) - 2048;
        put16(stereo, static_cast<unsigned>(9000 * std::sin(i * 0.0627) + noise) & 0xFFFF);
        put16(stereo, static_cast<unsigned>(7000 * std::sin(i * 0.4101) - noise) & 0xFFFF);
    }
    writeFile(file("stereo.wav"), wave(1, 2, 44100, 16, stereo));
    const Bytes code = encode("g7231", file("stereo.wav"));
    ASSERT_EQ(code.size(), 24u * 34) << "8000 samples at 16 kHz, the last frame padded";
#ifdef KV_HOST_CODE
    const fs::path host(KV_HOST_CODE);
    if (!fs::exists(host)) GTEST_SKIP() << "no host build's code at " << host.string();
    EXPECT_EQ(code, readFile(host));
#else
    writeFile("kvencode-stereo44k.g7231", code);
    ASSERT_EQ(readFile("kvencode-stereo44k.g7231"), code);
#endif
}

// ---- standard streams ----------------------------------------------------------

// FFmpeg, a standard peer run as a black box, opens each --rate 8000 WAV
// file as its codec at 8 kHz and decodes it to the input's length; G.711's
// samples are the input as FFmpeg itself resamples it, within the law's
// quantisation.
TEST_F(Kvencode, MakesWavFilesThatFFmpegPlaysAtTheRightSpeed) {
#ifndef KV_FFMPEG
    GTEST_SKIP() << "FFmpeg runs beside the host build only";
#else
    // 1.51 s: an odd number of 8 kHz samples (a pad byte ends the data), not a
    // whole number of G.723.1 frames.
    constexpr std::uint32_t kFrames = 66585;
    Bytes stereo;
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        put16(stereo, static_cast<unsigned>(std::lround(8000 * std::sin(2 * 3.14159265358979 * 440 * i / 44100))));
        put16(stereo, static_cast<unsigned>(std::lround(6000 * std::sin(2 * 3.14159265358979 * 1700 * i / 44100))));
    }
    writeFile(file("in.wav"), wave(1, 2, 44100, 16, stereo));
    const auto samples = [](const Bytes& b) {
        std::vector<double> v;
        for (std::size_t i = 0; i + 1 < b.size(); i += 2) v.push_back(static_cast<std::int16_t>(b[i] | b[i + 1] << 8));
        return v;
    };
    const std::string in = utf8(file("in.wav")), decoded = utf8(file("decoded.raw"));
    ASSERT_EQ(kvtest::runCommand(KV_FFMPEG " -nostdin -v error -y -i \"" + in +
                                 "\" -af \"pan=mono|c0=0.5*c0+0.5*c1\" -ar 8000 -f s16le \"" + decoded + "\""),
              0);
    const std::vector<double> reference = samples(readFile(file("decoded.raw")));
    struct Case {
        const char* format;
        const char* codec;
        double frame;  // samples per block of code
    };
    for (const Case& c : {Case{"g711a", "pcm_alaw", 1}, Case{"g711u", "pcm_mulaw", 1}, Case{"g7231", "g723_1", 240}}) {
        SCOPED_TRACE(c.format);
        const std::string wav = utf8(file(std::string(c.format) + ".WAV")), probe = utf8(file("probe.txt"));
        const Outcome r = run({"-f", c.format, "-i", in, "-o", wav, "--rate", "8000"});
        ASSERT_EQ(r.status, 0) << testing::PrintToString(r.errorLines);
        ASSERT_EQ(
            kvtest::runCommand(std::string(KV_FFPROBE) + " -v error -show_entries stream=codec_name,sample_rate " +
                               "-of csv=p=0 \"" + wav + "\" >\"" + probe + "\""),
            0);
        EXPECT_EQ(readFile(probe), text(c.codec + std::string(",8000\n")));
        ASSERT_EQ(kvtest::runCommand(KV_FFMPEG " -nostdin -v error -y -i \"" + wav + "\" -f s16le \"" + decoded + "\""),
                  0);
        const std::vector<double> heard = samples(readFile(file("decoded.raw")));
        EXPECT_NEAR(static_cast<double>(heard.size()), kFrames * 8000.0 / 44100, c.frame);
        if (c.frame > 1) continue;
        double signal = 0, noise = 0;
        for (std::size_t i = 0; i < std::min(heard.size(), reference.size()); ++i) {
            signal += reference[i] * reference[i];
            noise += (heard[i] - reference[i]) * (heard[i] - reference[i]);
        }
        EXPECT_GT(10 * std::log10(signal / noise), 30.0) << "dB";
    }
#endif
}

// ---- the input is never the output ----------------------------------------------

// Opening the output for writing empties it, so the input must not be the
// output under any name. Each refusal comes before anything is written: the
// input stays as it was, byte for byte.
TEST_F(Kvencode, NeverTakesItsInputAsItsOutput) {
    Bytes samples;
    for (int i = 0; i < 1601; ++i) put16(samples, static_cast<unsigned>(i * 2654435761u >> 16) & 0xFFFF);
    for (const std::string name : {"in.pcm", "in.wav"}) {
        SCOPED_TRACE(name);
        const auto [in, soft] = kvtest::linkedFile(dir, name);
        const fs::path folder = in.parent_path(), hard = folder / ("hard-" + name);
        const Bytes original = name == "in.pcm" ? samples : wave(1, 1, 16000, 16, samples);
        writeFile(in, original);
        std::error_code ec;
        fs::remove(hard, ec);
        fs::create_hard_link(in, hard);
        fs::create_directories(folder / "sub");
        const std::pair<fs::path, fs::path> pairs[] = {
            {in, in}, {in, folder / "." / name}, {in, folder / "sub" / ".." / name}, {in, hard}, {in, soft}, {soft, in},
        };
        for (const auto& [input, output] : pairs) {
            SCOPED_TRACE(input.string() + " -> " + output.string());
            const Outcome r = run({"-f", "g711a", "-i", input.string(), "-o", output.string()});
            EXPECT_NE(r.status, 0);
            ASSERT_EQ(r.errorLines.size(), 1u) << testing::PrintToString(r.errorLines);
            EXPECT_EQ(r.errorLines[0], "kvencode: " + input.string() + " and " + output.string() +
                                           " are the same file; the output would destroy the input");
            ASSERT_EQ(readFile(in), original);
        }
        // Another file is no trouble.
        EXPECT_EQ(encode("g711a", soft).size(), 1601u) << "1601 samples";
        for (const fs::path& p : {in, hard, folder / "sub"}) fs::remove(p, ec);
    }
}

// ---- hostile input ---------------------------------------------------------------

struct Hostile {
    const char* name;
    Bytes bytes;
    const char* refusal;                // what the one line says; null where the file is taken
    std::vector<const char*> warnings;  // where it is taken: what each warning says
    std::vector<int> samples;           // where it is taken: the 16 kHz samples it is read as
    const char* file = "in.wav";
    friend void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }
};

std::vector<int> noise(std::size_t n, std::uint32_t seed) {
    std::vector<int> s(n);
    for (int& v : s) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::int16_t>(seed >> 16);
    }
    return s;
}

Bytes samples16(const std::vector<int>& s) {
    Bytes b;
    for (int v : s) put16(b, static_cast<unsigned>(v) & 0xFFFF);
    return b;
}

std::vector<Hostile> hostileFiles() {
    const std::vector<int> s = noise(800, 5);
    const Bytes data = samples16(s);
    const Bytes fmt = chunk("fmt ", fmtBody(1, 1, 16000, 16));
    const auto withFormat = [&](const Bytes& body) { return riff({chunk("fmt ", body), chunk("data", data)}); };
    Bytes shortExtensible = fmtBody(0xFFFE, 1, 16000, 16);
    put16(shortExtensible, 0);
    Bytes otherForm = text("RIFF");
    put32(otherForm, 4);
    otherForm = otherForm + text("AVI ");
    return {
        // Taken, as the same samples as a plain file.
        {"extensiblePcm", withFormat(extensibleBody(16000, 16, 1)), nullptr, {}, s},
        {"extraAndOddChunks",
         riff({chunk("LIST", text("INFOkvtst")), fmt, chunk("note", text("odd")), chunk("fact", Bytes(4, 0)),
               chunk("data", data), chunk("id3 ", Bytes(7, 1))}),
         nullptr,
         {},
         s},
        // Taken, with a word on what was missing or left out.
        {"dataLongerThanTheFile",
         riff({fmt, chunk("data", data, 100000)}),
         nullptr,
         {"the data chunk claims 100000 bytes but the file holds 1600"},
         s},
        {"unfinishedRecording",
         riff({fmt, chunk("data", data, 0xFFFFFFFF)}, 0),
         nullptr,
         {"the data chunk claims 4294967295 bytes but the file holds 1600"},
         s},
        {"unfinishedRecordingSizeZero",
         riff({fmt, chunk("data", data, 0)}, 0),
         nullptr,
         {"the data chunk claims 0 bytes but 1600 follow it"},
         s},
        {"halfASampleInTheData",
         riff({fmt, chunk("data", data + Bytes{0x55})}),
         nullptr,
         {"the last 1 byte(s) are not a whole sample"},
         s},
        {"oddRawFile", data + Bytes{0x55}, nullptr, {"the last 1 byte(s) are not a whole sample"}, s, "in.pcm"},
        // Refused.
        {"emptyFile", {}, "the file is empty", {}, {}},
        {"riffHeaderCut", text("RIFF\x24"), "RIFF header cut short", {}, {}},
        {"notRiff", text("just some text, no wave"), "no RIFF header", {}, {}},
        {"otherForm", otherForm, "RIFF form 'AVI '", {}, {}},
        {"noFormatChunk", riff({chunk("data", data)}), "no fmt chunk before the data chunk", {}, {}},
        {"formatAfterData", riff({chunk("data", data), fmt}), "no fmt chunk before the data chunk", {}, {}},
        {"shortFormatChunk", withFormat(Bytes(14, 1)), "fmt chunk too short (14 bytes", {}, {}},
        {"noDataChunk", riff({fmt, chunk("LIST", Bytes(4, 'x'))}), "no data chunk", {}, {}},
        {"unknownTag", withFormat(fmtBody(0x1234, 1, 16000, 16)), "format tag 0x1234 is not supported", {}, {}},
        {"noChannels", withFormat(fmtBody(1, 0, 16000, 16)), "0 channels", {}, {}},
        {"rateZero", withFormat(fmtBody(1, 1, 0, 16)), "sample rate 0 Hz", {}, {}},
        {"rateOneHertz", withFormat(fmtBody(1, 1, 1, 16)), "sample rate 1 Hz", {}, {}},
        {"rateBelowRange", withFormat(fmtBody(1, 1, 3999, 16)), "sample rate 3999 Hz", {}, {}},
        {"rateAboveRange", withFormat(fmtBody(1, 1, 384001, 16)), "sample rate 384001 Hz", {}, {}},
        {"twelveBits", withFormat(fmtBody(1, 1, 16000, 12)), "12 bits per sample of PCM", {}, {}},
        {"halfFloats", withFormat(fmtBody(3, 1, 16000, 16)), "16 bits per sample of IEEE float", {}, {}},
        {"blockAlignWrong", withFormat(fmtBody(1, 1, 16000, 16, 4)), "block align 4", {}, {}},
        {"chunkSizeAllOnes",
         riff({chunk("LIST", Bytes(8, 'x'), 0xFFFFFFFF), fmt, chunk("data", data)}),
         "'LIST' chunk claims 4294967295 bytes",
         {},
         {}},
        {"formatSizeAllOnes",
         riff({chunk("fmt ", fmtBody(1, 1, 16000, 16), 0xFFFFFFFF), chunk("data", data)}),
         "'fmt ' chunk claims 4294967295 bytes",
         {},
         {}},
        {"extensibleAdpcm", withFormat(extensibleBody(16000, 16, 2)), "sub-format 0x0002 (Microsoft ADPCM)", {}, {}},
        {"extensibleTooShort", withFormat(shortExtensible), "too short for WAVE_FORMAT_EXTENSIBLE", {}, {}},
    };
}

class HostileInput : public Kvencode, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileInput, IsRefusedInOneLineOrTakenWithWhatItLost) {
    const Hostile& h = GetParam();
    const fs::path input = file(h.file), output = file("out.bin");
    writeFile(input, h.bytes);
    const Outcome r = run({"-f", "g711a", "-i", input.string(), "-o", output.string()});
    if (h.refusal) {
        EXPECT_NE(r.status, 0);
        ASSERT_EQ(r.errorLines.size(), 1u) << testing::PrintToString(r.errorLines);
        const std::string& line = r.errorLines[0];
        EXPECT_EQ(line.rfind("kvencode: " + input.string() + ": ", 0), 0u) << line;
        EXPECT_NE(line.find(h.refusal), std::string::npos) << line;
        EXPECT_FALSE(fs::exists(output)) << "a refused file leaves no output";
        return;
    }
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.errorLines.size(), h.warnings.size() + quietRun().size()) << testing::PrintToString(r.errorLines);
    for (std::size_t i = 0; i < h.warnings.size(); ++i) {
        EXPECT_EQ(r.errorLines[i].rfind("kvencode: warning: " + input.string() + ": ", 0), 0u) << r.errorLines[i];
        EXPECT_NE(r.errorLines[i].find(h.warnings[i]), std::string::npos) << r.errorLines[i];
    }
    Bytes expected;
    for (int v : h.samples) expected.push_back(kvtest::alawReference(static_cast<std::int16_t>(v)));
    EXPECT_EQ(readFile(output), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, ::testing::ValuesIn(hostileFiles()),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- the formats other programs write ---------------------------------------------

// A file as sox or ffmpeg writes it: refused in one line, or taken as the audio sox itself
// brings to 16-bit PCM without dither, channels and rate kept. Quorvan carries every bit of a
// sample into the codes after it, so a sample read differently shows. (-f spelled as the ProgID.)
struct Made {
    const char* name;
    const char* command;  // writes {out}
    const char* refusal = nullptr;
    friend void PrintTo(const Made& m, std::ostream* os) { *os << m.name; }
};

#define KV_SOX_SOURCE " {out} synth 0.6 sine 300-3000 sine 440 noise vol 0.9"
#define KV_FFMPEG_SINE "ffmpeg -v error -y -f lavfi -i sine=f=500:d=0.6:sample_rate=22050"
// Channels of their own, which ffmpeg writes as WAVE_FORMAT_EXTENSIBLE.
#define KV_FFMPEG_CHANNELS(n, rate)                                                                            \
    "ffmpeg -v error -y -f lavfi -i 'aevalsrc=sin(500*2*PI*t)|0.5*sin(1300*2*PI*t)|0.8*random(0)" n ":s=" rate \
    ":d=0.6' "

const Made kMade[] = {
    {"u8", "sox -D -n -r 8000 -c 1 -e unsigned -b 8" KV_SOX_SOURCE},
    {"s16Stereo", "sox -D -n -r 44100 -c 2 -e signed -b 16" KV_SOX_SOURCE},
    {"s24", "sox -D -n -r 16000 -c 1 -t wavpcm -e signed -b 24" KV_SOX_SOURCE},
    {"s24SixExtensible", "sox -D -n -r 48000 -c 6 -e signed -b 24" KV_SOX_SOURCE},
    {"s32ThreeExtensible", "sox -D -n -r 16000 -c 3 -e signed -b 32" KV_SOX_SOURCE},
    {"f32Stereo", "sox -D -n -r 11025 -c 2 -e floating-point -b 32" KV_SOX_SOURCE},
    {"f64", "sox -D -n -r 96000 -c 1 -e floating-point -b 64" KV_SOX_SOURCE},
    {"alaw", "sox -D -n -r 8000 -c 1 -e a-law" KV_SOX_SOURCE},
    {"ulawStereo", "sox -D -n -r 8000 -c 2 -e u-law" KV_SOX_SOURCE},
    {"alawThreeExtensible", KV_FFMPEG_CHANNELS("", "8000") "-c:a pcm_alaw -f wav {out}"},
    {"ulawThreeExtensible", KV_FFMPEG_CHANNELS("", "16000") "-c:a pcm_mulaw -f wav {out}"},
    {"f64SixExtensible", KV_FFMPEG_CHANNELS("|0.1|-0.2|0.3*sin(90*2*PI*t)", "44100") "-c:a pcm_f64le -f wav {out}"},
    {"rf64FloatTooLoud", KV_FFMPEG_SINE ",volume=3 -c:a pcm_f32le -rf64 always -f wav {out}"},
    {"rf64S24Stereo", KV_FFMPEG_SINE ",aformat=channel_layouts=stereo -c:a pcm_s24le -rf64 always -f wav {out}"},
    {"msAdpcm", "sox -n -r 8000 -c 1 -e ms-adpcm" KV_SOX_SOURCE, "format tag 0x0002 (Microsoft ADPCM) is not"},
    {"g726", KV_FFMPEG_SINE ":sample_rate=8000 -c:a g726 -f wav {out}", "format tag 0x0045 is not"},
};

class MadeInput : public Kvencode, public ::testing::WithParamInterface<Made> {
protected:
    // Made on the host, in kvencode-formats/ of the build folder; the win32
    // run, which ./kv test makes after it, takes what the host run left.
    static fs::path made(const std::string& name, std::string command) {
#ifdef KV_HOST_FORMATS
        (void)command;
        return fs::path(KV_HOST_FORMATS) / (name + ".wav");
#else
        const fs::path out = fs::absolute("kvencode-formats") / (name + ".wav");
        fs::create_directories(out.parent_path());
        command.replace(command.find("{out}"), 5, "'" + out.string() + "'");
        EXPECT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
        return out;
#endif
    }
};

TEST_P(MadeInput, IsTakenAsSoxReadsItOrRefusedInOneLine) {
    const Made& m = GetParam();
    const fs::path input = made(m.name, m.command), output = file("out.bin");
    if (!fs::exists(input)) GTEST_SKIP() << "no host build's file at " << input.string();
    const Outcome r = run({"-f", "KvAudioEncoder.KV_AudioQUORVAN", "-i", utf8(input), "-o", utf8(output)});
    if (m.refusal) {
        EXPECT_TRUE(r.status != 0 && !fs::exists(output));
        ASSERT_EQ(r.errorLines.size(), 1u) << testing::PrintToString(r.errorLines);
        EXPECT_NE(r.errorLines[0].find(m.refusal), std::string::npos) << r.errorLines[0];
        return;
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errorLines, quietRun());
    const fs::path reference =
        made(std::string(m.name) + "-s16", "sox -D '" + input.string() + "' -t wavpcm -e signed -b 16 {out}");
    const Bytes expected = encode("quorvan", reference);
    EXPECT_GT(expected.size(), 9000u) << "0.6 s at 16 kHz";
    EXPECT_EQ(readFile(output), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, MadeInput, ::testing::ValuesIn(kMade),
                         [](const auto& p) { return std::string(p.param.name); });

// Files nobody wrote on purpose: a valid one with header bytes overwritten by
// extreme or random values, or cut inside its headers. Each one is taken or
// refused in one line; none crashes the tool or leaves output behind.

// ---- kvdecode -------------------------------------------------------------------

// The G.723.1 decoder vectors through kvdecode as a user runs it: every
// stream with the postfilter on and off, and the 6.3 streams with the frames
// of lost.txt lost, give the reference decoder's samples byte for byte.
TEST_F(Kvencode, DecodesTheG7231VectorsAsTheReferenceDecoderDoes) {
    const fs::path data = fs::path(KV_TEST_DATA_DIR) / "g7231-decode";
    std::string lost;
    std::getline(std::ifstream(data / "lost.txt"), lost);
    int streams = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".g7231") continue;
        ++streams;
        const std::string stem = (data / entry.path().stem()).string();
        std::vector<std::pair<std::vector<std::string>, std::string>> cases{{{}, ".pf.pcm"},
                                                                            {{"--no-postfilter"}, ".nopf.pcm"}};
        if (fs::exists(stem + ".lost.pcm")) cases.push_back({{"--lost", lost}, ".lost.pcm"});
        for (const auto& [options, expected] : cases) {
            SCOPED_TRACE(stem + expected);
            const fs::path output = file("decoded" + std::to_string(runs) + ".pcm");
            std::vector<std::string> args{"-f", "g7231", "-i", utf8(entry.path()), "-o", utf8(output)};
            args.insert(args.end(), options.begin(), options.end());
            const Outcome r = run(args, fs::path("bin") / KV_DECODE_TOOL_NAME);
            EXPECT_EQ(r.status, 0);
            EXPECT_TRUE(r.errorLines.empty()) << testing::PrintToString(r.errorLines);
            EXPECT_TRUE(readFile(output) == readFile(stem + expected));
        }
    }
    EXPECT_EQ(streams, 20);
}

// A stream cut inside a frame: the frames before it, as a WAV file, and exit
// status 3 with a line that says so.
TEST_F(Kvencode, DecodesACutStreamUpToItsLastWholeFrame) {
    const fs::path data = fs::path(KV_TEST_DATA_DIR) / "g7231-decode";
    const Bytes stream = readFile(data / "speech_en.r63.g7231");
    writeFile(file("cut.g7231"), Bytes(stream.begin(), stream.begin() + 4 * 24 + 5));
    const Outcome r = run({"-f", "g7231", "-i", utf8(file("cut.g7231")), "-o", utf8(file("cut.wav"))},
                          fs::path("bin") / KV_DECODE_TOOL_NAME);
    EXPECT_EQ(r.status, 3);
    ASSERT_EQ(r.errorLines.size(), 1u);
    EXPECT_NE(r.errorLines[0].find("ends 5 byte(s) into a G.723.1 frame"), std::string::npos) << r.errorLines[0];
    const Bytes samples = readFile(data / "speech_en.r63.pf.pcm");
    const auto header = kv::components::wavHeader(16000, 4 * 480);
    EXPECT_TRUE(readFile(file("cut.wav")) ==
                Bytes(header.begin(), header.end()) + Bytes(samples.begin(), samples.begin() + 4 * 480));
}

}  // namespace
