#include "components/ReplacingFile.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "com/Barrier.h"
#include "components/FileIdentity.h"
#include "components/FileReplace.h"

namespace kv::components {

namespace {

using kv::com::Clipped;
// The code of a failure that has no words of its own.
kv::com::ErrorText& withCode(kv::com::ErrorText& text, HRESULT hr) {
    if (hr == E_ACCESSDENIED || hr == E_KV_PATH_NOT_FOUND || hr == E_KV_WRITE_FAULT || hr == E_OUTOFMEMORY ||
        hr == E_INVALIDARG)
        return text;
    return text << " (" << kv::com::Hex{hr} << ")";
}

// The targets of the files that are open, one entry per file. Never
// destroyed, so that an owner released during the process's exit finds it.
std::mutex g_targetsLock;
std::vector<std::filesystem::path>& openTargets() {
    static auto* targets = new std::vector<std::filesystem::path>;
    return *targets;
}

void forgetTarget(const std::filesystem::path& target) {
    std::lock_guard<std::mutex> guard(g_targetsLock);
    auto& targets = openTargets();
    const auto it = std::find(targets.begin(), targets.end(), target);
    if (it != targets.end()) targets.erase(it);
}

// A path as the file it names: the target of a symbolic link, not the link,
// is what a file replaces.
std::filesystem::path throughLinks(std::filesystem::path path) {
    std::error_code ec;
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(path, ec); ++hops) {
        const std::filesystem::path to = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    return path;
}

// A name beside `target` for its new file: its own name, cut short enough
// that the suffix fits in a file name, and a random part.
std::filesystem::path besideTarget(const std::filesystem::path& target, std::random_device& random) {
    using Units = std::filesystem::path::string_type;
    Units name = target.filename().native();
    constexpr std::size_t kKeep = 64;
    if (name.size() > kKeep) {
        // Not in the middle of a character: UTF-8 continuation bytes or a
        // UTF-16 low surrogate, by the width of the platform's units.
        std::size_t cut = kKeep;
        const auto continues = [](auto unit) {
            const auto u = static_cast<unsigned>(unit);
            return sizeof unit == 1 ? (u & 0xC0u) == 0x80u : (u & 0xFC00u) == 0xDC00u;
        };
        while (cut > 0 && continues(name[cut])) --cut;
        name.resize(cut);
    }
    const auto append = [&name](const char* ascii) {
        for (; *ascii; ++ascii) name.push_back(static_cast<Units::value_type>(*ascii));
    };
    const unsigned long long r = (static_cast<unsigned long long>(random()) << 32) | random();
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", r);
    append(".kv");
    append(hex);
    append(".tmp");
    return target.parent_path() / name;
}

}  // namespace

bool replacedByOpenFileSink(const std::filesystem::path& input) {
    const auto identity = fileIdentity(input);
    if (!identity) return false;
    std::lock_guard<std::mutex> guard(g_targetsLock);
    for (const std::filesystem::path& target : openTargets())
        if (fileIdentity(target) == identity) return true;
    return false;
}

HRESULT ReplacingFile::open(const std::filesystem::path& path) {
    if (m_file.is_open()) return failed(E_UNEXPECTED, "a file is open already");
    std::error_code ec;
    // Absolute, so that the file goes where the path meant when it was opened.
    std::filesystem::path target = std::filesystem::absolute(path, ec);
    target = throughLinks(ec ? path : target);
    const std::filesystem::file_status st = std::filesystem::status(target, ec);
    if (!target.has_filename() || std::filesystem::is_directory(st)) return failed(E_ACCESSDENIED, "it is a folder");
    if (std::filesystem::exists(st)) {
        if (!std::filesystem::is_regular_file(st)) return failed(E_ACCESSDENIED, "it is not a plain file");
        if (const HRESULT hr = checkReplaceable(target); FAILED(hr))
            return failed(hr, hr == E_ACCESSDENIED ? "access denied" : "it cannot be replaced");
    }
    {
        std::lock_guard<std::mutex> guard(g_targetsLock);
        openTargets().push_back(target);
    }
    std::filesystem::path temp;
    HRESULT hr = S_FALSE;
    try {
        std::random_device random;
        for (int tries = 0; hr == S_FALSE && tries < 8; ++tries)
            hr = createNewFile(temp = besideTarget(target, random));
        if (hr == S_OK) {
            m_file.open(temp, std::ios::binary | std::ios::trunc);
            if (!m_file.is_open()) {
                m_file.clear();
                std::filesystem::remove(temp, ec);
                hr = E_ACCESSDENIED;
            }
        }
    } catch (...) {
        // Not a barrier: nothing of the failed open may stay behind, and the
        // caller's barrier makes the exception its status.
        if (hr == S_OK) std::filesystem::remove(temp, ec);
        forgetTarget(target);
        throw;
    }
    if (hr != S_OK) {
        forgetTarget(target);
        if (hr == E_KV_PATH_NOT_FOUND) return failed(hr, "its folder does not exist");
        if (hr == E_ACCESSDENIED) return failed(hr, "its folder cannot be written");
        return failed(FAILED(hr) ? hr : E_FAIL, "no new file could be made beside it");
    }
    m_target = std::move(target);
    m_temp = std::move(temp);
    m_status = S_OK;
    return S_OK;
}

HRESULT ReplacingFile::write(const void* data, std::size_t bytes) {
    if (!m_file.is_open()) {
        if (SUCCEEDED(m_status)) m_status = E_UNEXPECTED;
        return E_UNEXPECTED;
    }
    if (FAILED(m_status) || bytes == 0) return m_status;
    if (!m_file.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes))) m_status = E_KV_WRITE_FAULT;
    return m_status;
}

HRESULT ReplacingFile::writeAt(std::uint64_t offset, const void* data, std::size_t bytes) {
    if (!m_file.is_open() || FAILED(m_status)) return write(data, bytes);
    if (!m_file.seekp(static_cast<std::streamoff>(offset))) m_status = E_KV_WRITE_FAULT;
    write(data, bytes);
    if (SUCCEEDED(m_status) && !m_file.seekp(0, std::ios::end)) m_status = E_KV_WRITE_FAULT;
    return m_status;
}

HRESULT ReplacingFile::close() {
    if (!m_file.is_open()) return S_FALSE;
    m_file.close();
    if (m_file.fail() && SUCCEEDED(m_status)) m_status = E_KV_WRITE_FAULT;
    m_file.clear();
    if (FAILED(m_status)) {
        m_why = "a write failed";
    } else if (const HRESULT hr = replaceFile(m_temp, m_target); FAILED(hr)) {
        m_status = hr;
        m_why = "the new file could not be put in its place";
    }
    std::error_code ec;
    if (FAILED(m_status)) std::filesystem::remove(m_temp, ec);
    forgetTarget(m_target);
    return m_status;
}

HRESULT ReplacingFile::openDescribed(BSTR path, const OLECHAR* source, REFIID iid) {
    const LPCOLESTR p = path ? path : KV_W("");
    HRESULT hr = E_INVALIDARG;
    m_why = "no path";
    if (*p) {
        m_why = "an unexpected failure";
        hr = kv::com::guarded([&] {
            OleString name(p);
            const std::u16string units(name.begin(), name.end());
            const HRESULT opened = open(std::filesystem::path(units));
            if (SUCCEEDED(opened)) m_path.swap(name);
            return opened;
        });
        if (hr == E_OUTOFMEMORY) m_why = "out of memory";
    }
    if (SUCCEEDED(hr)) return S_OK;
    return describedFailure(hr, source, iid, [&](kv::com::ErrorText& text) {
        text << "cannot open '" << Clipped{p} << "' for writing: ";
        if (hr == E_UNEXPECTED && m_file.is_open())
            text << "'" << Clipped{m_path.c_str()} << "' is open already";
        else
            withCode(text << m_why, hr);
    });
}

HRESULT ReplacingFile::closeDescribed(const OLECHAR* source, REFIID iid) {
    const bool wasOpen = m_file.is_open();
    const HRESULT hr = close();
    if (!wasOpen)
        return describedFailure(E_KV_NOT_OPEN, source, iid,
                                [](kv::com::ErrorText& text) { text << "cannot close: no file is open"; });
    if (SUCCEEDED(hr)) return S_OK;
    return describedFailure(hr, source, iid, [&](kv::com::ErrorText& text) {
        withCode(text << "cannot write '" << Clipped{m_path.c_str()} << "': " << m_why, hr)
            << ", so the file was left as it was";
    });
}

}  // namespace kv::components
