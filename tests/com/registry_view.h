#pragma once

// Reading registered classes back in tests, through the same calls on both
// platforms: HKEY_CLASSES_ROOT, or the user's classes while a UserClasses
// object lives.

#include "platform/win32.h"

#include <optional>
#include <set>
#include <string>

namespace kvtest {

using OleString = std::basic_string<OLECHAR>;

inline HKEY& classesRoot() {
    static HKEY root = HKEY_CLASSES_ROOT;
    return root;
}

// While it lives, the functions below work in HKEY_CURRENT_USER\Software\Classes.
class UserClasses {
public:
    UserClasses() {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, KV_W("Software\\Classes"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
            classesRoot() = key;
    }
    ~UserClasses() {
        if (classesRoot() != HKEY_CLASSES_ROOT) RegCloseKey(classesRoot());
        classesRoot() = HKEY_CLASSES_ROOT;
    }
    bool opened() const { return classesRoot() != HKEY_CLASSES_ROOT; }
    UserClasses(const UserClasses&) = delete;
    UserClasses& operator=(const UserClasses&) = delete;
};

// "A\B\C" from its parts.
inline OleString keyPath(std::initializer_list<OleString> parts) {
    OleString path;
    for (const auto& p : parts) {
        if (!path.empty()) path += KV_W("\\");
        path += p;
    }
    return path;
}

inline bool keyExists(const OleString& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classesRoot(), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A string value (null name: the default value); nothing when the key or
// the value is missing or the value is not a REG_SZ.
inline std::optional<OleString> readString(const OleString& path, const OLECHAR* name = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(classesRoot(), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<OleString> result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        OleString text(size / sizeof(OLECHAR), 0);
        if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) ==
            ERROR_SUCCESS) {
            text.resize(size / sizeof(OLECHAR));
            while (!text.empty() && text.back() == 0) text.pop_back();
            result = text;
        }
    }
    RegCloseKey(key);
    return result;
}

// Names of the subkeys, as they were written.
inline std::set<OleString> subkeyNames(const OleString& path) {
    std::set<OleString> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(classesRoot(), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    OLECHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        if (RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace(name, n);
    }
    RegCloseKey(key);
    return names;
}

// Names of the values; the default value, when set, is "".
inline std::set<OleString> valueNames(const OleString& path) {
    std::set<OleString> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(classesRoot(), path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    OLECHAR name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        if (RegEnumValueW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace(name, n);
    }
    RegCloseKey(key);
    return names;
}

inline bool writeString(const OleString& path, const OLECHAR* name, const OleString& text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(classesRoot(), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR)));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

inline void deleteTree(const OleString& path) { RegDeleteTreeW(classesRoot(), path.c_str()); }

}  // namespace kvtest
