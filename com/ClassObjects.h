#pragma once

// The server's class objects and its exported entry points.

#include "platform/win32.h"

namespace kv::com {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// A class object kept in the object map. The map's cache holds one reference;
// every reference beyond it locks the module, so a client holding a class
// object keeps the server loaded.
class CachedClassFactory final : public IClassFactory {
public:
    explicit CachedClassFactory(InstanceCreator create) : m_create(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CachedClassFactory() = default;

    LONG volatile m_count = 0;
    InstanceCreator m_create;
};

}  // namespace kv::com

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
