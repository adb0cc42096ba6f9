#pragma once

#include "platform/win32.h"

#include <cstddef>

namespace kv::com {

namespace detail {
template <class Char>
consteval unsigned hexDigit(Char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    throw "not a hexadecimal digit";
}
template <class Char>
consteval unsigned long hexValue(const Char* s, std::size_t digits) {
    unsigned long v = 0;
    for (std::size_t i = 0; i < digits; ++i) v = v * 16 + hexDigit(s[i]);
    return v;
}
}  // namespace detail

// A GUID from its registry form, narrow or wide, checked at compile time:
// guid("{00020400-0000-0000-C000-000000000046}"); the braces are optional.
template <class Char, std::size_t N>
consteval GUID guid(const Char (&text)[N]) {
    const Char* s = text;
    std::size_t n = N - 1;
    if (n == 38) {
        if (s[0] != '{' || s[37] != '}') throw "unbalanced braces";
        ++s;
        n -= 2;
    }
    if (n != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID";
    GUID g{};
    g.Data1 = static_cast<decltype(g.Data1)>(detail::hexValue(s, 8));
    g.Data2 = static_cast<decltype(g.Data2)>(detail::hexValue(s + 9, 4));
    g.Data3 = static_cast<decltype(g.Data3)>(detail::hexValue(s + 14, 4));
    g.Data4[0] = static_cast<unsigned char>(detail::hexValue(s + 19, 2));
    g.Data4[1] = static_cast<unsigned char>(detail::hexValue(s + 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<unsigned char>(detail::hexValue(s + 24 + 2 * i, 2));
    return g;
}

// The interface identifier of an interface type. Specialise it with
// KV_INTERFACE_ID next to the interface's declaration.
template <class I>
struct InterfaceId;

template <class I>
inline const IID& iidOf() {
    return InterfaceId<I>::get();
}

}  // namespace kv::com

// Associates an interface type with an IID object (for example one that widl
// generated). Use at global scope.
#define KV_INTERFACE_ID(Interface, iidObject)                        \
    template <>                                                      \
    struct kv::com::InterfaceId<Interface> {                         \
        static const IID& get() { return iidObject; }                \
        static constexpr const IID* address() { return &iidObject; } \
    }

KV_INTERFACE_ID(IUnknown, IID_IUnknown);
