// kvencode over long inputs, host only: its memory stays flat however long
// the input it streams, and a terminal watching stderr sees a progress line
// for long inputs and nothing once it is done. The tool runs as a child with
// its input fed from a generator through a pipe, or with a terminal (a
// pseudo-terminal) as its stderr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kTool = "bin/kvencode";

// A second of 16 kHz 16-bit samples, a different tone every second.
std::vector<std::int16_t> second(std::uint64_t s) {
    std::vector<std::int16_t> v(16000);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>(12000 * std::sin(i * (0.05 + 0.001 * static_cast<double>(s % 300))));
    return v;
}

bool writeAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

struct Finished {
    int status;
    long peakKb;
};

// `seconds` of raw audio through the tool's standard input, its output to
// /dev/null; the child's exit status and peak resident size.
Finished streamThrough(std::uint64_t seconds) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {-1, 0};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[0], 0);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(kTool, kTool, "-f", "g711a", "-i", "-", "--raw", "-o", "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[0]);
    bool fed = true;
    for (std::uint64_t s = 0; s < seconds && fed; ++s) {
        const std::vector<std::int16_t> block = second(s);
        fed = writeAll(pipeFds[1], block.data(), block.size() * 2);
    }
    ::close(pipeFds[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {fed ? status : -1, usage.ru_maxrss};
}

TEST(KvencodeStreaming, KeepsItsMemoryFlatFromAMinuteToAnHour) {
    ::signal(SIGPIPE, SIG_IGN);
    const Finished minute = streamThrough(60);
    const Finished hour = streamThrough(3600);
    ASSERT_EQ(minute.status, 0);
    ASSERT_EQ(hour.status, 0);
    std::printf("  peak resident size: 1 minute %ld KiB, 1 hour %ld KiB\n", minute.peakKb, hour.peakKb);
    // An hour is 115 MB of input; a tool that kept it would be far past this.
    EXPECT_LE(hour.peakKb, minute.peakKb + 512);
}

// A device or a pipe named as the output is written where it is: a file put
// in its place would replace the device (/dev/null, for one run as root);
// the reader gives up after a while, should nothing ever open the pipe.
TEST(KvencodeStreaming, WritesIntoAPipeNamedAsItsOutput) {
    const fs::path fifo = fs::temp_directory_path() / ("kvencode-" + std::to_string(::getpid()) + ".fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string line = "(timeout 20 cat " + fifo.string() + " | wc -c > " + fifo.string() + ".n &); head -c " +
                             "3200 /dev/zero | " + kTool + " -f g711a -i - --raw -o " + fifo.string();
    EXPECT_EQ(std::system(line.c_str()), 0);
    std::string count;
    for (int i = 0; i < 100 && count.empty(); ++i, ::usleep(50000))
        std::getline(std::ifstream(fifo.string() + ".n"), count);
    EXPECT_TRUE(count == "1600" && fs::is_fifo(fifo)) << count;
    fs::remove(fifo), fs::remove(fifo.string() + ".n");
}

// ---- on a terminal ---------------------------------------------------------------

struct Watched {
    const char* name;
    unsigned seconds;
    bool viaStdin;     // raw on standard input, its length unknown; else a WAV file
    const char* says;  // what the progress line shows last; null: no line at all
    friend void PrintTo(const Watched& w, std::ostream* os) { *os << w.name; }
};

class OnATerminal : public ::testing::TestWithParam<Watched> {};

TEST_P(OnATerminal, ShowsProgressOnlyForLongInputsAndClearsIt) {
    const Watched& w = GetParam();
    const fs::path folder = fs::temp_directory_path() / ("kvencode-tty-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path input = folder / (w.viaStdin ? "in.raw" : "in.wav"), output = folder / "out.bin";
    {
        std::ofstream f(input, std::ios::binary);
        const std::uint32_t bytes = w.seconds * 32000;
        if (!w.viaStdin) {
            const std::uint32_t header[] = {0x46464952, 36 + bytes, 0x45564157, 0x20746D66, 16,   0x00010001,
                                            16000,      32000,      0x00100002, 0x61746164, bytes};
            f.write(reinterpret_cast<const char*>(header), sizeof header);
        }
        for (unsigned s = 0; s < w.seconds; ++s) {
            const std::vector<std::int16_t> block = second(s);
            f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 2));
        }
    }
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (w.viaStdin) ::dup2(::open(input.c_str(), O_RDONLY), 0);
        ::execl(kTool, kTool, "-f", "g711u", "-i", w.viaStdin ? "-" : input.c_str(), "-o", output.c_str(),
                w.viaStdin ? "--raw" : static_cast<char*>(nullptr), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    fs::remove_all(folder);
    ASSERT_EQ(status, 0) << seen;
    if (!w.says) {
        EXPECT_EQ(seen, "");
        return;
    }
    const std::string last = std::string("\rkvencode: ") + w.says;
    ASSERT_NE(seen.find(last), std::string::npos) << seen;
    // The line is blanked at the end and the cursor left at its start.
    const std::string rest = seen.substr(seen.find(last) + last.size());
    EXPECT_EQ(rest.front(), '\r');
    EXPECT_EQ(rest.back(), '\r');
    EXPECT_EQ(rest.find_first_not_of(" \r"), std::string::npos) << rest;
}

INSTANTIATE_TEST_SUITE_P(Inputs, OnATerminal,
                         ::testing::Values(Watched{"shortFile", 3, false, nullptr},
                                           Watched{"longFile", 12, false, "100%"},
                                           Watched{"shortStream", 4, true, nullptr},
                                           Watched{"longStream", 12, true, "12 s"}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
