#pragma once

// A data target that writes the 16-bit mono PCM it is given as a WAVE file.

#include "com/Object.h"
#include "components/Components.h"
#include "components/ReplacingFile.h"

namespace kv::components {

// The file is written beside its target and takes its place at Close (see
// ReplacingFile): the header goes first with no length, and Close writes it
// again with the length of what came. SampleRate (16000 until set; 4000 to
// 384000, as the capture component reads WAVE files) is what the header
// declares, and is fixed while a file is open (E_KV_ALREADY_OPEN).
//
// OnAudioData takes whole samples: an odd length is refused whole
// (E_INVALIDARG), as is data while no file is open (E_KV_NOT_OPEN) and data
// that would take the samples past what a WAVE file can declare
// (E_KV_SINK_FULL; the file stays whole). A failed write is sticky and makes
// Close drop the new file. BytesWritten counts the sample bytes of the open
// file, or of the last one, once closed. Every failure is described.
class CKvWavFileTarget : public kv::com::implements<CKvWavFileTarget, ComponentDispatch<IKvWavFileTarget>,
                                                    IKvAudioDataTarget, kv::com::alias<IDispatch, IKvWavFileTarget>,
                                                    kv::com::SupportsErrorInfo<IKvWavFileTarget, IKvAudioDataTarget>> {
public:
    // Released while open, the file is completed and put in place.
    ~CKvWavFileTarget() override { completeHeader(); }

    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE Open(BSTR path) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE get_SampleRate(LONG* rate) override;
    HRESULT STDMETHODCALLTYPE put_SampleRate(LONG rate) override;
    HRESULT STDMETHODCALLTYPE get_BytesWritten(LONG* count) override;

private:
    // The header again, with the length that came.
    void completeHeader();

    ReplacingFile m_file;
    DWORD m_rate = 16000;
    std::uint64_t m_written = 0;
    kv::com::ModuleLock m_moduleLock;
};

}  // namespace kv::components
