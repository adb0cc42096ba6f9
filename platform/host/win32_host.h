// Linux stand-in for the part of the Win32/COM surface this project uses.
// Each function mirrors the result of the real one for the cases the module
// relies on; tests in tests/platform hold it to that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- basic types -----------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using BOOLEAN = BYTE;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = DWORD;
using DWORD_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using LPVOID = void*;
using LPBYTE = BYTE*;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using VARIANT_BOOL = short;
using LPSTR = char*;
using LPCSTR = const char*;

#define TRUE 1
#define FALSE 0
#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)
#define STDMETHODCALLTYPE
#define WINAPI
#define STDAPI extern "C" HRESULT
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name

// ---- HRESULTs ---------------------------------------------------------------
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define KV_HR(x) static_cast<HRESULT>(static_cast<std::uint32_t>(x))
#define S_OK KV_HR(0x00000000)
#define S_FALSE KV_HR(0x00000001)
#define E_NOTIMPL KV_HR(0x80004001)
#define E_NOINTERFACE KV_HR(0x80004002)
#define E_POINTER KV_HR(0x80004003)
#define E_ABORT KV_HR(0x80004004)
#define E_FAIL KV_HR(0x80004005)
#define E_UNEXPECTED KV_HR(0x8000FFFF)
#define E_ACCESSDENIED KV_HR(0x80070005)
#define E_OUTOFMEMORY KV_HR(0x8007000E)
#define E_INVALIDARG KV_HR(0x80070057)
#define CLASS_E_NOAGGREGATION KV_HR(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE KV_HR(0x80040111)
#define REGDB_E_CLASSNOTREG KV_HR(0x80040154)
#define CO_E_NOTINITIALIZED KV_HR(0x800401F0)
#define TYPE_E_LIBNOTREGISTERED KV_HR(0x8002801D)
#define TYPE_E_REGISTRYACCESS KV_HR(0x8002801C)
#define TYPE_E_INVALIDSTATE KV_HR(0x80028029)
#define TYPE_E_ELEMENTNOTFOUND KV_HR(0x8002802B)
#define TYPE_E_CANTLOADLIBRARY KV_HR(0x80029C4A)
#define DISP_E_UNKNOWNNAME KV_HR(0x80020006)
#define DISP_E_MEMBERNOTFOUND KV_HR(0x80020003)
#define DISP_E_TYPEMISMATCH KV_HR(0x80020005)

// ---- Win32 error codes ---------------------------------------------------------
#define ERROR_SUCCESS 0L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOACCESS 998L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L
#define ERROR_BUSY 170L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define FACILITY_WIN32 7
inline HRESULT HRESULT_FROM_WIN32(long x) {
    return x <= 0 ? static_cast<HRESULT>(x)
                  : KV_HR((static_cast<std::uint32_t>(x) & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// ---- GUIDs ------------------------------------------------------------------
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the characters written with the
// terminating zero (39), or 0 when the buffer is shorter than that.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

extern const IID IID_IUnknown;
extern const GUID GUID_NULL;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// ---- IUnknown ---------------------------------------------------------------
struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;
};
using LPUNKNOWN = IUnknown*;

// ---- IDispatch (the type-information side is declared as far as it is used) ---
using DISPID = LONG;
using MEMBERID = DISPID;
struct ITypeInfo;
struct ITypeLib;
struct tagDISPPARAMS;
struct tagVARIANT;
struct tagEXCEPINFO;
using DISPPARAMS = tagDISPPARAMS;
using VARIANT = tagVARIANT;
using EXCEPINFO = tagEXCEPINFO;

struct IDispatch : IUnknown {
    STDMETHOD(GetTypeInfoCount)(UINT* pctinfo) = 0;
    STDMETHOD(GetTypeInfo)(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    STDMETHOD(Invoke)
    (DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
     EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
extern const IID IID_IDispatch;

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    STDMETHOD(LockServer)(BOOL fLock) = 0;
};
extern const IID IID_IClassFactory;

// ---- COM runtime: apartments and in-process class objects ---------------------
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1
#define RPC_E_CHANGED_MODE KV_HR(0x80010106)
#define RPC_E_WRONG_THREAD KV_HR(0x8001010E)

HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
// The calling thread's apartment. The process's first STA, until it ends, is
// the main STA. A thread without COM gets CO_E_NOTINITIALIZED (the real
// runtime says APTTYPE_MTA, qualified as implicit, while another thread holds
// the MTA; the host's callers count both as the MTA).
enum APTTYPE { APTTYPE_CURRENT = -1, APTTYPE_STA = 0, APTTYPE_MTA = 1, APTTYPE_NA = 2, APTTYPE_MAINSTA = 3 };
enum APTTYPEQUALIFIER { APTTYPEQUALIFIER_NONE = 0, APTTYPEQUALIFIER_IMPLICIT_MTA = 1 };
HRESULT CoGetApartmentType(APTTYPE* type, APTTYPEQUALIFIER* qualifier);
// Class objects registered in this process; the real runtime also finds
// registered in-process servers, which the host build links in instead.
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags, DWORD* lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

// Class objects of registered in-process servers. The host has no DLLs: a
// server is linked into the program and announced under the module path it
// registers as InprocServer32 (kv::host::addLinkedModule); CoGetClassObject then
// finds it through the registry as the real runtime finds a DLL.
void CoFreeUnusedLibraries();

// ---- type libraries --------------------------------------------------------------
// The host has no type-library loader and no module files with resources.
// What stands in: a test states which type library a module path carries
// (kv::host::setModuleTypeLib below); LoadTypeLibEx on that path answers with a
// library object that knows its attributes and names but describes no types
// (GetTypeInfoOfGuid fails with E_NOTIMPL); RegisterTypeLib and
// UnRegisterTypeLib write and remove the HKEY_CLASSES_ROOT\TypeLib entries
// the real calls write (not the Interface entries, which need type
// descriptions); LoadRegTypeLib finds a library through those entries, so it
// fails with TYPE_E_LIBNOTREGISTERED until one is registered. The IDispatch
// paths that need type information are therefore tested on win32 only.
#define DISP_E_BADINDEX KV_HR(0x8002000B)
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };
enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER = 1, REGKIND_NONE = 2 };
#define LIBFLAG_FHASDISKIMAGE 0x8
#define MEMBERID_NIL (-1)
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    SYSKIND syskind;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};
using LPTLIBATTR = TLIBATTR*;

enum TYPEKIND { TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };
// The part of the real record anything here reads.
struct TYPEATTR {
    GUID guid;
    TYPEKIND typekind;
};
struct ITypeInfo : IUnknown {
    STDMETHOD(GetTypeAttr)(TYPEATTR** ppTypeAttr) = 0;
    STDMETHOD_(void, ReleaseTypeAttr)(TYPEATTR* pTypeAttr) = 0;
    STDMETHOD(GetIDsOfNames)(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    STDMETHOD(Invoke)
    (void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
     UINT* puArgErr) = 0;
};
// In the order of the real method table, as far as anything here calls it.
struct ITypeLib : IUnknown {
    STDMETHOD_(UINT, GetTypeInfoCount)() = 0;
    STDMETHOD(GetTypeInfo)(UINT index, ITypeInfo** ppTInfo) = 0;
    STDMETHOD(GetTypeInfoOfGuid)(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    STDMETHOD(GetLibAttr)(TLIBATTR** ppTLibAttr) = 0;
    STDMETHOD(GetDocumentation)
    (INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    STDMETHOD_(void, ReleaseTLibAttr)(TLIBATTR* pTLibAttr) = 0;
};
extern const IID IID_ITypeLib;
HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT RegisterTypeLib(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);
// The same entries under HKEY_CURRENT_USER\Software\Classes; LoadRegTypeLib
// does not look there.
HRESULT RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT UnRegisterTypeLibForUser(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);

// ---- error information ------------------------------------------------------------
// One slot per thread, as in the real runtime: SetErrorInfo replaces what it
// holds, GetErrorInfo hands it over and empties it (S_FALSE when empty).
struct IErrorInfo : IUnknown {
    STDMETHOD(GetGUID)(GUID* pGUID) = 0;
    STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;
};
struct ICreateErrorInfo : IUnknown {
    STDMETHOD(SetGUID)(REFGUID rguid) = 0;
    STDMETHOD(SetSource)(LPOLESTR szSource) = 0;
    STDMETHOD(SetDescription)(LPOLESTR szDescription) = 0;
    STDMETHOD(SetHelpFile)(LPOLESTR szHelpFile) = 0;
    STDMETHOD(SetHelpContext)(DWORD dwHelpContext) = 0;
};
struct ISupportErrorInfo : IUnknown {
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) = 0;
};
extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;
extern const IID IID_ISupportErrorInfo;
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// ---- BSTR -------------------------------------------------------------------
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
UINT SysStringLen(BSTR bstr);
void SysFreeString(BSTR bstr);

// ---- interlocked counters and critical sections -----------------------------
LONG InterlockedIncrement(LONG volatile* addend);
LONG InterlockedDecrement(LONG volatile* addend);

struct CRITICAL_SECTION {
    void* impl;  // a recursive mutex, created by InitializeCriticalSection
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spinCount);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// ---- modules ---------------------------------------------------------------------
#define MAX_PATH 260
// The path of the running program for a null handle (the host links the
// server into programs, so that is the module file); 0 for anything else.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size);
// Of the modules every Windows process has, ntdll.dll (named in any case);
// null for any other name. As on Windows, its exports hold no wine_get_version:
// GetProcAddress finds nothing here.
using FARPROC = void (*)();
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// ---- debugger output --------------------------------------------------------
void OutputDebugStringW(LPCWSTR message);

// ---- thread locale ----------------------------------------------------------
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
// Each thread starts with the user default, 0x0409 here; the default
// locales and 0 are stored as that concrete locale, as Windows does.
LCID GetThreadLocale();
BOOL SetThreadLocale(LCID locale);

// ---- registry: HKEY_CLASSES_ROOT ------------------------------------------------
// One process-wide tree, empty at start. Key and value names compare without
// regard to ASCII case and keep the case they were created with; subkeys
// enumerate in name order, values in the order they were first set.
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;
using LPDWORD = DWORD*;
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
// A tree of its own, apart from HKEY_CLASSES_ROOT (no merged view).
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
// Another tree of its own; registry views are one view here, so the
// KEY_WOW64_* access flags are accepted and change nothing.
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define REG_NONE 0
#define REG_SZ 1
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2
// Access rights are accepted and not enforced: nothing here relies on a refusal.
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition);
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCloseKey(HKEY hKey);
// Redirects HKEY_CLASSES_ROOT to another open key for the whole process;
// a null key takes the redirection back.
LONG RegOverridePredefKey(HKEY hKey, HKEY hNewHKey);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// ---- Audio Compression Manager: the PCM stream calls ---------------------------
using MMRESULT = UINT;
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define ACMERR_BASE 512
#define ACMERR_NOTPOSSIBLE (ACMERR_BASE + 0)
#define ACMERR_BUSY (ACMERR_BASE + 1)
#define ACMERR_UNPREPARED (ACMERR_BASE + 2)

#define WAVE_FORMAT_PCM 1

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
using PWAVEFORMATEX = WAVEFORMATEX*;
using LPWAVEFORMATEX = WAVEFORMATEX*;

struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
using LPHACMSTREAM = HACMSTREAM*;
using HACMDRIVER = void*;
using PWAVEFILTER = void*;

// Field for field the Win32 layout; on a 32-bit build it is 84 bytes.
struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
};
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

#define ACM_STREAMOPENF_QUERY 0x00000001
#define ACM_STREAMOPENF_ASYNC 0x00000002
#define ACM_STREAMOPENF_NONREALTIME 0x00000004
#define ACM_STREAMSIZEF_SOURCE 0x00000000
#define ACM_STREAMSIZEF_DESTINATION 0x00000001
#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004
#define ACM_STREAMCONVERTF_START 0x00000010
#define ACM_STREAMCONVERTF_END 0x00000020
#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst,
                       PWAVEFILTER pwfltr, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);

// ---- what only the stand-in offers: test access ------------------------------
namespace kv::host {
using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using DllCanUnloadNowFn = HRESULT (*)();
// Makes a linked-in server answer for the module path it registers.
void addLinkedModule(const std::u16string& path, DllGetClassObjectFn getClassObject, DllCanUnloadNowFn canUnloadNow);

// What was written with OutputDebugStringW since the last clear: all of it,
// or its last kDebugOutputKept characters when there was more.
inline constexpr std::size_t kDebugOutputKept = 64 * 1024;
std::u16string debugOutput();
void clearDebugOutput();

// There are no module files with resources here: this states that the module
// file at `path` carries a type library with these attributes, name and help
// string, as a Windows module carries one as resource 1 of type "TYPELIB".
// LoadTypeLibEx(path) answers with it until forgetModuleTypeLib(path).
void setModuleTypeLib(LPCOLESTR path, const TLIBATTR& attributes, LPCOLESTR name, LPCOLESTR helpString);
void forgetModuleTypeLib(LPCOLESTR path);
}  // namespace kv::host

// ---- what headers generated from IDL expect -----------------------------------
#define interface struct
#define EXTERN_C extern "C"
#define DECLSPEC_SELECTANY __attribute__((weak))
#define DECLSPEC_UUID(x)
#define __RPC_USER
#define MIDL_INTERFACE(x) struct
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const GUID name
