#include "components/MmWindow_win32.h"

namespace kv::components {

HRESULT fromMmResult(MMRESULT r) {
    switch (r) {
        case MMSYSERR_NOERROR:
            return S_OK;
        case MMSYSERR_BADDEVICEID:
        case MMSYSERR_NODRIVER:
            return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        case MMSYSERR_ALLOCATED:
            return HRESULT_FROM_WIN32(ERROR_BUSY);
        case MMSYSERR_NOMEM:
            return E_OUTOFMEMORY;
        case WAVERR_BADFORMAT:
        case MMSYSERR_NOTSUPPORTED:
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        case MMSYSERR_INVALHANDLE:
            return E_HANDLE;
        case MMSYSERR_INVALFLAG:
        case MMSYSERR_INVALPARAM:
            return E_INVALIDARG;
        default:
            return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    }
}

HRESULT MmWindow::createWindow() {
    // A message-only window of a system class, its procedure replaced: a
    // class of our own would outlive this module if it were unloaded.
    m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!m_window) {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_staticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MmWindow::windowProc)));
    return S_OK;
}

void MmWindow::destroyWindow() {
    if (!m_window) return;
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_staticProc));
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    m_window = nullptr;
}

LRESULT CALLBACK MmWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MmWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    // The static procedure is read first: onMessage may destroy the window.
    const WNDPROC staticProc = self->m_staticProc;
    if (self->onMessage(message, wParam, lParam)) return 0;
    return CallWindowProcW(staticProc, window, message, wParam, lParam);
}

}  // namespace kv::components
