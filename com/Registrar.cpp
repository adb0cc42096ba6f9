#include "com/Registrar.h"

#include "com/ComPtr.h"
#include "com/RegKey.h"
#include "com/WineTypeLibWorkaround.h"

#include <optional>
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
        case Var::LibId:
            return r.libId;
    }
    return nullptr;
}

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

// After RegDeleteTreeW: the key is not there, because it was deleted or because there was none.
bool keyGone(LONG r) { return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND; }

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
            if (!keyGone(e)) return HRESULT_FROM_WIN32(e);
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
            if (!keyGone(e)) return HRESULT_FROM_WIN32(e);
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

// The per-user call, with the user's classes as HKEY_CLASSES_ROOT and, under
// Wine, the machine's Interface keys of the library kept.
template <class Call>
HRESULT forUser(ITypeLib* library, const GUID& libid, Call&& call) {
    std::optional<wine::MachineInterfacesKept> machine;
    if (wine::runningUnderWine()) machine.emplace(library, libid);
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

}  // namespace kv::com::registrar
