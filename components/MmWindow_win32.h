#pragma once

// What the waveIn and waveOut devices share: the words of winmm's results,
// and the hidden window through which winmm hands buffers back to the thread
// that opened the device (its message loop calls the device, never winmm's
// own thread).

#include "platform/win32.h"

namespace kv::components {

HRESULT fromMmResult(MMRESULT r);

class MmWindow {
public:
    MmWindow(const MmWindow&) = delete;
    MmWindow& operator=(const MmWindow&) = delete;

    HWND window() const { return m_window; }

protected:
    MmWindow() = default;
    ~MmWindow() { destroyWindow(); }

    // A message-only window of the calling thread whose messages reach
    // onMessage; it returns false for a message it leaves to the window.
    HRESULT createWindow();
    // Messages still posted for the window die with it.
    void destroyWindow();
    virtual bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_window = nullptr;
    WNDPROC m_staticProc = nullptr;
};

}  // namespace kv::components
