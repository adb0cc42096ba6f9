// Host stand-in for type-library loading and registration. A module path
// carries a library only when a test has said so (kv::host::setModuleTypeLib);
// registration writes the TypeLib entries (of the machine or the user) through the
// registry stand-in, and LoadRegTypeLib reads them back, as oleaut32 does.
#include "platform/win32.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

const IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

using String = std::u16string;

struct Record {
    String path;
    TLIBATTR attributes;
    String name;
    String helpString;
};

std::mutex g_lock;
std::vector<Record> g_records;

// File names on Windows compare without regard to case.
bool samePath(const String& a, LPCOLESTR b) {
    const std::u16string_view bv(b);
    if (a.size() != bv.size()) return false;
    auto up = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (up(a[i]) != up(bv[i])) return false;
    return true;
}

std::optional<Record> findRecord(LPCOLESTR path) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const auto& r : g_records)
        if (samePath(r.path, path)) return r;
    return std::nullopt;
}

// A loaded library: its attributes and names, and no type descriptions.
class CHostTypeLib final : public ITypeLib {
public:
    explicit CHostTypeLib(Record record) : m_record(std::move(record)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITypeLib)) {
            *ppv = static_cast<ITypeLib*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_refs;
        if (n == 0) delete this;
        return n;
    }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return 0; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_INVALIDARG;
        *ppTInfo = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID, ITypeInfo** ppTinfo) override {
        if (!ppTinfo) return E_INVALIDARG;
        *ppTinfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override {
        if (!ppTLibAttr) return E_INVALIDARG;
        *ppTLibAttr = new TLIBATTR(m_record.attributes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) override {
        // Only the library itself is described.
        if (index != MEMBERID_NIL) return TYPE_E_ELEMENTNOTFOUND;
        if (pBstrName) *pBstrName = SysAllocString(m_record.name.c_str());
        if (pBstrDocString) *pBstrDocString = SysAllocString(m_record.helpString.c_str());
        if (pdwHelpContext) *pdwHelpContext = 0;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override { delete pTLibAttr; }

private:
    std::atomic<ULONG> m_refs{1};
    Record m_record;
};

HRESULT loadFile(LPCOLESTR path, ITypeLib** out) {
    std::optional<Record> record = findRecord(path);
    if (!record) return TYPE_E_CANTLOADLIBRARY;
    *out = new CHostTypeLib(std::move(*record));
    return S_OK;
}

// Registry names as oleaut32 writes them: lower-case hexadecimal numbers,
// upper-case GUIDs in braces.
String hex(unsigned long v) {
    static const char16_t digits[] = u"0123456789abcdef";
    String s;
    do {
        s.insert(s.begin(), digits[v % 16]);
        v /= 16;
    } while (v);
    return s;
}

String guidText(const GUID& g) {
    OLECHAR text[39];
    StringFromGUID2(g, text, 39);
    return text;
}

const char16_t* platformName(SYSKIND kind) {
    switch (kind) {
        case SYS_WIN16:
            return u"win16";
        case SYS_WIN32:
            return u"win32";
        case SYS_MAC:
            return u"mac";
        case SYS_WIN64:
            return u"win64";
    }
    return u"win32";
}

String versionKey(const GUID& libid, WORD major, WORD minor) {
    return u"TypeLib\\" + guidText(libid) + u"\\" + hex(major) + u"." + hex(minor);
}

// Where registration writes: the machine's classes or the user's.
struct Classes {
    HKEY root;
    const char16_t* prefix;
    String operator()(const String& path) const { return prefix + path; }
};
const Classes kMachine{HKEY_CLASSES_ROOT, u""};
const Classes kUser{HKEY_CURRENT_USER, u"Software\\Classes\\"};

bool setDefault(const Classes& in, const String& path, const String& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(in.root, in(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

std::optional<String> readDefault(const Classes& in, const String& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(in.root, in(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<String> result;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        String text(size / sizeof(char16_t), u'\0');
        if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &size) ==
            ERROR_SUCCESS) {
            while (!text.empty() && text.back() == 0) text.pop_back();
            result = std::move(text);
        }
    }
    RegCloseKey(key);
    return result;
}

std::vector<String> subkeys(const Classes& in, const String& path) {
    std::vector<String> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(in.root, in(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char16_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = 256;
        if (RegEnumKeyExW(key, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, n);
    }
    RegCloseKey(key);
    return names;
}

void deleteIfEmpty(const Classes& in, const String& path) {
    if (subkeys(in, path).empty()) RegDeleteTreeW(in.root, in(path).c_str());
}

}  // namespace

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    if (!szFile || !pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    // The default kind registers only libraries loaded by bare file name,
    // which nothing here does.
    if (regkind == REGKIND_DEFAULT) return E_NOTIMPL;
    HRESULT hr = loadFile(szFile, pptlib);
    if (SUCCEEDED(hr) && regkind == REGKIND_REGISTER) {
        hr = RegisterTypeLib(*pptlib, const_cast<OLECHAR*>(szFile), nullptr);
        if (FAILED(hr)) {
            (*pptlib)->Release();
            *pptlib = nullptr;
        }
    }
    return hr;
}

namespace {

HRESULT registerIn(const Classes& in, ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    BSTR name = nullptr, doc = nullptr;
    hr = ptlib->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        const String version = versionKey(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum);
        const String path(szFullPath);
        // Without a help folder the module's own folder is written.
        const String helpDir = szHelpDir ? String(szHelpDir) : path.substr(0, std::min(path.size(), path.rfind(u'\\')));
        const bool written =
            setDefault(in, version, String(SysStringLen(doc) ? doc : (name ? name : u""))) &&
            setDefault(in, version + u"\\" + hex(attr->lcid) + u"\\" + platformName(attr->syskind), path) &&
            setDefault(in, version + u"\\FLAGS", hex(attr->wLibFlags)) &&
            setDefault(in, version + u"\\HELPDIR", helpDir);
        hr = written ? S_OK : TYPE_E_REGISTRYACCESS;
    }
    SysFreeString(name);
    SysFreeString(doc);
    ptlib->ReleaseTLibAttr(attr);
    return hr;
}

HRESULT unregisterIn(const Classes& in, REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
    const String version = versionKey(libID, wVerMajor, wVerMinor);
    const String locale = version + u"\\" + hex(lcid);
    const String platform = locale + u"\\" + platformName(syskind);
    const std::optional<String> path = readDefault(in, platform);
    if (!path) return E_INVALIDARG;
    // oleaut32 reads the registered file again to find the library's
    // interfaces, and keeps every entry when that file is gone.
    if (!findRecord(path->c_str())) return TYPE_E_INVALIDSTATE;
    RegDeleteTreeW(in.root, in(platform).c_str());
    deleteIfEmpty(in, locale);
    bool otherLocales = false;
    for (const auto& name : subkeys(in, version))
        if (name != u"FLAGS" && name != u"HELPDIR") otherLocales = true;
    if (!otherLocales) {
        RegDeleteTreeW(in.root, in(version).c_str());
        deleteIfEmpty(in, u"TypeLib\\" + guidText(libID));
    }
    return S_OK;
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir) {
    return registerIn(kMachine, ptlib, szFullPath, szHelpDir);
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
    return unregisterIn(kMachine, libID, wVerMajor, wVerMinor, lcid, syskind);
}

HRESULT RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir) {
    return registerIn(kUser, ptlib, szFullPath, szHelpDir);
}

HRESULT UnRegisterTypeLibForUser(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind) {
    return unregisterIn(kUser, libID, wVerMajor, wVerMinor, lcid, syskind);
}

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    // The exact locale first, then the language-neutral registration.
    const String version = versionKey(rguid, wVerMajor, wVerMinor);
    for (LCID candidate : {lcid, LCID{0}}) {
        const std::optional<String> path = readDefault(kMachine, version + u"\\" + hex(candidate) + u"\\win32");
        if (path) return loadFile(path->c_str(), pptlib);
        if (candidate == 0) break;
    }
    return TYPE_E_LIBNOTREGISTERED;
}

namespace kv::host {

void setModuleTypeLib(LPCOLESTR path, const TLIBATTR& attributes, LPCOLESTR name, LPCOLESTR helpString) {
    std::lock_guard<std::mutex> guard(g_lock);
    Record record{String(path), attributes, String(name ? name : u""), String(helpString ? helpString : u"")};
    for (auto& r : g_records) {
        if (samePath(r.path, path)) {
            r = std::move(record);
            return;
        }
    }
    g_records.push_back(std::move(record));
}

void forgetModuleTypeLib(LPCOLESTR path) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::erase_if(g_records, [&](const Record& r) { return samePath(r.path, path); });
}

}  // namespace kv::host
