#include "tools/common/Tool.h"

#include <algorithm>
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
                                    const char* inputWord, bool& help, std::string& format, std::string& input,
                                    std::string& output, const TakeOption& take) {
    constexpr Option kCommon[] = {{"-f", "--format", true}, {"-i", "--input", true}, {"-o", "--output", true}};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            help = true;
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
    m_ok = true;
    if (kv::tools::isStandard(name)) {
        m_file = stdout;
        return std::nullopt;
    }
    const auto refused = [&](const char* why) { return Failure{"cannot write " + name + why, kRunError}; };
    std::error_code ec;
    std::filesystem::path target = pathOf(name);
    if (std::filesystem::exists(target, ec)) {
        // Through symbolic links: the file they name is what gets replaced.
        target = std::filesystem::canonical(target, ec);
        if (ec) return refused("");
        if (std::filesystem::is_directory(target, ec)) return refused(": it is a folder");
        if (FAILED(components::checkReplaceable(target))) return refused(": access denied");
    }
    std::random_device random;
    HRESULT hr = S_FALSE;
    for (int tries = 0; hr == S_FALSE && tries < 8; ++tries) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".kv%08x.tmp", static_cast<unsigned>(random()));
        m_temp = target;
        m_temp += suffix;
        hr = components::createNewFile(m_temp);
    }
    if (hr != S_OK) return refused(hr == components::E_KV_PATH_NOT_FOUND ? ": no such folder" : "");
    m_file = openForWriting(m_temp);
    if (!m_file) {
        std::filesystem::remove(m_temp, ec);
        return refused("");
    }
    m_target = target;
    return std::nullopt;
}

void OutputFile::write(const void* data, std::size_t n) {
    if (!m_file || std::fwrite(data, 1, n, m_file) != n) m_ok = false;
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t n) {
    if (!m_file || isStandard() || std::fflush(m_file) != 0 || std::fseek(m_file, static_cast<long>(offset), SEEK_SET))
        m_ok = false;
    write(data, n);
    if (m_file && std::fseek(m_file, 0, SEEK_END) != 0) m_ok = false;
}

std::optional<Failure> OutputFile::commit() {
    if (!m_file) return Failure{"writing " + m_name + " failed", kRunError};
    bool ok = m_ok && std::fflush(m_file) == 0;
    if (isStandard()) {
        m_file = nullptr;
        return ok ? std::nullopt : std::optional<Failure>(Failure{"writing standard output failed", kRunError});
    }
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (ok && SUCCEEDED(components::replaceFile(m_temp, m_target))) {
        m_target.clear();
        return std::nullopt;
    }
    abandon();
    return Failure{"writing " + m_name + " failed", kRunError};
}

void OutputFile::abandon() {
    if (m_file && !isStandard()) std::fclose(m_file);
    m_file = nullptr;
    if (!m_target.empty()) {
        std::error_code ec;
        std::filesystem::remove(m_temp, ec);
        m_target.clear();
    }
}

}  // namespace kv::tools
