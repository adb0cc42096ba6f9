#include "com/Registrar.h"

#include "com/ComPtr.h"

#include <span>
#include <utility>
#include <vector>

namespace kv::com {
namespace {

// ---- the scripts, as data ------------------------------------------------------

// A string of a script: literal text, or what a replacement stands for.
// Replacements are whole strings, never spliced into text, so a value can
// never be read back as script syntax.
enum class Var : unsigned char { None, Module, AppId, Description, ProgId, VersionIndependentProgId, Clsid };

struct Text {
    Var var;
    const OLECHAR* literal;
};
constexpr Text lit(const OLECHAR* s) { return {Var::None, s}; }
constexpr Text var(Var v) { return {v, nullptr}; }
constexpr Text kNone{Var::None, nullptr};

enum class Rule : unsigned char {
    Plain,                 // created at registration, deleted with its subtree at unregistration
    NeverRemoved,          // created when missing, never deleted
    RemovedBeforeWritten,  // deleted with its subtree, then created, at registration; deleted at unregistration
};

// One line of a script: a key with its default value (if any), or a named
// string value. A key at depth 0 lies under HKEY_CLASSES_ROOT, one at depth
// n under the last key at depth n-1; a value at depth n belongs to the last
// key at depth n-1.
struct Line {
    int depth;
    bool isValue;
    Rule rule;
    Text name;
    Text data;
};
constexpr Line key(int depth, Text name, Text defaultValue = kNone, Rule rule = Rule::Plain) {
    return {depth, false, rule, name, defaultValue};
}
constexpr Line value(int depth, const OLECHAR* name, Text data) { return {depth, true, Rule::Plain, lit(name), data}; }

// Script 101: the AppID.
constexpr Line kAppIdScript[] = {
    key(0, lit(KV_W("AppID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::AppId), lit(KV_W("KvAudioEncoder"))),
    key(1, lit(KV_W("KvAudioEncoder.DLL"))),
    value(2, KV_W("AppID"), var(Var::AppId)),
};

// Scripts 102 to 105 share this form; a ClassEntry fills it in.
constexpr Line kClassScript[] = {
    key(0, var(Var::ProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(0, var(Var::VersionIndependentProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(1, lit(KV_W("CurVer")), var(Var::ProgId)),
    key(0, lit(KV_W("CLSID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::Clsid), var(Var::Description), Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("ProgID")), var(Var::ProgId)),
    key(2, lit(KV_W("VersionIndependentProgID")), var(Var::VersionIndependentProgId)),
    key(2, lit(KV_W("Programmable")), kNone, Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("InprocServer32")), var(Var::Module)),
    value(3, KV_W("ThreadingModel"), lit(KV_W("Apartment"))),
    value(2, KV_W("AppID"), var(Var::AppId)),
    key(2, lit(KV_W("TypeLib")), lit(KV_W("{43CFE32C-E2DD-487D-8A1C-6888F61998D9}"))),
};

struct ClassEntry {
    const OLECHAR* description;
    const OLECHAR* progId;
    const OLECHAR* versionIndependentProgId;
    const OLECHAR* clsid;  // as written in the registry
};

// Object-map order, which is the order of registration and unregistration.
constexpr ClassEntry kClasses[] = {
    // resource 104
    {KV_W("KV_AudioG711A Class"), KV_W("KvAudioEncoder.KV_AudioG711A.1"), KV_W("KvAudioEncoder.KV_AudioG711A"),
     KV_W("{E078E6AE-97CD-4380-BC5A-E46C838177DC}")},
    // resource 103
    {KV_W("KV_AudioG711U Class"), KV_W("KvAudioEncoder.KV_AudioG711U.1"), KV_W("KvAudioEncoder.KV_AudioG711U"),
     KV_W("{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}")},
    // resource 105
    {KV_W("KV_AudioG7231 Class"), KV_W("KvAudioEncoder.KV_AudioG7231.1"), KV_W("KvAudioEncoder.KV_AudioG7231"),
     KV_W("{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}")},
    // resource 102
    {KV_W("KV_AudioQuorvan Class"), KV_W("KvAudioEncoder.KV_AudioQuorvan.1"), KV_W("KvAudioEncoder.KV_AudioQuorvan"),
     KV_W("{80C6869B-6799-40a9-BC55-3B6D49FD0D27}")},
};

constexpr const OLECHAR* kAppId = KV_W("{AFEA8802-29E0-48ED-AA81-B04D306642A9}");

// Unregistration leaves named values to the deletion of their keys, which
// holds only while no value sits in a key that is never removed.
consteval bool wellFormed(std::span<const Line> lines) {
    constexpr int kMaxDepth = 8;
    Rule owners[kMaxDepth] = {};
    int keyDepth = -1;
    for (const Line& l : lines) {
        if (l.depth < 0 || l.depth >= kMaxDepth || l.depth > keyDepth + 1) return false;
        if (l.isValue) {
            const bool hasData = l.data.var != Var::None || l.data.literal;
            if (l.depth == 0 || owners[l.depth - 1] == Rule::NeverRemoved || !hasData) return false;
        } else {
            owners[l.depth] = l.rule;
            keyDepth = l.depth;
        }
    }
    return true;
}
static_assert(wellFormed(kAppIdScript));
static_assert(wellFormed(kClassScript));

// ---- running a script ------------------------------------------------------------

struct Replacements {
    const OLECHAR* module;
    const ClassEntry* entry;  // null for the AppID script
};

const OLECHAR* resolve(Text t, const Replacements& r) {
    switch (t.var) {
        case Var::None: return t.literal;
        case Var::Module: return r.module;
        case Var::AppId: return kAppId;
        case Var::Description: return r.entry->description;
        case Var::ProgId: return r.entry->progId;
        case Var::VersionIndependentProgId: return r.entry->versionIndependentProgId;
        case Var::Clsid: return r.entry->clsid;
    }
    return nullptr;
}

class RegKey {
public:
    explicit RegKey(HKEY h) noexcept : m_h(h) {}
    RegKey(RegKey&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        std::swap(m_h, other.m_h);
        return *this;
    }
    ~RegKey() {
        if (m_h) RegCloseKey(m_h);
    }
    HKEY get() const noexcept { return m_h; }

private:
    HKEY m_h;
};

// The keys open along the path to the current line; [n] is the key at depth n.
class KeyPath {
public:
    HKEY parentOf(int depth) const { return depth == 0 ? HKEY_CLASSES_ROOT : m_keys[depth - 1].get(); }
    void truncate(int depth) {
        while (static_cast<int>(m_keys.size()) > depth) m_keys.pop_back();
    }
    void push(HKEY h) { m_keys.emplace_back(h); }

private:
    std::vector<RegKey> m_keys;
};

std::size_t length(const OLECHAR* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

LONG setString(HKEY key, const OLECHAR* name, const OLECHAR* text) {
    const auto bytes = static_cast<DWORD>((length(text) + 1) * sizeof(OLECHAR));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

bool isAbsent(LONG r) { return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND; }

HRESULT registerScript(std::span<const Line> lines, const Replacements& r) {
    KeyPath path;
    for (const Line& line : lines) {
        if (line.isValue) {
            const LONG e = setString(path.parentOf(line.depth), resolve(line.name, r), resolve(line.data, r));
            if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
            continue;
        }
        path.truncate(line.depth);
        const HKEY parent = path.parentOf(line.depth);
        const OLECHAR* name = resolve(line.name, r);
        if (line.rule == Rule::RemovedBeforeWritten) {
            const LONG e = RegDeleteTreeW(parent, name);
            if (!isAbsent(e)) return HRESULT_FROM_WIN32(e);
        }
        HKEY created = nullptr;
        LONG e = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                                 &created, nullptr);
        if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
        path.push(created);
        if (line.data.var != Var::None || line.data.literal) {
            e = setString(created, nullptr, resolve(line.data, r));
            if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
        }
    }
    return S_OK;
}

// Keys that are already gone count as removed, so unregistering twice, or
// after a partial registration, succeeds.
HRESULT unregisterScript(std::span<const Line> lines, const Replacements& r) {
    KeyPath path;
    int skipBelow = -1;  // lines deeper than this lie under a key that is gone
    for (const Line& line : lines) {
        if (skipBelow >= 0 && line.depth > skipBelow) continue;
        skipBelow = -1;
        if (line.isValue) continue;  // goes with its key (see wellFormed)
        path.truncate(line.depth);
        const HKEY parent = path.parentOf(line.depth);
        const OLECHAR* name = resolve(line.name, r);
        if (line.rule == Rule::NeverRemoved) {
            HKEY opened = nullptr;
            const LONG e = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &opened);
            if (e == ERROR_FILE_NOT_FOUND) {
                skipBelow = line.depth;
                continue;
            }
            if (e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
            path.push(opened);
        } else {
            const LONG e = RegDeleteTreeW(parent, name);
            if (!isAbsent(e)) return HRESULT_FROM_WIN32(e);
            skipBelow = line.depth;
        }
    }
    return S_OK;
}

// ---- the type library ------------------------------------------------------------

HRESULT registerTypeLib(const OLECHAR* modulePath) {
    ComPtr<ITypeLib> library;
    const HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(library.get(), const_cast<OLECHAR*>(modulePath), nullptr);
}

// The library in the module file says which registration is its own.
HRESULT unregisterTypeLib(const OLECHAR* modulePath) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr;
}

// Registration runs in the system locale, so what it writes never depends on
// the calling thread's locale; the caller gets its own back on every path.
class SystemLocaleScope {
public:
    SystemLocaleScope() : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocaleScope() { SetThreadLocale(m_saved); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

private:
    LCID m_saved;
};

}  // namespace

HRESULT RegisterServer(const OLECHAR* modulePath) {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    HRESULT hr = registerScript(kAppIdScript, {modulePath, nullptr});
    for (const ClassEntry& entry : kClasses) {
        if (FAILED(hr)) break;
        hr = registerScript(kClassScript, {modulePath, &entry});
    }
    if (SUCCEEDED(hr)) hr = registerTypeLib(modulePath);
    return hr;
}

HRESULT UnregisterServer(const OLECHAR* modulePath) {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    HRESULT hr = S_OK;
    for (const ClassEntry& entry : kClasses) {
        hr = unregisterScript(kClassScript, {modulePath, &entry});
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) hr = unregisterTypeLib(modulePath);
    if (SUCCEEDED(hr)) hr = unregisterScript(kAppIdScript, {modulePath, nullptr});
    return hr;
}

}  // namespace kv::com
