// Small interfaces for exercising the toolkit.
#pragma once

#include "com/Guid.h"

struct IBase : IUnknown {
    STDMETHOD_(int, Kind)() = 0;
};
struct IFirst : IBase {
    STDMETHOD_(int, First)() = 0;
};
struct ISecond : IBase {
    STDMETHOD_(int, Second)() = 0;
};
struct IUnused : IUnknown {};

inline constexpr IID IID_IBase = kv::com::guid("{6C1A3A10-0000-4000-8000-000000000001}");
inline constexpr IID IID_IFirst = kv::com::guid("{6C1A3A10-0000-4000-8000-000000000002}");
inline constexpr IID IID_ISecond = kv::com::guid("{6C1A3A10-0000-4000-8000-000000000003}");
inline constexpr IID IID_IUnused = kv::com::guid("{6C1A3A10-0000-4000-8000-000000000004}");
KV_INTERFACE_ID(IBase, IID_IBase);
KV_INTERFACE_ID(IFirst, IID_IFirst);
KV_INTERFACE_ID(ISecond, IID_ISecond);
KV_INTERFACE_ID(IUnused, IID_IUnused);
