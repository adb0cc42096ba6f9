#include "components/WavFileTarget.h"

#include <bit>

#include "components/PcmFile.h"
#include "components/WavHeader.h"

namespace kv::components {

namespace {

// The samples go to the file as they come: the file's order is the machine's.
static_assert(std::endian::native == std::endian::little);

// What the data chunk's length and the RIFF length (4 bytes more than the
// header after it, and the data) can declare.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFu - (kWavHeaderBytes - 8);

template <class Describe>
HRESULT report(HRESULT hr, REFIID iid, Describe&& describe) noexcept {
    return describedFailure(hr, kWavFileTargetProgId, iid, describe);
}

}  // namespace

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::OnAudioData(BYTE* data, LONG length) {
    using kv::com::ErrorText;
    const auto refuse = [&](HRESULT hr, const char* why) {
        return report(hr, IID_IKvAudioDataTarget, [&](ErrorText& text) {
            text << "cannot write " << static_cast<long long>(length) << " bytes of samples: " << why;
        });
    };
    if (const HRESULT hr = checkBlock(data, length); FAILED(hr))
        return refuse(hr, hr == E_POINTER ? "no data given" : "a negative length");
    if (length % 2 != 0) return refuse(E_INVALIDARG, "an odd length (the samples are 16-bit, whole samples only)");
    if (!m_file.isOpen()) return refuse(E_KV_NOT_OPEN, "no file is open");
    if (m_written + static_cast<std::uint64_t>(length) > kMaxDataBytes)
        return refuse(E_KV_SINK_FULL, "a WAVE file holds at most 4 GiB of samples; the file so far stays whole");
    const HRESULT hr = m_file.write(data, static_cast<std::size_t>(length));
    if (FAILED(hr)) return refuse(hr, "a write failed: the file will be dropped at Close");
    m_written += static_cast<std::uint64_t>(length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::Open(BSTR path) {
    const HRESULT hr = m_file.openDescribed(path, kWavFileTargetProgId, IID_IKvWavFileTarget);
    if (FAILED(hr)) return hr;
    m_written = 0;
    const auto header = wavHeader(m_rate, 0);
    // A failure is sticky, and Close reports it.
    m_file.write(header.data(), header.size());
    return S_OK;
}

void CKvWavFileTarget::completeHeader() {
    if (!m_file.isOpen()) return;
    const auto header = wavHeader(m_rate, static_cast<std::uint32_t>(m_written));
    m_file.writeAt(0, header.data(), header.size());
}

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::Close() {
    completeHeader();
    return m_file.closeDescribed(kWavFileTargetProgId, IID_IKvWavFileTarget);
}

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::get_SampleRate(LONG* rate) {
    if (!rate) return E_POINTER;
    *rate = static_cast<LONG>(m_rate);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::put_SampleRate(LONG rate) {
    const auto refuse = [&](HRESULT hr, const char* why) {
        return report(hr, IID_IKvWavFileTarget, [&](kv::com::ErrorText& text) {
            text << "cannot set SampleRate to " << static_cast<long long>(rate) << ": " << why;
        });
    };
    if (rate < static_cast<LONG>(kMinFileRate) || rate > static_cast<LONG>(kMaxFileRate))
        return refuse(E_INVALIDARG, "it takes 4000 to 384000");
    if (m_file.isOpen() && static_cast<DWORD>(rate) != m_rate)
        return refuse(E_KV_ALREADY_OPEN, "the open file's header declares the rate it was opened with");
    m_rate = static_cast<DWORD>(rate);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvWavFileTarget::get_BytesWritten(LONG* count) {
    if (!count) return E_POINTER;
    *count = saturated(static_cast<long long>(m_written));
    return S_OK;
}

}  // namespace kv::components
