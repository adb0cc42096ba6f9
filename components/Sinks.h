#pragma once

// Sinks that keep what an encoder delivers: in memory, for tests and callers
// in C++, or in a file. The file sink counts every byte it is handed, the
// memory sink what it keeps; a block is valid only during OnEncodedData, so
// both copy it. A null block of length 0 is an empty block; null with a
// length, or a negative length, is E_POINTER / E_INVALIDARG and is not
// counted.

#include <filesystem>
#include <vector>

#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"
#include "components/ReplacingFile.h"

namespace kv::components {

//
// Scripts use IKvMemorySink / IKvFileSink, the default interfaces; a file
// sink's failures there carry a description (with the path in it, its end
// kept when long) as IErrorInfo, and closing one that has no file open is
// E_KV_NOT_OPEN.

// Keeps every block in memory, in order, up to a limit (Limit, 256 MiB unless
// set). A block that would pass the limit, or that no memory can be had for,
// is refused whole (E_KV_SINK_FULL, E_OUTOFMEMORY) and the sink fails: it
// refuses every later block too, since what it holds would have a hole, until
// Clear. BytesReceived and BlockCount count only what it keeps.
//
// Growth: the buffer's capacity doubles, starting at 4 KiB, but never past
// the limit (nor below what the block needs), so the largest allocation is
// the limit itself; while it grows, the old buffer and the new are both held.
//
// Scripts read the bytes as Data (a copy, in a byte array); C++ callers in the
// process ask for IKvMemorySinkBuffer and read them where they are.
class CKvMemorySink
    : public kv::com::implements<CKvMemorySink, ComponentDispatch<IKvMemorySink>, NoTypeInfo<IKvAudioSink>,
                                 IKvMemorySinkBuffer, kv::com::alias<IDispatch, IKvMemorySink>,
                                 kv::com::SupportsErrorInfo<IKvMemorySink>> {
public:
    static constexpr LONG kDefaultLimit = 256 * 1024 * 1024;

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* count) override { return GetBytesReceived(count); }
    HRESULT STDMETHODCALLTYPE get_BlockCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE Clear() override {
        clear();
        return S_OK;
    }
    // E_NOTIMPL on the host, which has no byte arrays.
    HRESULT STDMETHODCALLTYPE get_Data(VARIANT* bytes) override;
    HRESULT STDMETHODCALLTYPE get_Limit(LONG* bytes) override;
    // A negative limit is E_INVALIDARG. A limit below what is kept already
    // keeps it, and refuses the next block that is not empty.
    HRESULT STDMETHODCALLTYPE put_Limit(LONG bytes) override;
    HRESULT STDMETHODCALLTYPE get_Failed(VARIANT_BOOL* failed) override;
    HRESULT STDMETHODCALLTYPE get_FailureReason(BSTR* reason) override;

    HRESULT STDMETHODCALLTYPE GetBuffer(const BYTE** data, LONG* length) override;

    // Everything kept, in order, and the length of each block (empty blocks
    // included), so callers can see where the blocks began.
    const std::vector<BYTE>& bytes() const { return m_bytes; }
    const std::vector<LONG>& blocks() const { return m_blocks; }
    // Forgets the bytes, the blocks and a failure, and gives the memory back.
    void clear();

private:
    HRESULT fail(HRESULT hr, LONG length);

    std::vector<BYTE> m_bytes;
    std::vector<LONG> m_blocks;
    LONG m_limit = kDefaultLimit;
    HRESULT m_failure = S_OK;
    OleString m_failureReason;
    kv::com::ModuleLock m_moduleLock;
};

// Writes every block as it comes into a new file beside its target, and puts
// that file in the target's place at close (see ReplacingFile). A failed
// write is sticky: the new file is then dropped at close, which status()
// tells, since an encoder ignores what its sinks return.
class CKvFileSink
    : public kv::com::implements<CKvFileSink, ComponentDispatch<IKvFileSink>, NoTypeInfo<IKvAudioSink>,
                                 kv::com::alias<IDispatch, IKvFileSink>, kv::com::SupportsErrorInfo<IKvFileSink>> {
public:
    // As ReplacingFile's.
    HRESULT open(const std::filesystem::path& path) {
        const HRESULT hr = m_file.open(path);
        if (SUCCEEDED(hr)) m_received = 0;
        return hr;
    }
    HRESULT close() { return m_file.close(); }
    HRESULT status() const { return m_file.status(); }

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE Open(BSTR path) override;
    HRESULT STDMETHODCALLTYPE Close() override { return m_file.closeDescribed(kFileSinkProgId, IID_IKvFileSink); }
    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* count) override { return GetBytesReceived(count); }

private:
    ReplacingFile m_file;
    long long m_received = 0;
    kv::com::ModuleLock m_moduleLock;
};

}  // namespace kv::components
