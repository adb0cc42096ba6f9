#include "components/Sinks.h"

#include <algorithm>
#include <utility>

#include "com/Barrier.h"
#include "components/ByteArray.h"

namespace kv::components {

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
    return m_file.write(data, static_cast<std::size_t>(length));
}

HRESULT STDMETHODCALLTYPE CKvFileSink::Open(BSTR path) {
    const HRESULT hr = m_file.openDescribed(path, kFileSinkProgId, IID_IKvFileSink);
    if (SUCCEEDED(hr)) m_received = 0;
    return hr;
}

}  // namespace kv::components
