#pragma once

// The encoder classes of KvAudioEncoder.dll, one row each, in the order of
// the object map (which is the order of registration). The object map, the
// registrar's class scripts and the host tool's linked-in server are all
// made from these rows; a new class is one row here and one class file.

#include "platform/win32.h"

#include <cstddef>
#include <span>

namespace kv::server {

struct ClassRow {
    const OLECHAR* clsidText;  // as registered: the Quorvan one has lower-case letters
    CLSID clsid;               // the same, as a GUID
    const OLECHAR* progId;
    const OLECHAR* versionIndependentProgId;
    const OLECHAR* description;
    const OLECHAR* registryName;  // what the object takes out of the registry component
    const IID* classInterface;
    HRESULT (*create)(IUnknown* outer, REFIID riid, void** ppv);
};

inline constexpr std::size_t kClassCount = 4;  // checked against the rows

std::span<const ClassRow, kClassCount> classTable();

}  // namespace kv::server
