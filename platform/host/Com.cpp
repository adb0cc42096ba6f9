// Host stand-in for the COM runtime: apartment initialisation per thread and
// the process's table of registered class objects.
#include "platform/win32.h"

#include <mutex>
#include <vector>

namespace {

thread_local int t_initCount = 0;
thread_local DWORD t_model = 0;

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
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_initCount > 0) --t_initCount;
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
    if (!object) return REGDB_E_CLASSNOTREG;
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
