#include "com/Registrar.h"

#include "com/Barrier.h"
#include "com/ComPtr.h"
#include "com/Module.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace kv::com::registrar {
namespace {

const OLECHAR* resolve(Text t, const Replacements& r) {
    switch (t.var) {
        case Var::None:
            return t.literal;
        case Var::Module:
            return r.module;
        case Var::AppId:
            return r.appId;
        case Var::Description:
            return r.description;
        case Var::ProgId:
            return r.progId;
        case Var::VersionIndependentProgId:
            return r.versionIndependentProgId;
        case Var::Clsid:
            return r.clsid;
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
    explicit KeyPath(HKEY root) : m_root(root) {}
    HKEY parentOf(int depth) const { return depth == 0 ? m_root : m_keys[depth - 1].get(); }
    void truncate(int depth) {
        while (static_cast<int>(m_keys.size()) > depth) m_keys.pop_back();
    }
    void push(HKEY h) { m_keys.emplace_back(h); }

private:
    HKEY m_root;
    std::vector<RegKey> m_keys;
};

constexpr const OLECHAR* kUserClasses = KV_W("Software\\Classes");

// The root key of a scope. The user's classes key is created for writing
// (a fresh profile may lack it) and only opened for removal; absent, it
// holds nothing to remove.
LONG openRoot(Scope scope, bool forWriting, RegKey& root) {
    if (scope == Scope::Machine) return ERROR_SUCCESS;  // root stays null: HKEY_CLASSES_ROOT
    HKEY h = nullptr;
    const LONG e = forWriting ? RegCreateKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_READ | KEY_WRITE, nullptr, &h, nullptr)
                              : RegOpenKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, KEY_READ | KEY_WRITE, &h);
    if (e == ERROR_SUCCESS) root = RegKey(h);
    return e;
}

HKEY rootHandle(const RegKey& root) { return root.get() ? root.get() : HKEY_CLASSES_ROOT; }

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

}  // namespace

HRESULT registerScript(std::span<const Line> lines, const Replacements& r, Scope scope) {
    RegKey root(nullptr);
    if (const LONG e = openRoot(scope, true, root); e != ERROR_SUCCESS) return HRESULT_FROM_WIN32(e);
    KeyPath path(rootHandle(root));
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
HRESULT unregisterScript(std::span<const Line> lines, const Replacements& r, Scope scope) {
    RegKey root(nullptr);
    if (const LONG e = openRoot(scope, false, root); e != ERROR_SUCCESS) {
        return e == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(e);
    }
    KeyPath path(rootHandle(root));
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

namespace {

// Some oleaut32s (Wine's among them) take the per-user calls for the
// machine-wide ones. While this lives, HKEY_CLASSES_ROOT of this process is
// the user's classes key, so whatever oleaut32 writes or removes there stays
// with the user, as it does where the per-user calls are whole.
class UserClassesOverride {
public:
    UserClassesOverride() {
        HKEY key = nullptr;
        m_error = RegCreateKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
        if (m_error != ERROR_SUCCESS) return;
        m_error = RegOverridePredefKey(HKEY_CLASSES_ROOT, key);
        RegCloseKey(key);  // the override holds its own handle
        m_active = m_error == ERROR_SUCCESS;
    }
    ~UserClassesOverride() {
        if (m_active) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    UserClassesOverride(const UserClassesOverride&) = delete;
    UserClassesOverride& operator=(const UserClassesOverride&) = delete;
    LONG error() const { return m_error; }

private:
    LONG m_error;
    bool m_active = false;
};

using String = std::basic_string<OLECHAR>;

// A key with its values and subkeys, as read, to be written back.
struct SavedKey {
    struct Value {
        String name;
        DWORD type;
        std::vector<BYTE> data;
    };
    String name;
    std::vector<Value> values;
    std::vector<SavedKey> keys;
};

bool save(HKEY key, SavedKey& out) {
    OLECHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256, type = 0, size = 0;
        const LONG e = RegEnumValueW(key, i, name, &n, nullptr, &type, nullptr, &size);
        if (e == ERROR_NO_MORE_ITEMS) break;
        if (e != ERROR_SUCCESS) return false;
        SavedKey::Value v{String(name, n), type, std::vector<BYTE>(size)};
        if (size && RegQueryValueExW(key, v.name.c_str(), nullptr, nullptr, v.data.data(), &size) != ERROR_SUCCESS)
            return false;
        v.data.resize(size);
        out.values.push_back(std::move(v));
    }
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        const LONG e = RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS) break;
        if (e != ERROR_SUCCESS) return false;
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) != ERROR_SUCCESS) return false;
        RegKey owned(child);
        SavedKey saved{String(name, n), {}, {}};
        if (!save(child, saved)) return false;
        out.keys.push_back(std::move(saved));
    }
    return true;
}

void restore(HKEY parent, const SavedKey& saved) {
    HKEY created = nullptr;
    if (RegCreateKeyExW(parent, saved.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                        &created, nullptr) != ERROR_SUCCESS)
        return;
    RegKey key(created);
    for (const SavedKey::Value& v : saved.values)
        RegSetValueExW(created, v.name.c_str(), 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    for (const SavedKey& child : saved.keys) restore(created, child);
}

bool sameText(const OLECHAR* a, const OLECHAR* b) {
    const auto fold = [](OLECHAR c) { return c >= 'a' && c <= 'z' ? static_cast<OLECHAR>(c - 'a' + 'A') : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

// Whether an Interface key's TypeLib names the library.
bool belongsTo(HKEY interfaces, const OLECHAR* name, const OLECHAR* libid) {
    HKEY h = nullptr;
    String path = String(name) + KV_W("\\TypeLib");
    if (RegOpenKeyExW(interfaces, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegKey typeLib(h);
    OLECHAR text[64] = {};
    DWORD size = sizeof(text) - sizeof(OLECHAR), type = 0;
    return RegQueryValueExW(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
           type == REG_SZ && sameText(text, libid);
}

String guidText(const GUID& g) {
    OLECHAR text[39] = {};
    StringFromGUID2(g, text, 39);
    return text;
}

// The Interface keys of the interfaces a library describes. One that another
// library describes too has a key that may name either.
std::vector<String> interfaceKeys(ITypeLib* library) {
    std::vector<String> keys;
    for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr))) continue;
        if (attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH) keys.push_back(guidText(attr->guid));
        info->ReleaseTypeAttr(attr);
    }
    return keys;
}

// The machine's Interface keys of one library, in one registry view: those
// that name it, and those of the interfaces it describes.
class MachineInterfaces {
public:
    MachineInterfaces(REGSAM view, const OLECHAR* libid, const std::vector<String>& interfaces)
        : m_view(view), m_libid(libid), m_interfaces(interfaces) {
        RegKey root = open(KEY_READ);
        if (!root.get()) return;
        for (const String& name : names(root.get())) {
            HKEY h = nullptr;
            if (RegOpenKeyExW(root.get(), name.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) continue;
            RegKey key(h);
            SavedKey saved{name, {}, {}};
            if (save(h, saved)) m_saved.push_back(std::move(saved));
        }
    }

    // Takes away what appeared since and writes back what was, as it was.
    void putBack() const {
        RegKey root = open(KEY_READ | KEY_WRITE);
        if (!root.get()) return;
        for (const String& name : names(root.get())) RegDeleteTreeW(root.get(), name.c_str());
        for (const SavedKey& saved : m_saved) {
            RegDeleteTreeW(root.get(), saved.name.c_str());
            restore(root.get(), saved);
        }
    }

private:
    RegKey open(REGSAM access) const {
        HKEY h = nullptr;
        const LONG e = RegOpenKeyExW(HKEY_LOCAL_MACHINE, KV_W("Software\\Classes\\Interface"), 0, access | m_view, &h);
        return RegKey(e == ERROR_SUCCESS ? h : nullptr);
    }

    std::vector<String> names(HKEY root) const {
        std::vector<String> result;
        OLECHAR name[256];
        for (DWORD i = 0;; ++i) {
            DWORD n = 256;
            if (RegEnumKeyExW(root, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            const bool described = std::any_of(m_interfaces.begin(), m_interfaces.end(),
                                               [&](const String& iid) { return sameText(iid.c_str(), name); });
            if (described || belongsTo(root, name, m_libid)) result.emplace_back(name, n);
        }
        return result;
    }

    REGSAM m_view;
    const OLECHAR* m_libid;
    const std::vector<String>& m_interfaces;
    std::vector<SavedKey> m_saved;
};

// Where the per-user calls fall back on the machine-wide ones, a 64-bit
// oleaut32 (Wine's) also writes and removes the library's Interface keys
// through the machine's 32-bit view, which no override of HKEY_CLASSES_ROOT
// reaches. While this lives, the machine keeps those keys as they were:
// whatever the calls added there goes again, whatever they removed comes
// back. Where the per-user calls are whole, neither happens.
class MachineInterfacesKept {
public:
    MachineInterfacesKept(ITypeLib* library, const GUID& libid)
        : m_text(guidText(libid)),
          m_interfaces(interfaceKeys(library)),
          m_views{{KEY_WOW64_32KEY, m_text.c_str(), m_interfaces}, {KEY_WOW64_64KEY, m_text.c_str(), m_interfaces}} {}
    ~MachineInterfacesKept() {
        for (const MachineInterfaces& v : m_views) v.putBack();
    }
    MachineInterfacesKept(const MachineInterfacesKept&) = delete;
    MachineInterfacesKept& operator=(const MachineInterfacesKept&) = delete;

private:
    String m_text;
    std::vector<String> m_interfaces;
    MachineInterfaces m_views[2];
};

// The per-user call, with both workarounds around it.
template <class Call>
HRESULT forUser(ITypeLib* library, const GUID& libid, Call&& call) {
    MachineInterfacesKept machine(library, libid);
    UserClassesOverride user;
    if (user.error() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(user.error());
    return call();
}

}  // namespace

HRESULT registerTypeLib(const OLECHAR* modulePath, Scope scope) {
    ComPtr<ITypeLib> library;
    const HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    auto* path = const_cast<OLECHAR*>(modulePath);
    if (scope == Scope::Machine) return RegisterTypeLib(library.get(), path, nullptr);
    TLIBATTR* attr = nullptr;
    if (const HRESULT got = library->GetLibAttr(&attr); FAILED(got)) return got;
    const GUID libid = attr->guid;
    library->ReleaseTLibAttr(attr);
    return forUser(library.get(), libid, [&] { return RegisterTypeLibForUser(library.get(), path, nullptr); });
}

// The library in the module file says which registration is its own.
HRESULT unregisterTypeLib(const OLECHAR* modulePath, Scope scope) {
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(modulePath, REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    if (scope == Scope::Machine) {
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    } else {
        hr = forUser(library.get(), attr->guid, [&] {
            return UnRegisterTypeLibForUser(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                            attr->syskind);
        });
    }
    library->ReleaseTLibAttr(attr);
    return hr;
}

bool scopeFromCommandLine(const OLECHAR* commandLine, Scope& scope) {
    if (!commandLine || !*commandLine) {
        scope = Scope::Machine;
        return true;
    }
    static constexpr OLECHAR kUser[] = KV_W("user");
    std::size_t i = 0;
    for (; commandLine[i] && kUser[i]; ++i) {
        OLECHAR c = commandLine[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<OLECHAR>(c - 'A' + 'a');
        if (c != kUser[i]) return false;
    }
    if (commandLine[i] || kUser[i]) return false;
    scope = Scope::User;
    return true;
}

HRESULT registerModule(ModuleRegistration apply, Scope scope) {
    return guarded([&] {
        std::vector<OLECHAR> path;
        const HRESULT hr = modulePath(path);
        if (FAILED(hr)) return hr;
        return apply(path.data(), scope);
    });
}

HRESULT installModule(BOOL install, const OLECHAR* commandLine, ModuleRegistration registerIt,
                      ModuleRegistration unregisterIt) {
    Scope scope;
    if (!scopeFromCommandLine(commandLine, scope)) return E_INVALIDARG;
    return registerModule(install ? registerIt : unregisterIt, scope);
}

}  // namespace kv::com::registrar
