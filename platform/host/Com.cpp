// Host stand-in for the COM runtime: apartment initialisation per thread and
// the process's table of registered class objects.
#include "platform/win32.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

thread_local int t_initCount = 0;
thread_local DWORD t_model = 0;
// Whether this thread is the main STA, which the process has while one lives.
thread_local bool t_mainSta = false;
std::atomic<bool> g_mainStaTaken{false};

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;
    DWORD context;
};

std::mutex g_classesLock;
std::vector<Registration> g_classes;
DWORD g_nextCookie = 1;

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    if (t_initCount > 0 && t_model != coInit) return RPC_E_CHANGED_MODE;
    t_model = coInit;
    if (t_initCount++ > 0) return S_FALSE;
    if (coInit & COINIT_APARTMENTTHREADED) t_mainSta = !g_mainStaTaken.exchange(true);
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_initCount == 0 || --t_initCount > 0 || !t_mainSta) return;
    t_mainSta = false;
    g_mainStaTaken = false;
}

HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier) {
    if (!type || !qualifier) return E_INVALIDARG;
    *type = APTTYPE_CURRENT;
    *qualifier = APTTYPEQUALIFIER_NONE;
    if (t_initCount == 0) return CO_E_NOTINITIALIZED;
    *type = !(t_model & COINIT_APARTMENTTHREADED) ? APTTYPE_MTA : t_mainSta ? APTTYPE_MAINSTA : APTTYPE_STA;
    return S_OK;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD, DWORD* lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    if (t_initCount == 0) return CO_E_NOTINITIALIZED;
    pUnk->AddRef();
    std::lock_guard<std::mutex> guard(g_classesLock);
    *lpdwRegister = g_nextCookie++;
    g_classes.push_back({*lpdwRegister, rclsid, pUnk, dwClsContext});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* object = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_classesLock);
        for (auto it = g_classes.begin(); it != g_classes.end(); ++it) {
            if (it->cookie == dwRegister) {
                object = it->object;
                g_classes.erase(it);
                break;
            }
        }
    }
    if (!object) return E_INVALIDARG;
    object->Release();
    return S_OK;
}

namespace {

struct LinkedModule {
    std::u16string path;
    kv::host::DllGetClassObjectFn getClassObject;
    kv::host::DllCanUnloadNowFn canUnloadNow;
};

std::vector<LinkedModule> g_modules;

bool samePath(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::u16string clsidKey(REFCLSID c) {
    OLECHAR text[39];
    StringFromGUID2(c, text, 39);
    return u"CLSID\\" + std::u16string(text) + u"\\InprocServer32";
}

// The registered in-process server of a class, as the runtime finds a DLL.
HRESULT inprocClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, clsidKey(rclsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    WCHAR path[1024];
    DWORD bytes = sizeof path;
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(path), &bytes);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return REGDB_E_CLASSNOTREG;
    path[std::min<DWORD>(bytes / sizeof(WCHAR), 1023)] = 0;
    kv::host::DllGetClassObjectFn get = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_classesLock);
        for (const auto& m : g_modules)
            if (samePath(m.path, path)) get = m.getClassObject;
    }
    if (!get) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    return get(rclsid, riid, ppv);
}

}  // namespace

void kv::host::addLinkedModule(const std::u16string& path, DllGetClassObjectFn getClassObject,
                               DllCanUnloadNowFn canUnloadNow) {
    std::lock_guard<std::mutex> guard(g_classesLock);
    g_modules.push_back({path, getClassObject, canUnloadNow});
}

// Linked-in servers cannot be unloaded; asking them is all there is to do.
void CoFreeUnusedLibraries() {
    std::vector<LinkedModule> modules;
    {
        std::lock_guard<std::mutex> guard(g_classesLock);
        modules = g_modules;
    }
    for (const auto& m : modules)
        if (m.canUnloadNow) m.canUnloadNow();
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (t_initCount == 0) return CO_E_NOTINITIALIZED;
    IUnknown* object = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_classesLock);
        for (const auto& r : g_classes) {
            if (IsEqualGUID(r.clsid, rclsid) && (r.context & dwClsContext)) {
                object = r.object;
                object->AddRef();
                break;
            }
        }
    }
    if (!object) {
        if (dwClsContext & CLSCTX_INPROC_SERVER) return inprocClassObject(rclsid, riid, ppv);
        return REGDB_E_CLASSNOTREG;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}
