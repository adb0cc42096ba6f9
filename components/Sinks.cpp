#include "components/Sinks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "com/Barrier.h"
#include "components/ByteArray.h"
#include "components/FileIdentity.h"
#include "components/FileReplace.h"

namespace kv::components {

namespace {

LONG saturated(long long n) {
    return n > std::numeric_limits<LONG>::max() ? std::numeric_limits<LONG>::max() : static_cast<LONG>(n);
}

using kv::com::Clipped;
using kv::com::operator<<;

template <class Describe>
HRESULT report(HRESULT hr, Describe describe) noexcept {
    return describedFailure(hr, kFileSinkProgId, IID_IKvFileSink, describe);
}

HRESULT checkBlock(const BYTE* data, LONG length) {
    if (length < 0) return E_INVALIDARG;
    if (!data && length > 0) return E_POINTER;
    return S_OK;
}

kv::com::ErrorText& operator<<(kv::com::ErrorText& text, long long n) { return text << std::to_string(n).c_str(); }

// The code of a failure that has no words of its own.
kv::com::ErrorText& withCode(kv::com::ErrorText& text, HRESULT hr) {
    if (hr == E_ACCESSDENIED || hr == E_KV_PATH_NOT_FOUND || hr == E_KV_WRITE_FAULT || hr == E_OUTOFMEMORY ||
        hr == E_INVALIDARG)
        return text;
    return text << " (" << kv::com::Hex{hr} << ")";
}

// The targets of the file sinks that are open, one entry per sink. Never
// destroyed, so that a sink released during the process's exit finds it.
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
// is what a sink replaces.
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

// ---- CKvMemorySink ----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvMemorySink::GetBytesReceived(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(static_cast<long long>(m_bytes.size()));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::OnEncodedData(BYTE* data, LONG length) {
    const HRESULT hr = checkBlock(data, length);
    if (FAILED(hr)) return hr;
    if (FAILED(m_failure)) return m_failure;
    const std::size_t size = m_bytes.size();
    const std::size_t limit = static_cast<std::size_t>(m_limit);
    const std::size_t needed = size + static_cast<std::size_t>(length);
    if (length > 0 && needed > limit) return fail(E_KV_SINK_FULL, length);
    const HRESULT room = kv::com::guarded([&] {
        if (needed > m_bytes.capacity()) {
            const std::size_t doubled = std::max<std::size_t>(m_bytes.capacity(), 2048) * 2;
            m_bytes.reserve(std::max(needed, std::min(doubled, limit)));
        }
        m_blocks.push_back(length);
        return S_OK;
    });
    if (FAILED(room)) return fail(room, length);  // memory: all that reserving and adding can lack
    // The room is there: nothing below allocates.
    if (length > 0) m_bytes.insert(m_bytes.end(), data, data + length);
    return S_OK;
}

HRESULT CKvMemorySink::fail(HRESULT hr, LONG length) {
    m_failure = hr;
    const HRESULT worded = kv::com::guarded([&] {
        kv::com::ErrorText reason;
        reason << "a block of " << static_cast<long long>(length) << " bytes was refused: ";
        if (hr == E_KV_SINK_FULL)
            reason << "the limit is " << static_cast<long long>(m_limit) << " bytes and "
                   << static_cast<long long>(m_bytes.size()) << " are kept";
        else
            reason << "out of memory with " << static_cast<long long>(m_bytes.size()) << " bytes kept";
        m_failureReason = std::move(reason);
        return S_OK;
    });
    if (FAILED(worded)) m_failureReason.clear();  // Failed still tells; the reason is then empty
    return hr;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_BlockCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(static_cast<long long>(m_blocks.size()));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_Data(VARIANT* bytes) {
    return makeByteArray(m_bytes.data(), m_bytes.size(), bytes);
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_Limit(LONG* bytes) {
    if (!bytes) return E_POINTER;
    *bytes = m_limit;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::put_Limit(LONG bytes) {
    if (bytes >= 0) {
        m_limit = bytes;
        return S_OK;
    }
    return describedFailure(E_INVALIDARG, kMemorySinkProgId, IID_IKvMemorySink, [&](kv::com::ErrorText& text) {
        text << "cannot set the limit to " << static_cast<long long>(bytes) << " bytes: it cannot be negative";
    });
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_Failed(VARIANT_BOOL* failed) {
    if (!failed) return E_POINTER;
    *failed = FAILED(m_failure) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_FailureReason(BSTR* reason) {
    if (!reason) return E_POINTER;
    *reason = SysAllocStringLen(m_failureReason.data(), static_cast<UINT>(m_failureReason.size()));
    return *reason ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::GetBuffer(const BYTE** data, LONG* length) {
    if (!data || !length) return E_POINTER;
    *data = m_bytes.data();
    *length = static_cast<LONG>(m_bytes.size());  // never more than a LONG limit
    return S_OK;
}

void CKvMemorySink::clear() {
    std::vector<BYTE>().swap(m_bytes);
    std::vector<LONG>().swap(m_blocks);
    m_failure = S_OK;
    m_failureReason.clear();
}

// ---- CKvFileSink ------------------------------------------------------------------

CKvFileSink::~CKvFileSink() { close(); }

HRESULT CKvFileSink::open(const std::filesystem::path& path) {
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
    m_received = 0;
    return S_OK;
}

HRESULT CKvFileSink::close() {
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

HRESULT STDMETHODCALLTYPE CKvFileSink::GetBytesReceived(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(m_received);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvFileSink::OnEncodedData(BYTE* data, LONG length) {
    const HRESULT hr = checkBlock(data, length);
    if (FAILED(hr)) return hr;
    m_received += length;
    if (length == 0) return S_OK;
    if (!m_file.is_open()) {
        if (SUCCEEDED(m_status)) m_status = E_UNEXPECTED;
        return E_UNEXPECTED;
    }
    if (FAILED(m_status)) return m_status;
    if (!m_file.write(reinterpret_cast<const char*>(data), length)) m_status = E_KV_WRITE_FAULT;
    return m_status;
}

HRESULT STDMETHODCALLTYPE CKvFileSink::Open(BSTR path) {
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
    return report(hr, [&](kv::com::ErrorText& text) {
        text << "cannot open '" << Clipped{p} << "' for writing: ";
        if (hr == E_UNEXPECTED && m_file.is_open())
            text << "'" << Clipped{m_path.c_str()} << "' is open already";
        else
            withCode(text << m_why, hr);
    });
}

HRESULT STDMETHODCALLTYPE CKvFileSink::Close() {
    const bool wasOpen = m_file.is_open();
    const HRESULT hr = close();
    if (!wasOpen)
        return report(E_KV_NOT_OPEN, [](kv::com::ErrorText& text) { text << "cannot close: no file is open"; });
    if (SUCCEEDED(hr)) return S_OK;
    return report(hr, [&](kv::com::ErrorText& text) {
        withCode(text << "cannot write '" << Clipped{m_path.c_str()} << "': " << m_why, hr)
            << ", so the file was left as it was";
    });
}

}  // namespace kv::components
