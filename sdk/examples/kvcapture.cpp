// kvcapture: a small host of the KvAudioEncoder classes. It captures 16-bit
// PCM from a file or from the default audio input device and writes one of the
// four encoded streams to a file, using nothing but the registered DLLs and
// the headers of this SDK.
//
//   kvcapture FORMAT OUTPUT INPUT       a WAV or raw (.pcm/.raw) file
//   kvcapture FORMAT OUTPUT --device S  S seconds from the default input device
//
// FORMAT is G711A, G711U, G7231 or Quorvan, in any case. The output appears
// only when the capture succeeded: it is written beside, as OUTPUT.part, and
// renamed at the end. Build from the SDK's folder with mingw-w64, the runtime
// linked in so that the exe runs on any Windows:
//   g++ -O2 -municode -Iinclude examples/kvcapture.cpp include/KvInterfaces_i.c include/KvLib_i.c
//       -static -static-libgcc -static-libstdc++ -lole32 -loleaut32 -luuid -o kvcapture.exe
// or with Visual C++: cl /EHsc /MT /Iinclude examples\kvcapture.cpp include\KvInterfaces_i.c
//   include\KvLib_i.c ole32.lib oleaut32.lib uuid.lib user32.lib
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
const wchar_t* const kFormats[] = {L"G711A", L"G711U", L"G7231", L"Quorvan"};
// A device capture is held in memory by nothing but the file: an hour is
// plenty for an example and catches a typo of a few zeros.
const long kMaxDeviceSeconds = 3600;

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

// Prints what failed, with the description the object left, else the
// system's words for the code.
int fail(const wchar_t* what, HRESULT hr) {
    std::wstring description;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        if (SUCCEEDED(info->GetDescription(&text)) && text) description = text;
        SysFreeString(text);
        info->Release();
    } else {
        wchar_t* text = nullptr;
        if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr) &&
            text)
            description = text;
        LocalFree(text);
        while (!description.empty() && std::iswspace(description.back())) description.pop_back();
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

// True when both paths name one existing file, however spelt.
bool sameFile(const wchar_t* a, const wchar_t* b) {
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const wchar_t* paths[2] = {a, b};
    for (int i = 0; i < 2; ++i) {
        HANDLE h = CreateFileW(paths[i], 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const BOOL ok = GetFileInformationByHandle(h, &info[i]);
        CloseHandle(h);
        if (!ok) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// Encodes into `partial`; every object is released when it returns.
int capture(const wchar_t* format, const wchar_t* partial, const wchar_t* input, DWORD deviceSeconds) {
    const std::wstring encoderProgId = std::wstring(L"KvAudioEncoder.KV_Audio") + format;

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
    if (FAILED(hr = sink->Open(Bstr(partial).s))) return fail(L"opening the output", hr);
    if (FAILED(hr = encoder->AddSink(sink.p))) return fail(L"AddSink", hr);

    int status = 0;
    if (!input) {
        if (FAILED(hr = recorder->Start())) {
            status = fail(L"starting the capture device", hr);
        } else {
            pumpMessagesFor(deviceSeconds * 1000);
            if (FAILED(hr = recorder->Stop())) status = fail(L"stopping the capture device", hr);
        }
    } else if (FAILED(hr = recorder->CaptureFile(Bstr(input).s, 640))) {  // 20 ms a piece; flushed at the end
        status = fail(L"capturing the file", hr);
    }
    encoder->RemoveSink(sink.p);
    registry->Remove(Bstr(kRecorderName).s);
    if (status == 0 && FAILED(hr = sink->Close())) status = fail(L"closing the output", hr);
    return status;
}

int run(int argc, wchar_t** argv) {
    const bool device = argc == 5 && std::wcscmp(argv[3], L"--device") == 0;
    if (argc != 4 && !device) {
        std::fwprintf(stderr, L"usage: kvcapture G711A|G711U|G7231|Quorvan OUTPUT (INPUT | --device SECONDS)\n");
        return 2;
    }
    const wchar_t* format = nullptr;
    for (const wchar_t* known : kFormats)
        if (_wcsicmp(argv[1], known) == 0) format = known;
    if (!format) {
        std::fwprintf(stderr, L"kvcapture: unknown format '%ls': use G711A, G711U, G7231 or Quorvan\n", argv[1]);
        return 2;
    }
    long seconds = 0;
    if (device) {
        wchar_t* end = nullptr;
        seconds = std::wcstol(argv[4], &end, 10);
        if (end == argv[4] || *end || seconds < 1 || seconds > kMaxDeviceSeconds) {
            std::fwprintf(stderr, L"kvcapture: --device takes whole seconds from 1 to %ld, not '%ls'\n",
                          kMaxDeviceSeconds, argv[4]);
            return 2;
        }
    } else if (sameFile(argv[2], argv[3])) {
        std::fwprintf(stderr, L"kvcapture: %ls and %ls are the same file: the input would be lost\n", argv[2], argv[3]);
        return 2;
    }

    const std::wstring partial = std::wstring(argv[2]) + L".part";
    int status = capture(format, partial.c_str(), device ? nullptr : argv[3], static_cast<DWORD>(seconds));
    // The sink, released, left what it had: only a finished capture takes the output's place.
    if (status == 0 && !MoveFileExW(partial.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING))
        status = fail(L"putting the output in place", HRESULT_FROM_WIN32(GetLastError()));
    if (status != 0) {
        DeleteFileW(partial.c_str());
        return status;
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExW(argv[2], GetFileExInfoStandard, &attributes);
    std::fwprintf(stdout, L"%lu bytes of %ls in %ls\n", attributes.nFileSizeLow, format, argv[2]);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return fail(L"CoInitializeEx", hr);
    const int status = run(argc, argv);
    CoUninitialize();
    return status;
}
