#include "com/Module.h"

namespace kv::com {

Module::Module() { m_initialised = InitializeCriticalSectionAndSpinCount(&m_section, 0) != FALSE; }

Module::~Module() {
    for (auto it = m_cleanups.rbegin(); it != m_cleanups.rend(); ++it) it->fn(it->arg);
    m_cleanups.clear();
    if (m_initialised) DeleteCriticalSection(&m_section);
}

void Module::addCleanup(void (*fn)(void*), void* arg) {
    ModuleSection guard;
    m_cleanups.push_back({fn, arg});
}

Module& module() {
    // Constructed on first use, so objects of other translation units may
    // lock the module during their own static initialisation.
    static Module instance;
    return instance;
}

HRESULT modulePath(std::vector<OLECHAR>& path) {
    path.assign(32768, 0);
    const DWORD n = GetModuleFileNameW(module().instance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return E_FAIL;
    return S_OK;
}

}  // namespace kv::com
