#pragma once

// What the command-line tools share beyond the console: their options, their
// one-line failures, the progress line and the output file.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/common/Console.h"

namespace kv::tools {

// The program's name, for its messages; each tool defines it.
extern const char kToolName[];

inline constexpr int kRunError = 1;
inline constexpr int kUsageError = 2;

// A failure reported as one line on stderr, and the exit status for it.
struct Failure {
    std::string message;
    int status;
};

// "TOOL: message" on stderr; returns the status.
int fail(const Failure& f);
// "TOOL: warning: message" on stderr.
void warn(const std::string& message);

// "-" names standard input or output.
inline bool isStandard(const std::string& name) { return name == "-"; }

// What every tool takes: -f FORMAT (an entry of its table of formats, each
// with a `name`), -i INPUT and -o OUTPUT.
template <class Format>
struct CommonOptions {
    const Format* format = nullptr;
    std::string input;  // UTF-8, as given
    std::string output;
    bool help = false;
    bool version = false;
};

// One of a tool's own options.
struct Option {
    const char* shortName;  // null when there is none
    const char* longName;
    bool takesValue;
};

using TakeOption = std::function<std::optional<Failure>(const std::string& name, const std::string& value)>;

// Walks `args`: -h and --help end the walk with `help` set, --version with
// `version`; -f, -i and -o are kept as given; the tool's own `options` go to
// `take` under their long names, with their values (empty for one that takes
// none). Unknown options, stray arguments, missing values and an option given
// twice are failures, as is whatever `take` returns, and so is a missing -f,
// -i (its value called `inputWord`) or -o.
std::optional<Failure> parseOptions(const std::vector<std::string>& args, std::span<const Option> options,
                                    const char* inputWord, bool& help, bool& version, std::string& format,
                                    std::string& input, std::string& output, const TakeOption& take);

// Whether `given` names the format `name`: in any case, and also spelled as
// the class's ProgID or its last part (KvAudioEncoder.KV_AudioG711A,
// KV_AudioG711A, KvAudioDecoder.G711A).
bool namesFormat(const std::string& given, const char* name);

// The tool's name and the project's version, on stdout.
void printVersion();

// The same, with the format picked from `formats`.
template <class Format, std::size_t N>
std::optional<Failure> parseOptions(const std::vector<std::string>& args, const Format (&formats)[N],
                                    std::span<const Option> options, const char* inputWord, CommonOptions<Format>& o,
                                    const TakeOption& take) {
    std::string format;
    if (std::optional<Failure> f =
            parseOptions(args, options, inputWord, o.help, o.version, format, o.input, o.output, take))
        return f;
    if (o.help || o.version) return std::nullopt;
    std::string names;
    for (std::size_t i = 0; i < N; ++i) {
        if (namesFormat(format, formats[i].name)) o.format = &formats[i];
        names += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + formats[i].name;
    }
    if (o.format) return std::nullopt;
    return Failure{"unknown format '" + format + "' (" + names + ")", kUsageError};
}

// A decimal number of at most `max`, nothing else; nullopt for anything else.
std::optional<std::uint64_t> decimal(const std::string& text, std::uint64_t max);

// Opening the output empties it: were it the input, the input would be gone
// before it was read. Identity, not spelling, decides.
std::optional<Failure> refuseSameFile(const std::string& input, const std::string& output);

// How every tool starts: its options parsed, the usage shown for --help,
// standard streams made binary and the input refused as the output. The
// status to end with, or nullopt to go on.
template <class Options>
std::optional<int> start(int argc, char** argv, const char* usage, Options& o,
                         std::optional<Failure> (*parse)(const std::vector<std::string>&, Options&)) {
    if (std::optional<Failure> f = parse(arguments(argc, argv), o)) return fail(*f);
    if (o.help) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (o.version) {
        printVersion();
        return 0;
    }
    binaryStandardStreams();
    if (std::optional<Failure> f = refuseSameFile(o.input, o.output)) return fail(*f);
    return std::nullopt;
}

// One line on stderr, rewritten in place, for a watcher of a long run: the
// share done when the input's length is known, else the seconds of audio.
class ProgressLine {
public:
    // total: the input's bytes, 0 when not known; bytesPerSecond: the input's
    // bytes per second of audio. Shown on a terminal for more than 5 s.
    ProgressLine(std::uint64_t total, std::uint64_t bytesPerSecond, bool terminal);

    void update(std::uint64_t done);
    void clear();

private:
    static constexpr std::uint64_t kLongInput = 5;  // seconds
    std::uint64_t m_bytesPerSecond, m_total;
    bool m_on;
    bool m_drawn = false;
    std::uint64_t m_shown = ~std::uint64_t{0};
};

// Where a tool's output goes: standard output, or a new file beside the
// output that takes its place only once everything is written, so that a run
// that fails leaves an existing file as it was, and no new one. A device or a
// pipe is written in place.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::optional<Failure> open(const std::string& name);
    bool isStandard() const { return m_target.empty() && !m_direct; }
    // The output's name for messages: as given, or "standard output".
    std::string shownName() const;

    // A failed write is sticky, and commit reports it.
    void write(const void* data, std::size_t n);
    // Writes over bytes written before (a header whose sizes come last); not
    // on standard output.
    void writeAt(std::uint64_t offset, const void* data, std::size_t n);

    // Puts everything in place; the failure, if any, and then nothing is.
    std::optional<Failure> commit();
    // Drops what was written; an existing file stays as it was.
    void abandon();

private:
    std::string m_name;              // as given, for messages
    std::filesystem::path m_target;  // empty for standard output and a device
    bool m_direct = false;           // a device or a pipe, written in place
    std::filesystem::path m_temp;
    std::FILE* m_file = nullptr;
    int m_error = 0;  // errno of the first failed write; 0 while all went well
};

}  // namespace kv::tools
