#include "tests/server/linked_classes.h"

#include <vector>

namespace kvtest {
namespace {

class RowFactory : public kv::com::implements<RowFactory, IClassFactory> {
public:
    explicit RowFactory(kv::com::InstanceCreator create) : m_create(create) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return m_create(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    kv::com::InstanceCreator m_create;
};

std::vector<DWORD> g_cookies;

}  // namespace

HRESULT registerLinkedClasses(const kv::com::InprocServer& server) {
    for (const auto& row : server.classes()) {
        auto factory = kv::com::make<RowFactory>(row.create);
        if (!factory) return E_OUTOFMEMORY;
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(row.clsid, static_cast<IClassFactory*>(factory.get()),
                                                 CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) return hr;
        g_cookies.push_back(cookie);
    }
    return S_OK;
}

void revokeLinkedClasses() {
    for (DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
    g_cookies.clear();
}

}  // namespace kvtest
