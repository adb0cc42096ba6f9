#include "com/WineTypeLibWorkaround.h"

#include "com/ComPtr.h"
#include "com/RegKey.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace kv::com::wine {

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(KV_W("ntdll.dll"));
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

namespace {

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
class MachineInterfacesIn {
public:
    MachineInterfacesIn(REGSAM view, const OLECHAR* libid, const std::vector<String>& interfaces)
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

}  // namespace

struct MachineInterfacesKept::Snapshot {
    Snapshot(ITypeLib* library, const GUID& libid)
        : text(guidText(libid)),
          interfaces(interfaceKeys(library)),
          views{{KEY_WOW64_32KEY, text.c_str(), interfaces}, {KEY_WOW64_64KEY, text.c_str(), interfaces}} {}

    String text;
    std::vector<String> interfaces;
    MachineInterfacesIn views[2];
};

MachineInterfacesKept::MachineInterfacesKept(ITypeLib* library, const GUID& libid)
    : m_snapshot(std::make_unique<Snapshot>(library, libid)) {}

MachineInterfacesKept::~MachineInterfacesKept() {
    for (const MachineInterfacesIn& v : m_snapshot->views) v.putBack();
}

}  // namespace kv::com::wine
