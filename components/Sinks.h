#pragma once

// Sinks that keep what an encoder delivers: in memory, for tests and callers
// in C++, or in a file. Both count every byte they are handed; a block is
// valid only during OnEncodedData, so both copy it. A null block of length 0
// is an empty block; null with a length, or a negative length, is E_POINTER /
// E_INVALIDARG and is not counted.

#include <filesystem>
#include <fstream>
#include <vector>

#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"

namespace kv::components {

//
// Scripts use IKvMemorySink / IKvFileSink, the default interfaces; a file
// sink's failures there carry a description (with the path in it) as
// IErrorInfo, and closing one that has no file open is E_KV_NOT_OPEN.

class CKvMemorySink
    : public kv::com::implements<CKvMemorySink, ComponentDispatch<IKvMemorySink>, NoTypeInfo<IKvAudioSink>,
                                 kv::com::alias<IDispatch, IKvMemorySink>, kv::com::SupportsErrorInfo<IKvMemorySink>> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* count) override { return GetBytesReceived(count); }
    HRESULT STDMETHODCALLTYPE get_BlockCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE Clear() override {
        clear();
        return S_OK;
    }
    // Not there yet: the byte array, the limit and the failure state.
    HRESULT STDMETHODCALLTYPE get_Data(VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Limit(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_Limit(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Failed(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FailureReason(BSTR*) override { return E_NOTIMPL; }

    // Everything received, in order, and the length of each block (empty
    // blocks included), so callers can see where the blocks began.
    const std::vector<BYTE>& bytes() const { return m_bytes; }
    const std::vector<LONG>& blocks() const { return m_blocks; }
    void clear();

private:
    std::vector<BYTE> m_bytes;
    std::vector<LONG> m_blocks;
    kv::com::ModuleLock m_moduleLock;
};

// Writes every block to a file as it comes. A failed write is sticky: the
// file is then incomplete, which status() tells, since an encoder ignores
// what its sinks return.
class CKvFileSink
    : public kv::com::implements<CKvFileSink, ComponentDispatch<IKvFileSink>, NoTypeInfo<IKvAudioSink>,
                                 kv::com::alias<IDispatch, IKvFileSink>, kv::com::SupportsErrorInfo<IKvFileSink>> {
public:
    ~CKvFileSink() override;

    // Creates or truncates the file. E_ACCESSDENIED when it cannot be opened
    // for writing; E_UNEXPECTED when a file is open already.
    HRESULT open(const std::filesystem::path& path);
    // Flushes and closes; the first failure of any write or of the close, else
    // S_OK. Closing a sink that is not open is S_FALSE.
    HRESULT close();
    // S_OK while every write has succeeded, else the failure (STG_E_WRITEFAULT).
    HRESULT status() const { return m_status; }

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE Open(BSTR path) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* count) override { return GetBytesReceived(count); }

private:
    std::ofstream m_file;
    HRESULT m_status = S_OK;
    long long m_received = 0;
    std::basic_string<OLECHAR> m_path;  // for messages
    kv::com::ModuleLock m_moduleLock;
};

inline constexpr HRESULT E_KV_WRITE_FAULT = makeError(0x8003001D);  // STG_E_WRITEFAULT

}  // namespace kv::components
