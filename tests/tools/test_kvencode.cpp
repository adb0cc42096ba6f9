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

Bytes wave(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits, const Bytes& data) {
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, static_cast<std::uint32_t>(36 + data.size()));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<std::uint8_t>(c));
    put32(b, 16);
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    for (char c : std::string("data")) b.push_back(static_cast<std::uint8_t>(c));
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
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
    // strips the outer quotes of a line that starts with one.
    Outcome run(const std::vector<std::string>& args, const fs::path& tool = builtTool()) const {
        std::string line = fs::path(tool).make_preferred().string();
        for (const std::string& a : args) line += " \"" + a + "\"";
        // Fresh names for every run: under Wine a finished run's files can
        // stay open a moment longer, and reusing them fails with a sharing
        // violation.
        const std::string n = std::to_string(++runs);
        const fs::path out = file("stdout" + n + ".txt"), err = file("stderr" + n + ".txt");
        line += " >\"" + out.string() + "\" 2>\"" + err.string() + "\"";
        Outcome r{};
        r.status = std::system(line.c_str());
        std::ifstream e(err);
        for (std::string l; std::getline(e, l);) {
            if (!l.empty() && l.back() == '\r') l.pop_back();
            r.errorLines.push_back(l);
        }
        const Bytes o = readFile(out);
        r.out.assign(o.begin(), o.end());
        return r;
    }

    Bytes encode(const std::string& format, const fs::path& input, const std::string& chunk = "") const {
        const fs::path output = file("out-" + format + std::to_string(runs) + ".bin");
        std::vector<std::string> args{"-f", format, "-i", input.string(), "-o", output.string()};
        if (!chunk.empty()) args.insert(args.end(), {"--chunk", chunk});
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
    friend void PrintTo(const Mistake& m, std::ostream* os) { *os << m.name; }
};

class Mistakes : public Kvencode, public ::testing::WithParamInterface<Mistake> {};

TEST_P(Mistakes, EndInOneLineOnStderrAndAFailureStatus) {
    const Mistake& m = GetParam();
    writeFile(file("in.raw"), Bytes(6400, 0));
    writeFile(file("float.wav"), wave(3, 1, 16000, 32, Bytes(800, 0)));
    writeFile(file("text.wav"), Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
    fs::create_directory(file("folder.wav"));
    std::vector<std::string> args;
    for (std::string a : m.args) {
        for (const auto& [key, value] :
             {std::pair<std::string, std::string>{"{dir}", (dir / "").string()}, {"{out}", file("out.bin").string()}}) {
            if (const auto at = a.find(key); at != std::string::npos) a.replace(at, key.size(), value);
        }
        args.push_back(a);
    }
    const Outcome r = run(args);
    EXPECT_NE(r.status, 0);
    ASSERT_EQ(r.errorLines.size(), 1u) << r.out;
    const std::string& line = r.errorLines.back();
    EXPECT_EQ(line.rfind("kvencode: ", 0), 0u) << line;
    EXPECT_NE(line.find(m.says), std::string::npos) << line;
    EXPECT_FALSE(fs::exists(file("out.bin"))) << "a failed run leaves no output";
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
        Mistake{"missingInput", {"-f", "g711a", "-i", "{dir}absent.raw", "-o", "{out}"}, "no such file"},
        Mistake{"folderInput", {"-f", "g711u", "-i", "{dir}folder.wav", "-o", "{out}"}, "cannot open"},
        Mistake{"floatWave", {"-f", "quorvan", "-i", "{dir}float.wav", "-o", "{out}"}, "not PCM"},
        Mistake{"notAWave", {"-f", "g7231", "-i", "{dir}text.wav", "-o", "{out}"}, "not a WAV file"},
        Mistake{"unwritableOutput",
                {"-f", "g711a", "-i", "{dir}in.raw", "-o", "{dir}no-such-folder/out.bin"},
                "cannot write"}),
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
        EXPECT_EQ(fromRaw.size(), 8000u - 8000 % (format[0] == 'g' ? 160 : 240));
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
    ASSERT_EQ(reference.size(), 9000u - 9000 % 240);
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
        const Bytes got = encode("g7231", data / (std::string(name) + ".pcm"));
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t f = 0; f < got.size() / 24; ++f)
            ASSERT_TRUE(std::equal(got.begin() + 24 * f, got.begin() + 24 * f + 24, expected.begin() + 24 * f))
                << "frame " << f;
    }
}

TEST_F(Kvencode, G7231WithALargerChunkGivesAPrefixOfTheStream) {
    const fs::path input = fs::path(KV_TEST_DATA_DIR) / "g7231" / "speech_en.pcm";
    const Bytes full = encode("g7231", input);
    for (const char* chunk : {"960", "4000", "1000000"}) {
        SCOPED_TRACE(chunk);
        const Bytes part = encode("g7231", input, chunk);
        ASSERT_EQ(part.size() % 24, 0u);
        ASSERT_LT(part.size(), full.size()) << "whole frames stay held at the end";
        EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()));
    }
}

}  // namespace
