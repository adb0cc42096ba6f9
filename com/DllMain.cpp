// The entry point of a server DLL (Windows modules only).
#include "com/Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        kv::com::module().setInstance(instance);
        DisableThreadLibraryCalls(instance);
        // Without its lock the module cannot guard its type information.
        return kv::com::module().initialised() ? TRUE : FALSE;
    }
    return TRUE;
}
