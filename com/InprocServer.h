#pragma once

// An in-process server made from data: the table of its classes, which is
// also its object map, and its registry scripts. A module gives those and
// defines thisServer(); ServerExports.cpp makes its exported entry points.

#include "com/ClassFactory.h"
#include "com/Registrar.h"

#include <array>
#include <cstddef>
#include <span>

namespace kv::com {

// One class of a server, as the registry and its clients know it.
struct ServerClass {
    const OLECHAR* clsidText;  // as registered, in its own spelling
    CLSID clsid;               // the same, as a GUID
    const OLECHAR* progId;
    const OLECHAR* versionIndependentProgId;
    const OLECHAR* description;
    const IID* defaultInterface;  // as the type library describes the class
    InstanceCreator create;
};

// What a server writes into the registry beside the type library it carries
// (resource 1 of type "TYPELIB"), and what the scripts' replacements stand
// for beyond the module path and the class's own entries.
struct ServerScripts {
    std::span<const registrar::Line> moduleScript = {};  // first written, last removed; may be empty
    std::span<const registrar::Line> classScript = {};   // once for each class, in table order
    const OLECHAR* appId = nullptr;
    const GUID* libId = nullptr;  // the carried library's, written as text
};

class InprocServer {
public:
    // The server of the class table `Classes` (a constant array of
    // ServerClass), which gets a cache of class objects of its own.
    template <const auto& Classes>
    static constexpr InprocServer of(const ServerScripts& scripts) {
        return InprocServer(Classes, ObjectMap<Classes>::cache, scripts);
    }

    std::span<const ServerClass> classes() const { return m_classes; }

    // DllGetClassObject: the class object of the row with that CLSID, made
    // on first demand and cached (the cache's reference goes when the module
    // ends), asked for `riid`.
    HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const;

    // Writes the module script, then the class script of each class in table
    // order, then registers the type library read from the module file.
    // Stops at the first failure and returns it; what was written before
    // stays. The scope says for whom: the machine, or the calling user.
    HRESULT registerServer(const OLECHAR* modulePath, registrar::Scope scope) const;
    // Removes the class entries in table order and unregisters the module's
    // type library; only when all that succeeded, removes the module
    // script's entries. Stops at the first failure and returns it.
    HRESULT unregisterServer(const OLECHAR* modulePath, registrar::Scope scope) const;

    // The body of DllRegisterServer and DllUnregisterServer: the above for
    // the module's own file, behind the exception barrier.
    HRESULT registerModule(bool install, registrar::Scope scope) const;
    // The body of DllInstall: the scope from the command line (E_INVALIDARG
    // when it is not understood), then registerModule.
    HRESULT installModule(BOOL install, const OLECHAR* commandLine) const;

private:
    template <const auto& Classes>
    struct ObjectMap {
        static inline std::array<CachedClassFactory*, std::size(Classes)> cache{};
    };

    constexpr InprocServer(std::span<const ServerClass> classes, std::span<CachedClassFactory*> cache,
                           const ServerScripts& scripts)
        : m_classes(classes), m_cache(cache), m_scripts(scripts) {}

    std::span<const ServerClass> m_classes;
    std::span<CachedClassFactory*> m_cache;  // at the same index as its class
    ServerScripts m_scripts;
};

// The server of this module, defined once by each module that links the
// exports (the kv_server_exports library).
const InprocServer& thisServer();

// The class script of a server whose classes live in single-threaded
// apartments and are described by the type library it carries: each class's
// ProgIDs, its CLSID key (replaced whole at registration) with the ProgIDs,
// the module as InprocServer32 with threading model "Apartment", and the
// library.
namespace scripts {
using namespace registrar;
inline constexpr Line kApartmentClass[] = {
    key(0, var(Var::ProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(0, var(Var::VersionIndependentProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(1, lit(KV_W("CurVer")), var(Var::ProgId)),
    key(0, lit(KV_W("CLSID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::Clsid), var(Var::Description), Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("ProgID")), var(Var::ProgId)),
    key(2, lit(KV_W("VersionIndependentProgID")), var(Var::VersionIndependentProgId)),
    key(2, lit(KV_W("InprocServer32")), var(Var::Module)),
    value(3, KV_W("ThreadingModel"), lit(KV_W("Apartment"))),
    key(2, lit(KV_W("TypeLib")), var(Var::LibId)),
};
static_assert(wellFormed(kApartmentClass));
}  // namespace scripts

// ---- for the rows of a class table -------------------------------------------------

namespace detail {
constexpr std::size_t length(const OLECHAR* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

template <std::size_t N>
constexpr std::array<OLECHAR, N + 3> versionOne(const OLECHAR* versionIndependent) {
    std::array<OLECHAR, N + 3> text{};
    for (std::size_t i = 0; i < N; ++i) text[i] = versionIndependent[i];
    text[N] = '.';
    text[N + 1] = '1';
    return text;
}

constexpr std::array<OLECHAR, 39> registryText(const GUID& g) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    std::array<OLECHAR, 39> text{};
    std::size_t at = 0;
    auto put = [&](unsigned long long v, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text[at++] = kDigits[(v >> shift) & 0xF];
    };
    text[at++] = '{';
    put(g.Data1, 8);
    text[at++] = '-';
    put(g.Data2, 4);
    text[at++] = '-';
    put(g.Data3, 4);
    text[at++] = '-';
    for (int i = 0; i < 8; ++i) {
        if (i == 2) text[at++] = '-';
        put(g.Data4[i], 2);
    }
    text[at++] = '}';
    return text;
}
}  // namespace detail

// The ProgID of version 1 of a class, from its version-independent one.
template <const OLECHAR* const& VersionIndependent>
inline constexpr auto kProgIdVersion1 = detail::versionOne<detail::length(VersionIndependent)>(VersionIndependent);

// A GUID as the registry writes it, in upper case, as StringFromGUID2 does.
template <const GUID& Guid>
inline constexpr std::array<OLECHAR, 39> kGuidText = detail::registryText(Guid);

// The row of a class whose identifiers are constants of its own: the
// registry writes the CLSID as StringFromGUID2 does, version 1's ProgID adds
// ".1" to the version-independent one.
template <const CLSID& Clsid, const OLECHAR* const& VersionIndependentProgId, class DefaultInterface>
consteval ServerClass classRow(const OLECHAR* description, InstanceCreator create) {
    return {kGuidText<Clsid>.data(),
            Clsid,
            kProgIdVersion1<VersionIndependentProgId>.data(),
            VersionIndependentProgId,
            description,
            InterfaceId<DefaultInterface>::address(),
            create};
}

}  // namespace kv::com
