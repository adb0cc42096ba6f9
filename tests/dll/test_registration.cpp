// Registration as a user does it, with regsvr32, read back key by key. The run
// starts with the module registered from its install folder (the script does
// that); every test here leaves it registered the same way.
#include "tests/dll/fixture.h"
#include "tests/server/registered_entries.h"

#include <set>

namespace client {
namespace {

using kvtest::keyExists;
using kvtest::keyPath;
using kvtest::readString;
using kvtest::subkeyNames;
using kvtest::valueNames;
using Names = std::set<std::wstring>;

using kvtest::kAppIdKey;
using kvtest::kDllAppIdKey;
const std::wstring& kLibIdText = kvtest::kEncoderLibText;
const std::wstring kTypeLibKey = L"TypeLib\\" + kLibIdText;
// Another server's entries, which must outlive ours.
const std::wstring kForeignAppIdKey = L"AppID\\{0F0E0D0C-0B0A-4909-8807-060504030201}";
const std::wstring kForeignClassKey = L"CLSID\\{0F0E0D0C-0B0A-4909-8807-060504030201}";

std::wstring interfaceKey(const EncoderClass& c) { return L"Interface\\" + wide(c.ids.classIid); }

// The library's platform key, of this client's bitness like the module's.
const std::wstring kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
const std::wstring kOtherPlatform = sizeof(void*) == 8 ? L"win32" : L"win64";

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

// regsvr32 [/u] /s "<path>", run as its own process; its exit status.
DWORD regsvr32(const std::wstring& path, bool unregister = false) {
    std::wstring command = L"regsvr32.exe ";
    if (unregister) command += L"/u ";
    command += L"/s \"" + path + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "cannot start regsvr32: error " << GetLastError();
        return ~DWORD{0};
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = ~DWORD{0};
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return status;
}

void expectClassEntries(const EncoderClass& c, const std::wstring& module) {
    kvtest::expectClassEntries(c.ids, module);
    // RegisterTypeLib enters every dual interface of the library.
    EXPECT_EQ(readString(keyPath({interfaceKey(c), L"TypeLib"})), kLibIdText);
    EXPECT_EQ(readString(keyPath({interfaceKey(c), L"TypeLib"}), L"Version"), std::wstring(L"1.0"));
}

void expectTypeLibEntries(const std::wstring& module) {
    EXPECT_EQ(subkeyNames(kTypeLibKey), Names{L"1.0"});
    const std::wstring version = keyPath({kTypeLibKey, L"1.0"});
    EXPECT_EQ(readString(version), wide(published::kEncoderLib.libHelp));
    const Names locales = subkeyNames(version);
    EXPECT_EQ(locales.count(L"409"), 1u);
    EXPECT_EQ(locales.count(L"0"), 0u) << "the library is registered for its own locale only";
    EXPECT_EQ(subkeyNames(keyPath({version, L"409"})).count(kPlatform), 1u);
    EXPECT_EQ(readString(keyPath({version, L"409", kPlatform})), module);
}

void expectRegisteredAt(const std::wstring& module) {
    kvtest::expectAppIdEntries();
    for (const EncoderClass* c : kEncoderClasses) expectClassEntries(*c, module);
    expectTypeLibEntries(module);
}

void expectNothingOurs() {
    EXPECT_TRUE(keyExists(L"AppID"));
    EXPECT_TRUE(keyExists(L"CLSID"));
    EXPECT_FALSE(keyExists(kAppIdKey));
    EXPECT_FALSE(keyExists(kDllAppIdKey));
    for (const EncoderClass* c : kEncoderClasses) {
        SCOPED_TRACE(c->name);
        kvtest::expectNoClassEntries(c->ids);
        EXPECT_FALSE(keyExists(interfaceKey(*c)));
        // What a client then sees.
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(c->progId.c_str(), &clsid), CO_E_CLASSSTRING);
        Ptr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(c->clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
                  REGDB_E_CLASSNOTREG);
    }
    // The module of the other bitness may be registered beside this one; it
    // shares the library's key, and then only its own entry may be left.
    if (keyExists(kTypeLibKey)) {
        EXPECT_EQ(subkeyNames(keyPath({kTypeLibKey, L"1.0", L"409"})), Names{kOtherPlatform});
    } else {
        Ptr<ITypeLib> library;
        EXPECT_EQ(LoadRegTypeLib(kLibIdEncoderLib, 1, 0, 0x0409, library.put()), TYPE_E_LIBNOTREGISTERED);
    }
}

class Registration : public ClientTest {
protected:
    void TearDown() override {
        kvtest::deleteTree(kForeignAppIdKey);
        kvtest::deleteTree(kForeignClassKey);
        EXPECT_EQ(regsvr32(paths().dll), 0u) << "registering the module again";
        ClientTest::TearDown();
    }
};

TEST_F(Registration, Regsvr32WroteEveryKeyAndValue) { expectRegisteredAt(paths().dll); }

// Per-user registration itself is checked by the script around this client,
// which can see HKEY_LOCAL_MACHINE whole; here, what DllInstall refuses.
TEST_F(Registration, DllInstallRefusesAnUnknownCommandLine) {
    Library library;
    ASSERT_TRUE(library);
    using Fn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    const auto install = library.get<Fn>("DllInstall");
    ASSERT_NE(install, nullptr);
    for (const wchar_t* commandLine : {L"machine", L"users", L" user", L"/i:user"}) {
        for (BOOL doInstall : {TRUE, FALSE}) {
            EXPECT_EQ(install(doInstall, commandLine), E_INVALIDARG) << commandLine;
        }
    }
    expectRegisteredAt(paths().dll);
}

TEST_F(Registration, RegisteringAgainLeavesOneSetOfEntries) {
    // First from another folder, with stray entries of an older install in
    // the class keys; then twice from the real one.
    const std::wstring oldFolder = folderOf(paths().dll) + L" (old)";
    const std::wstring oldModule = oldFolder + L"\\KvAudioEncoder.dll";
    ASSERT_TRUE(CreateDirectoryW(oldFolder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileW(paths().dll.c_str(), oldModule.c_str(), FALSE));
    EXPECT_EQ(regsvr32(oldModule), 0u);
    expectRegisteredAt(oldModule);
    for (const EncoderClass* c : kEncoderClasses) {
        const std::wstring key = kvtest::classKey(c->ids);
        ASSERT_TRUE(kvtest::writeString(key, L"Stray", L"x"));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, L"Stray"}), nullptr, L"x"));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, L"Programmable", L"Stray"}), nullptr, L"x"));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, L"InprocServer32"}), L"Stray", L"x"));
        ASSERT_TRUE(kvtest::writeString(c->progId, nullptr, L"old description"));
        ASSERT_TRUE(kvtest::writeString(keyPath({c->versionIndependentProgId, L"CurVer"}), nullptr, L"old"));
    }

    EXPECT_EQ(regsvr32(paths().dll), 0u);
    EXPECT_EQ(regsvr32(paths().dll), 0u);
    expectRegisteredAt(paths().dll);

    EXPECT_TRUE(DeleteFileW(oldModule.c_str()));
    EXPECT_TRUE(RemoveDirectoryW(oldFolder.c_str()));
}

TEST_F(Registration, UnregisteringRemovesOnlyThisModulesEntries) {
    ASSERT_TRUE(kvtest::writeString(kForeignAppIdKey, nullptr, L"Other"));
    ASSERT_TRUE(kvtest::writeString(keyPath({kForeignClassKey, L"InprocServer32"}), nullptr, L"other.dll"));

    EXPECT_EQ(regsvr32(paths().dll, true), 0u);
    expectNothingOurs();
    EXPECT_EQ(readString(kForeignAppIdKey), std::wstring(L"Other"));
    EXPECT_EQ(readString(keyPath({kForeignClassKey, L"InprocServer32"})), std::wstring(L"other.dll"));
}

// The library in the registry is the one described: its identity, the four
// classes each with its member-less dual class interface as default, and the
// control interface they all answer.
TEST_F(Registration, TheRegisteredTypeLibraryDescribesTheFourClasses) {
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(kLibIdEncoderLib, 1, 0, 0x0409, library.put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(narrow(name), published::kEncoderLib.libName);
    EXPECT_EQ(narrow(help), published::kEncoderLib.libHelp);
    SysFreeString(name);
    SysFreeString(help);

    const char* const order[] = {"KV_AudioQuorvan", "IKV_AudioQuorvan", "KV_AudioG711U",
                                 "IKV_AudioG711U",  "KV_AudioG711A",    "IKV_AudioG711A",
                                 "KV_AudioG7231",   "IKV_AudioG7231",   "IKvAudioEncoderControl"};
    ASSERT_EQ(library->GetTypeInfoCount(), std::size(order));
    for (UINT i = 0; i < std::size(order); ++i) {
        ASSERT_EQ(library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(narrow(name), order[i]);
        SysFreeString(name);
    }

    for (const EncoderClass* c : kEncoderClasses) {
        SCOPED_TRACE(c->name);
        Ptr<ITypeInfo> coclass;
        ASSERT_EQ(library->GetTypeInfoOfGuid(c->clsid, coclass.put()), S_OK);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(coclass->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, TKIND_COCLASS);
        EXPECT_EQ(ta->cImplTypes, 1);
        EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FCANCREATE);
        coclass->ReleaseTypeAttr(ta);
        INT flags = 0;
        EXPECT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
        EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
        HREFTYPE ref = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
        Ptr<ITypeInfo> itf;
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, itf.put()), S_OK);
        ASSERT_EQ(itf->GetTypeAttr(&ta), S_OK);
        EXPECT_TRUE(IsEqualGUID(ta->guid, c->classIid));
        itf->ReleaseTypeAttr(ta);
        // The vtable side of the dual interface: IDispatch and nothing more.
        ASSERT_EQ(itf->GetRefTypeOfImplType(-1, &ref), S_OK);
        Ptr<ITypeInfo> vtable;
        ASSERT_EQ(itf->GetRefTypeInfo(ref, vtable.put()), S_OK);
        ASSERT_EQ(vtable->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
        const WORD wanted = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
        EXPECT_EQ(ta->wTypeFlags & wanted, wanted);
        EXPECT_EQ(ta->cFuncs, 0);
        EXPECT_EQ(ta->cImplTypes, 1);
        vtable->ReleaseTypeAttr(ta);
        ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
        Ptr<ITypeInfo> base;
        ASSERT_EQ(vtable->GetRefTypeInfo(ref, base.put()), S_OK);
        ASSERT_EQ(base->GetTypeAttr(&ta), S_OK);
        EXPECT_TRUE(IsEqualGUID(ta->guid, IID_IDispatch));
        base->ReleaseTypeAttr(ta);
    }
}

}  // namespace
}  // namespace client
