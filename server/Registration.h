#pragma once

// Registration of KvAudioEncoder.dll: its AppID, its classes (with their
// ProgIDs) and the type library it carries as resource 1 of type "TYPELIB".

#include "com/Registrar.h"
#include "platform/win32.h"

namespace kv::server {

// Writes the AppID entries, then the class entries in object-map order, then
// registers the type library read from the module file. Stops at the first
// failure and returns it; what was written before stays. The scope says for
// whom: the machine, or only the calling user.
using com::registrar::Scope;
HRESULT RegisterServer(const OLECHAR* modulePath, Scope scope = Scope::Machine);

// Removes the class entries in object-map order and unregisters the module's
// type library; only when all that succeeded, removes the AppID entries.
// Stops at the first failure and returns it.
HRESULT UnregisterServer(const OLECHAR* modulePath, Scope scope = Scope::Machine);

}  // namespace kv::server
