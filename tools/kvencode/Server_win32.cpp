// win32: the classes are created through their registration, as any client
// creates them. Where nobody registered them (registration writes
// HKEY_CLASSES_ROOT, which takes administrator rights), the tool still works:
// it loads the KvAudioEncoder.dll that ships beside it and asks its class
// objects directly, which is what COM would have done with the registered one.
#include "tools/kvencode/Server.h"

#include <vector>

#include "com/ComPtr.h"

namespace kv::tools {

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

std::wstring serverBesideProgram() {
    std::vector<wchar_t> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return {};
    std::wstring folder(path.data(), n);
    const std::size_t cut = folder.find_last_of(L"\\/");
    folder.erase(cut == std::wstring::npos ? 0 : cut + 1);
    return folder + L"KvAudioEncoder.dll";
}

// For stderr, in the code page the rest of the tool's text (its arguments)
// comes in; what does not fit shows as '?', which is enough for a note.
std::string narrow(const std::wstring& text) {
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

struct EncoderServer::State {
    bool tried = false;  // the module beside the program, once and only once
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    HRESULT loadStatus = S_OK;

    HRESULT load() {
        tried = true;
        const std::wstring path = serverBesideProgram();
        if (path.empty()) return E_FAIL;
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) return HRESULT_FROM_WIN32(GetLastError());
        getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
        if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        return S_OK;
    }
};

EncoderServer::EncoderServer() : m_state(std::make_unique<State>()) {}

// The objects are gone by now. Unload the module only when it agrees, as
// CoFreeUnusedLibraries would; otherwise it stays until the process ends.
EncoderServer::~EncoderServer() {
    if (!m_state->module) return;
    const auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_state->module, "DllCanUnloadNow")));
    if (canUnloadNow && canUnloadNow() == S_OK) FreeLibrary(m_state->module);
}

HRESULT EncoderServer::status() const { return S_OK; }

HRESULT EncoderServer::createEncoder(REFCLSID clsid, IKvAudioEncoder** encoder, std::string& note) {
    note.clear();
    if (!encoder) return E_POINTER;
    *encoder = nullptr;
    const HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, reinterpret_cast<void**>(encoder));
    if (hr != REGDB_E_CLASSNOTREG) return hr;

    State& s = *m_state;
    if (!s.tried) {
        s.loadStatus = s.load();
        note = "KvAudioEncoder classes not registered; using " + narrow(serverBesideProgram());
    }
    if (FAILED(s.loadStatus)) return s.loadStatus;
    kv::com::ComPtr<IClassFactory> factory;
    HRESULT created = s.getClassObject(clsid, IID_IClassFactory, factory.put_void());
    if (SUCCEEDED(created))
        created = factory->CreateInstance(nullptr, IID_IKvAudioEncoder, reinterpret_cast<void**>(encoder));
    return created;
}

}  // namespace kv::tools
