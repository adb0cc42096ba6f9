// kvcapture: a small host of the KvAudioEncoder classes. It captures 16-bit
// PCM from a file or from the default audio input device and writes one of the
// four encoded streams to a file, using nothing but the registered DLLs and
// the headers of this SDK.
//
//   kvcapture FORMAT OUTPUT INPUT       a WAV or raw (.pcm/.raw) file
//   kvcapture FORMAT OUTPUT --device S  S seconds from the default input device
//
// FORMAT is G711A, G711U, G7231 or Quorvan. Build (mingw-w64 or MSVC):
//   g++ -O2 -I../include kvcapture.cpp ../include/KvInterfaces_i.c
//       ../include/KvLib_i.c -lole32 -loleaut32 -luuid -o kvcapture.exe
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

#include "KvLib.h"
#include "KvInterfaces.h"

namespace {

// The name under which the encoders look for the running capture component.
const wchar_t kRecorderName[] = L"KvCom.KvAudio.KvAudioRecorder";

// A COM interface pointer released when it goes out of scope.
template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
    void** out() { return reinterpret_cast<void**>(&p); }
};

// A BSTR for one call.
struct Bstr {
    BSTR s;
    explicit Bstr(const wchar_t* text) : s(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(s); }
};

// Prints what failed, with the description the object left, if any.
int fail(const wchar_t* what, HRESULT hr) {
    std::wstring description;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        if (SUCCEEDED(info->GetDescription(&text)) && text) description = text;
        SysFreeString(text);
        info->Release();
    }
    std::fwprintf(stderr, L"kvcapture: %ls failed (0x%08lX)%ls%ls\n", what, static_cast<unsigned long>(hr),
                  description.empty() ? L"" : L": ", description.c_str());
    return 1;
}

HRESULT create(const wchar_t* progId, REFIID iid, void** out) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

// Device buffers arrive as window messages of this thread: keep them flowing.
void pumpMessagesFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < milliseconds; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

int run(int argc, wchar_t** argv) {
    const bool device = argc == 5 && std::wcscmp(argv[3], L"--device") == 0;
    if (argc != 4 && !device) {
        std::fwprintf(stderr, L"usage: kvcapture G711A|G711U|G7231|Quorvan OUTPUT (INPUT | --device SECONDS)\n");
        return 2;
    }
    const std::wstring encoderProgId = std::wstring(L"KvAudioEncoder.KV_Audio") + argv[1];

    Ref<IKvRegistry> registry;
    Ref<IKvRecorder> recorder;
    Ref<IKvAudioEncoder> encoder;
    Ref<IKvFileSink> sink;
    HRESULT hr;
    if (FAILED(hr = create(L"KvAudioComponents.Registry", IID_IKvRegistry, registry.out())))
        return fail(L"creating the registry", hr);
    if (FAILED(hr = create(L"KvAudioComponents.Recorder", IID_IKvRecorder, recorder.out())))
        return fail(L"creating the recorder", hr);
    // Entered under its name, the recorder is the one every encoder connects to.
    if (FAILED(hr = registry->Add(Bstr(kRecorderName).s, recorder.p))) return fail(L"entering the recorder", hr);
    if (FAILED(hr = create(encoderProgId.c_str(), IID_IKvAudioEncoder, encoder.out())))
        return fail(encoderProgId.c_str(), hr);
    if (FAILED(hr = create(L"KvAudioComponents.FileSink", IID_IKvFileSink, sink.out())))
        return fail(L"creating the file sink", hr);
    if (FAILED(hr = sink->Open(Bstr(argv[2]).s))) return fail(L"opening the output", hr);
    if (FAILED(hr = encoder->AddSink(sink.p))) return fail(L"AddSink", hr);

    if (device) {
        if (FAILED(hr = recorder->Start())) return fail(L"starting the capture device", hr);
        pumpMessagesFor(static_cast<DWORD>(_wtoi(argv[4])) * 1000);
        if (FAILED(hr = recorder->Stop())) return fail(L"stopping the capture device", hr);
    } else if (FAILED(hr = recorder->CaptureFile(Bstr(argv[3]).s, 640))) {  // 20 ms a piece; flushed at the end
        return fail(L"capturing the file", hr);
    }

    encoder->RemoveSink(sink.p);
    if (FAILED(hr = sink->Close())) return fail(L"closing the output", hr);
    LONG bytes = 0;
    sink->get_BytesReceived(&bytes);
    registry->Remove(Bstr(kRecorderName).s);
    std::fwprintf(stdout, L"%ld bytes of %ls in %ls\n", static_cast<long>(bytes), argv[1], argv[2]);
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 1;
    int status = 1;
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        status = run(argc, argv);
        CoUninitialize();
    }
    LocalFree(argv);
    return status;
}
