#include "com/Registrar.h"

#include "com/ComPtr.h"

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

}  // namespace

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

}  // namespace kv::com::registrar
