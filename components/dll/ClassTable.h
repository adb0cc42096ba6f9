#pragma once

// The classes of KvAudioComponents.dll, one row each, in the order of the
// object map and of registration. The exports and the registration scripts
// are made from these rows.

#include "platform/win32.h"

#include <cstddef>
#include <span>

namespace kv::components::dll {

struct ClassRow {
    const OLECHAR* clsidText;  // as registered
    CLSID clsid;
    const OLECHAR* progId;
    const OLECHAR* versionIndependentProgId;
    const OLECHAR* description;
    HRESULT (*create)(IUnknown* outer, REFIID riid, void** ppv);
};

inline constexpr std::size_t kClassCount = 4;

std::span<const ClassRow, kClassCount> classTable();

}  // namespace kv::components::dll
