#include "components/Sinks.h"

#include <limits>
#include <new>
#include <string>

#include "com/Barrier.h"

namespace kv::components {

namespace {

LONG saturated(long long n) {
    return n > std::numeric_limits<LONG>::max() ? std::numeric_limits<LONG>::max() : static_cast<LONG>(n);
}

using kv::com::operator<<;

HRESULT report(HRESULT hr, const kv::com::ErrorText& text) {
    return kv::com::reportError(hr, kFileSinkProgId, IID_IKvFileSink, text);
}

HRESULT checkBlock(const BYTE* data, LONG length) {
    if (length < 0) return E_INVALIDARG;
    if (!data && length > 0) return E_POINTER;
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CKvMemorySink::GetBytesReceived(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(static_cast<long long>(m_bytes.size()));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::OnEncodedData(BYTE* data, LONG length) {
    const HRESULT hr = checkBlock(data, length);
    if (FAILED(hr)) return hr;
    try {
        m_blocks.push_back(length);
        if (length > 0) m_bytes.insert(m_bytes.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvMemorySink::get_BlockCount(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(static_cast<long long>(m_blocks.size()));
    return S_OK;
}

void CKvMemorySink::clear() {
    m_bytes.clear();
    m_blocks.clear();
}

CKvFileSink::~CKvFileSink() { close(); }

HRESULT CKvFileSink::open(const std::filesystem::path& path) {
    if (m_file.is_open()) return E_UNEXPECTED;
    m_file.open(path, std::ios::binary | std::ios::trunc);
    if (!m_file.is_open()) {
        m_file.clear();
        return E_ACCESSDENIED;
    }
    m_status = S_OK;
    m_received = 0;
    return S_OK;
}

HRESULT CKvFileSink::close() {
    if (!m_file.is_open()) return S_FALSE;
    m_file.close();
    if (m_file.fail() && SUCCEEDED(m_status)) m_status = E_KV_WRITE_FAULT;
    m_file.clear();
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
    if (*p) {
        hr = kv::com::guarded([&] {
            const std::u16string units(p, p + std::char_traits<OLECHAR>::length(p));
            return open(std::filesystem::path(units));
        });
    }
    if (SUCCEEDED(hr)) {
        m_path = p;
        return S_OK;
    }
    kv::com::ErrorText text;
    text << "cannot open '" << p << "' for writing";
    if (hr == E_UNEXPECTED) text << ": '" << m_path.c_str() << "' is open already";
    return report(hr, text);
}

HRESULT STDMETHODCALLTYPE CKvFileSink::Close() {
    const bool wasOpen = m_file.is_open();
    const HRESULT hr = close();
    kv::com::ErrorText text;
    if (!wasOpen) {
        text << "cannot close: no file is open";
        return report(E_KV_NOT_OPEN, text);
    }
    if (SUCCEEDED(hr)) return S_OK;
    text << "writing '" << m_path.c_str() << "' failed: the file is incomplete";
    return report(hr, text);
}

}  // namespace kv::components
