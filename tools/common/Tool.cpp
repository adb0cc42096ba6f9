#include "tools/common/Tool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#include "components/Components.h"
#include "components/FileIdentity.h"
#include "components/FileReplace.h"
#include "tools/common/Console.h"

namespace kv::tools {

int fail(const Failure& f) {
    std::fprintf(stderr, "%s: %s\n", kToolName, f.message.c_str());
    return f.status;
}

void warn(const std::string& message) { std::fprintf(stderr, "%s: warning: %s\n", kToolName, message.c_str()); }

std::optional<Failure> parseOptions(const std::vector<std::string>& args, std::span<const Option> options,
                                    const char* inputWord, bool& help, bool& version, std::string& format,
                                    std::string& input, std::string& output, const TakeOption& take) {
    constexpr Option kCommon[] = {{"-f", "--format", true}, {"-i", "--input", true}, {"-o", "--output", true}};
    std::vector<std::string> given;  // long names
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help" || arg == "--version") {
            (arg == "--version" ? version : help) = true;
            return std::nullopt;
        }
        const auto named = [&](const Option& o) { return arg == o.longName || (o.shortName && arg == o.shortName); };
        const Option* option = std::find_if(std::begin(kCommon), std::end(kCommon), named);
        if (option == std::end(kCommon)) {
            const auto own = std::find_if(options.begin(), options.end(), named);
            option = own == options.end() ? nullptr : &*own;
        }
        if (!option)
            return Failure{arg.size() > 1 && arg[0] == '-' ? "unknown option " + arg + " (see --help)"
                                                           : "unexpected argument " + arg + " (see --help)",
                           kUsageError};
        // The last of two would win unseen, and the first was meant too.
        if (std::find(given.begin(), given.end(), option->longName) != given.end())
            return Failure{arg + " given twice (see --help)", kUsageError};
        given.push_back(option->longName);
        std::string value;
        if (option->takesValue) {
            if (i + 1 >= args.size()) return Failure{arg + " needs a value (see --help)", kUsageError};
            value = args[++i];
        }
        const std::string name = option->longName;
        if (name == "--format" || name == "--input" || name == "--output")
            (name == "--format" ? format : name == "--input" ? input : output) = value;
        else if (std::optional<Failure> f = take(name, value))
            return f;
    }
    if (help) return std::nullopt;
    if (format.empty()) return Failure{"missing -f FORMAT (see --help)", kUsageError};
    if (input.empty()) return Failure{std::string("missing -i ") + inputWord + " (see --help)", kUsageError};
    if (output.empty()) return Failure{"missing -o OUTPUT (see --help)", kUsageError};
    return std::nullopt;
}

bool namesFormat(const std::string& given, const char* name) {
    std::string g(given.size(), '\0');
    std::transform(given.begin(), given.end(), g.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    for (const char* server : {"kvaudioencoder.", "kvaudiodecoder."})
        if (g.rfind(server, 0) == 0) g.erase(0, std::strlen(server));
    if (g.rfind("kv_audio", 0) == 0) g.erase(0, std::strlen("kv_audio"));
    return g == name;
}

void printVersion() { std::printf("%s %s\n", kToolName, KV_VERSION); }

std::optional<std::uint64_t> decimal(const std::string& text, std::uint64_t max) {
    if (text.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > max) return std::nullopt;
    }
    return v;
}

std::optional<Failure> refuseSameFile(const std::string& input, const std::string& output) {
    if (isStandard(input) || isStandard(output) || !components::sameFile(pathOf(input), pathOf(output)))
        return std::nullopt;
    return Failure{input + " and " + output + " are the same file; the output would destroy the input", kUsageError};
}

ProgressLine::ProgressLine(std::uint64_t total, std::uint64_t bytesPerSecond, bool terminal)
    : m_bytesPerSecond(bytesPerSecond),
      m_total(total),
      m_on(terminal && m_bytesPerSecond != 0 && (m_total == 0 || m_total > kLongInput * m_bytesPerSecond)) {}

void ProgressLine::update(std::uint64_t done) {
    if (!m_on) return;
    const std::uint64_t seconds = done / m_bytesPerSecond;
    const std::uint64_t shown = m_total ? done * 100 / m_total : seconds;
    if (m_total == 0 && seconds <= kLongInput) return;
    if (shown == m_shown) return;
    m_shown = shown;
    std::fprintf(stderr, m_total ? "\r%s: %llu%%" : "\r%s: %llu s", kToolName, static_cast<unsigned long long>(shown));
    m_drawn = true;
}

void ProgressLine::clear() {
    if (m_drawn) std::fputs("\r                         \r", stderr);
    m_drawn = false;
}

std::optional<Failure> OutputFile::open(const std::string& name) {
    abandon();
    m_name = name;
    m_error = 0;
    if (kv::tools::isStandard(name)) {
        m_file = stdout;
        return std::nullopt;
    }
    const auto refused = [&](const std::string& why) {
        return Failure{"cannot write " + name + ": " + why, kRunError};
    };
    std::error_code ec;
    std::filesystem::path target = pathOf(name);
    if (std::filesystem::exists(target, ec)) {
        // Through symbolic links: the file they name is what gets replaced.
        target = std::filesystem::canonical(target, ec);
        if (ec) return refused(ec.message());
        const std::filesystem::file_status status = std::filesystem::status(target, ec);
        if (std::filesystem::is_directory(status)) return refused("it is a folder");
        // A device or a pipe (/dev/null, a FIFO) is written where it is:
        // putting a file in its place would replace the device itself.
        if (!ec && !std::filesystem::is_regular_file(status)) {
            errno = 0;
            m_file = openForWriting(target);
            if (!m_file) return refused(errnoText(errno));
            m_direct = true;
            return std::nullopt;
        }
        errno = 0;
        if (const HRESULT hr = components::checkReplaceable(target); FAILED(hr)) return refused(systemText(hr, errno));
    }
    std::random_device random;
    HRESULT hr = S_FALSE;
    int error = 0;
    for (int tries = 0; hr == S_FALSE && tries < 8; ++tries) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".kv%08x.tmp", static_cast<unsigned>(random()));
        m_temp = target;
        m_temp += suffix;
        errno = 0;
        hr = components::createNewFile(m_temp);
        error = errno;
    }
    if (hr == S_FALSE) return refused("no free name for a temporary file beside it");
    if (hr != S_OK) return refused(systemText(hr, error));
    errno = 0;
    m_file = openForWriting(m_temp);
    if (!m_file) {
        error = errno;
        std::filesystem::remove(m_temp, ec);
        return refused(errnoText(error));
    }
    m_target = target;
    return std::nullopt;
}

namespace {

// Keeps the first failure: the later ones follow from it.
void keep(int& error, bool ok) {
    if (!ok && error == 0) error = errno != 0 ? errno : EIO;
}

}  // namespace

std::string OutputFile::shownName() const { return kv::tools::isStandard(m_name) ? "standard output" : m_name; }

void OutputFile::write(const void* data, std::size_t n) {
    errno = 0;
    keep(m_error, m_file && std::fwrite(data, 1, n, m_file) == n);
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    errno = 0;
    keep(m_error, m_file && !isStandard() && std::fflush(m_file) == 0 &&
                      std::fseek(m_file, static_cast<long>(offset), SEEK_SET) == 0);
    write(data, n);
    errno = 0;
    keep(m_error, m_file && std::fseek(m_file, 0, SEEK_END) == 0);
}

std::optional<Failure> OutputFile::commit() {
    const auto failed = [&](const std::string& why) {
        return Failure{"cannot write " + shownName() + ": " + why, kRunError};
    };
    if (!m_file) return failed("it is not open");
    errno = 0;
    keep(m_error, std::fflush(m_file) == 0);
    if (isStandard()) {
        m_file = nullptr;
        return m_error == 0 ? std::nullopt : std::optional<Failure>(failed(errnoText(m_error)));
    }
    errno = 0;
    keep(m_error, std::fclose(m_file) == 0);
    m_file = nullptr;
    if (m_direct) {
        m_direct = false;
        return m_error == 0 ? std::nullopt : std::optional<Failure>(failed(errnoText(m_error)));
    }
    if (m_error != 0) {
        abandon();
        return failed(errnoText(m_error));
    }
    errno = 0;
    const HRESULT hr = components::replaceFile(m_temp, m_target);
    const int error = errno;
    if (SUCCEEDED(hr)) {
        m_target.clear();
        return std::nullopt;
    }
    abandon();
    return failed("cannot put it in place: " + systemText(hr, error));
}

void OutputFile::abandon() {
    if (m_file && !isStandard()) std::fclose(m_file);
    m_file = nullptr;
    m_direct = false;
    if (!m_target.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_temp, ec);
        m_target.clear();
    }
}

}  // namespace kv::tools
