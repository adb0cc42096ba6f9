#pragma once

// What a server module's DllMain does (Windows modules only).

#include "com/Module.h"

namespace kv::com {

inline BOOL dllMain(HINSTANCE instance, DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH) {
        module().setInstance(instance);
        DisableThreadLibraryCalls(instance);
        // Without its lock the module cannot guard its type information.
        return module().initialised() ? TRUE : FALSE;
    }
    return TRUE;
}

}  // namespace kv::com
