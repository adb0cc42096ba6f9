// Host stand-in for the registry: HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE as
// trees in memory.
// Results follow what Windows (and Wine) return for the same calls, including
// the codes callers branch on: missing keys and values, short buffers, the end
// of an enumeration, handles of deleted keys, volatile parents.
#include "platform/win32.h"

#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Registry names compare like Windows compares them for the names this module
// uses: ASCII letters without regard to case.
char16_t fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

std::u16string folded(std::u16string_view s) {
    std::u16string r(s);
    for (auto& c : r) c = fold(c);
    return r;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::u16string_view view(LPCWSTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

struct Value {
    std::u16string name;  // empty: the key's default value
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    bool isVolatile = false;
    bool deleted = false;
    std::vector<Value> values;
    std::map<std::u16string, std::shared_ptr<Key>> children;  // by folded name, which orders enumeration

    Value* findValue(std::u16string_view valueName) {
        for (auto& v : values)
            if (sameName(v.name, valueName)) return &v;
        return nullptr;
    }
    std::shared_ptr<Key> child(std::u16string_view childName) const {
        auto it = children.find(folded(childName));
        return it == children.end() ? nullptr : it->second;
    }
};

// An open key. Deleting a key leaves its handles open but dead.
struct Handle {
    std::shared_ptr<Key> key;
};

std::mutex g_lock;
const std::shared_ptr<Key> g_classesRoot = std::make_shared<Key>();
const std::shared_ptr<Key> g_currentUser = std::make_shared<Key>();
const std::shared_ptr<Key> g_localMachine = std::make_shared<Key>();
std::shared_ptr<Key> g_classesOverride;  // RegOverridePredefKey's key for HKEY_CLASSES_ROOT
std::set<HKEY> g_handles;

std::shared_ptr<Key> resolve(HKEY h) {
    if (h == HKEY_CLASSES_ROOT) return g_classesOverride ? g_classesOverride : g_classesRoot;
    if (h == HKEY_CURRENT_USER) return g_currentUser;
    if (h == HKEY_LOCAL_MACHINE) return g_localMachine;
    if (!g_handles.count(h)) return nullptr;
    return reinterpret_cast<Handle*>(h)->key;
}

HKEY newHandle(std::shared_ptr<Key> key) {
    auto* handle = new Handle{std::move(key)};
    auto h = reinterpret_cast<HKEY>(handle);
    g_handles.insert(h);
    return h;
}

// Backslash-separated components; empty ones (doubled, leading, trailing
// separators) are skipped, as Windows skips them.
std::vector<std::u16string_view> components(LPCWSTR path) {
    std::vector<std::u16string_view> parts;
    const std::u16string_view s = view(path);
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t end = s.find(u'\\', start);
        if (end == std::u16string_view::npos) end = s.size();
        if (end > start) parts.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

void markDeleted(Key& key) {
    key.deleted = true;
    for (auto& [name, child] : key.children) markDeleted(*child);
}

// Copies a name out the way RegEnum*W do: refused whole when it does not fit
// with its terminator, and then the count is left as it was.
LONG copyName(const std::u16string& name, LPWSTR out, LPDWORD cch) {
    if (!out || !cch) return ERROR_INVALID_PARAMETER;
    if (*cch <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(out, name.data(), name.size() * sizeof(char16_t));
    out[name.size()] = 0;
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG copyData(const Value& v, LPDWORD type, LPBYTE data, LPDWORD cbData) {
    if (type) *type = v.type;
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    if (!cbData) return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(v.data.size());
    if (data) {
        if (*cbData < size) {
            *cbData = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, v.data.data(), size);
    }
    *cbData = size;
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD dwOptions, REGSAM, LPSECURITY_ATTRIBUTES,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    const bool wantVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    for (auto part : components(lpSubKey)) {
        std::shared_ptr<Key> next = key->child(part);
        if (!next) {
            if (key->isVolatile && !wantVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
            next = std::make_shared<Key>();
            next->name = std::u16string(part);
            next->isVolatile = wantVolatile;
            key->children.emplace(folded(part), next);
            disposition = REG_CREATED_NEW_KEY;
        }
        key = std::move(next);
    }
    *phkResult = newHandle(std::move(key));
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    for (auto part : components(lpSubKey)) {
        key = key->child(part);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = newHandle(std::move(key));
    return ERROR_SUCCESS;
}

LONG RegOverridePredefKey(HKEY hKey, HKEY hNewHKey) {
    if (hKey != HKEY_CLASSES_ROOT) return ERROR_INVALID_HANDLE;  // the only one anything here redirects
    std::lock_guard<std::mutex> guard(g_lock);
    if (!hNewHKey) {
        g_classesOverride.reset();
        return ERROR_SUCCESS;
    }
    // The override keeps the key, not the handle: closing the handle keeps it.
    if (hNewHKey == HKEY_CLASSES_ROOT || !g_handles.count(hNewHKey)) return ERROR_INVALID_HANDLE;
    g_classesOverride = reinterpret_cast<Handle*>(hNewHKey)->key;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_handles.erase(hKey)) return ERROR_INVALID_HANDLE;
    delete reinterpret_cast<Handle*>(hKey);
    return ERROR_SUCCESS;
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_NOACCESS;
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    std::vector<BYTE> bytes(lpData, lpData + cbData);
    if (Value* v = key->findValue(view(lpValueName))) {
        v->type = dwType;
        v->data = std::move(bytes);
    } else {
        key->values.push_back({std::u16string(view(lpValueName)), dwType, std::move(bytes)});
    }
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    const Value* v = key->findValue(view(lpValueName));
    if (!v) return ERROR_FILE_NOT_FOUND;
    return copyData(*v, lpType, lpData, lpcbData);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    if (dwIndex >= key->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->children.begin();
    std::advance(it, dwIndex);
    const LONG r = copyName(it->second->name, lpName, lpcchName);
    if (r != ERROR_SUCCESS) return r;
    // Keys here have no class and no write time.
    if (lpClass && lpcchClass && *lpcchClass) lpClass[0] = 0;
    if (lpcchClass) *lpcchClass = 0;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    if (dwIndex >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = key->values[dwIndex];
    const LONG r = copyName(v.name, lpValueName, lpcchValueName);
    if (r != ERROR_SUCCESS) return r;
    return copyData(v, lpType, lpData, lpcbData);
}

LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::shared_ptr<Key> key = resolve(hKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    const auto parts = components(lpSubKey);
    if (parts.empty()) {
        // No subkey: the key stays, everything in it goes.
        for (auto& [name, child] : key->children) markDeleted(*child);
        key->children.clear();
        key->values.clear();
        return ERROR_SUCCESS;
    }
    std::shared_ptr<Key> parent = key;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        parent = parent->child(parts[i]);
        if (!parent) return ERROR_FILE_NOT_FOUND;
    }
    auto it = parent->children.find(folded(parts.back()));
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    markDeleted(*it->second);
    parent->children.erase(it);
    return ERROR_SUCCESS;
}
