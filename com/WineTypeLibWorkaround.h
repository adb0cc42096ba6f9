#pragma once

// Wine 8's RegisterTypeLibForUser and UnRegisterTypeLibForUser fall back on
// the machine-wide calls, and its 64-bit oleaut32 then also writes and
// removes the library's Interface keys through the machine's 32-bit view,
// which no override of HKEY_CLASSES_ROOT reaches. A per-user registration
// must leave the machine as it was, so around those calls the registrar
// keeps the machine's Interface keys of the library. Windows's per-user calls
// are whole, and there keeping them would walk the machine's whole Interface
// tree twice for nothing: the registrar does it only under Wine.

#include "platform/win32.h"

#include <memory>

namespace kv::com::wine {

// Whether this process runs under Wine: its ntdll alone exports wine_get_version.
bool runningUnderWine();

// While this lives, the machine keeps its Interface keys of a library, in
// both registry views, as they were when it was made: those that name the
// library and those of the interfaces it describes. Whatever appears there
// meanwhile goes again; whatever is removed comes back.
class MachineInterfacesKept {
public:
    MachineInterfacesKept(ITypeLib* library, const GUID& libid);
    ~MachineInterfacesKept();
    MachineInterfacesKept(const MachineInterfacesKept&) = delete;
    MachineInterfacesKept& operator=(const MachineInterfacesKept&) = delete;

private:
    struct Snapshot;
    std::unique_ptr<Snapshot> m_snapshot;
};

}  // namespace kv::com::wine
