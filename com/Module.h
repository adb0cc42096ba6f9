#pragma once

// The module object: one per process. Its lock count decides whether the
// server may be unloaded; its critical section guards lazy loading of type
// information; its clean-ups run when the module ends.

#include "platform/win32.h"

#include <vector>

namespace kv::com {

class Module {
public:
    Module();
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // False when the lock could not be set up: the library must not load.
    bool initialised() const { return m_initialised; }

    LONG lock() { return InterlockedIncrement(&m_lockCount); }
    LONG unlock() { return InterlockedDecrement(&m_lockCount); }
    LONG lockCount() const { return m_lockCount; }

    // Held while type information is loaded for the first time.
    void enter() { EnterCriticalSection(&m_section); }
    void leave() { LeaveCriticalSection(&m_section); }

    // Runs fn(arg) when the module ends, latest added first.
    void addCleanup(void (*fn)(void*), void* arg);

    // The module's instance handle (null when it is linked into a program).
    HINSTANCE instance() const { return m_instance; }
    void setInstance(HINSTANCE instance) { m_instance = instance; }

private:
    struct Cleanup {
        void (*fn)(void*);
        void* arg;
    };

    LONG volatile m_lockCount = 0;
    CRITICAL_SECTION m_section;
    bool m_initialised = false;
    HINSTANCE m_instance = nullptr;
    std::vector<Cleanup> m_cleanups;
};

Module& module();

// DllCanUnloadNow: S_OK when nothing holds the module, else S_FALSE.
inline HRESULT canUnloadNow() { return module().lockCount() == 0 ? S_OK : S_FALSE; }

// The full path of the module file, as registration writes it; long paths
// included.
HRESULT modulePath(std::vector<OLECHAR>& path);

// Holds the module lock for a scope.
class ModuleSection {
public:
    ModuleSection() { module().enter(); }
    ~ModuleSection() { module().leave(); }
    ModuleSection(const ModuleSection&) = delete;
    ModuleSection& operator=(const ModuleSection&) = delete;
};

// Keeps the server loaded while its holder lives.
class ModuleLock {
public:
    ModuleLock() { module().lock(); }
    ~ModuleLock() { module().unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace kv::com
