// The module's resources as clients of the real system read them: the type
// library KvAudioEncoderLib (resource 1 of type "TYPELIB"), string 100 and
// the version; and KvLib, the library the tests register beside it.
// win32 only: the host has no type-library loader and no resources.
#include "com/ComPtr.h"
#include "platform/win32.h"
#include "tests/com/module_file.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

#include <string>

using kv::com::ComPtr;

namespace {

std::wstring programFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.rfind(L'\\'));
}

std::wstring modulePath() { return programFolder() + L"\\kv_test_module.dll"; }
std::wstring kvLibPath() { return programFolder() + L"\\..\\tlb\\KvLib.tlb"; }

ComPtr<ITypeLib> load(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    EXPECT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), S_OK);
    return library;
}

std::wstring bstrText(BSTR b) {
    std::wstring s = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return s;
}

struct Documentation {
    std::wstring name;
    std::wstring help;
};

template <class T>
Documentation documentation(T* owner, MEMBERID id) {
    BSTR name = nullptr, help = nullptr;
    EXPECT_EQ(owner->GetDocumentation(id, &name, &help, nullptr, nullptr), S_OK);
    return {bstrText(name), bstrText(help)};
}

// TYPEATTR copied out, so that no release can be forgotten.
TYPEATTR attributes(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    TYPEATTR copy{};
    if (info->GetTypeAttr(&attr) == S_OK) {
        copy = *attr;
        info->ReleaseTypeAttr(attr);
    } else {
        ADD_FAILURE() << "GetTypeAttr failed";
    }
    return copy;
}

TLIBATTR attributes(ITypeLib* library) {
    TLIBATTR* attr = nullptr;
    TLIBATTR copy{};
    if (library->GetLibAttr(&attr) == S_OK) {
        copy = *attr;
        library->ReleaseTLibAttr(attr);
    } else {
        ADD_FAILURE() << "GetLibAttr failed";
    }
    return copy;
}

ComPtr<ITypeInfo> implemented(ITypeInfo* info, UINT index) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> result;
    EXPECT_EQ(info->GetRefTypeOfImplType(index, &ref), S_OK);
    EXPECT_EQ(info->GetRefTypeInfo(ref, result.put()), S_OK);
    return result;
}

// The interface half of a dual interface (the type library hands out the
// dispatch half by GUID).
ComPtr<ITypeInfo> vtableHalf(ITypeInfo* dispatchHalf) { return implemented(dispatchHalf, static_cast<UINT>(-1)); }

GUID libraryOf(ITypeInfo* info) {
    ComPtr<ITypeLib> library;
    UINT index = 0;
    EXPECT_EQ(info->GetContainingTypeLib(library.put(), &index), S_OK);
    return library ? attributes(library.get()).guid : GUID_NULL;
}

const GUID kLibId = published::guid<GUID>(published::kEncoderLib.libId);
const GUID kStdOle = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The classes in the library's order. The IDL names each class X, described
// "X Class", and its interface IX, described "IX Interface".
const published::EncoderClass* const kClasses[] = {&published::kQuorvan, &published::kG711U, &published::kG711A,
                                                   &published::kG7231};
std::wstring className(const published::EncoderClass* c) {
    const std::wstring description = published::text<wchar_t>(c->description);
    return description.substr(0, description.rfind(L" Class"));
}

constexpr WORD kInterfaceFlags =
    TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;

TEST(ModuleTypeLibrary, IsKvAudioEncoderLib) {
    auto library = load(modulePath());
    ASSERT_TRUE(library);
    const TLIBATTR attr = attributes(library.get());
    EXPECT_TRUE(IsEqualGUID(attr.guid, kLibId));
    EXPECT_EQ(attr.wMajorVerNum, 1);
    EXPECT_EQ(attr.wMinorVerNum, 0);
    EXPECT_EQ(attr.lcid, published::kEncoderLib.lcid);
    EXPECT_EQ(attr.syskind, kvtest::kBuiltSysKind);
    const Documentation doc = documentation(library.get(), MEMBERID_NIL);
    EXPECT_EQ(doc.name, published::text<wchar_t>(published::kEncoderLib.libName));
    EXPECT_EQ(doc.help, published::text<wchar_t>(published::kEncoderLib.libHelp));
}

// ...and last IKvAudioEncoderControl, which every class answers too.
TEST(ModuleTypeLibrary, HoldsEachClassThenItsInterfaceInOrder) {
    auto library = load(modulePath());
    ASSERT_TRUE(library);
    ASSERT_EQ(library->GetTypeInfoCount(), 9u);
    EXPECT_EQ(documentation(library.get(), 8).name, L"IKvAudioEncoderControl");
    for (UINT i = 0; i < 4; ++i) {
        SCOPED_TRACE(kClasses[i]->name);
        EXPECT_EQ(documentation(library.get(), static_cast<INT>(2 * i)).name, className(kClasses[i]));
        EXPECT_EQ(documentation(library.get(), static_cast<INT>(2 * i + 1)).name, L"I" + className(kClasses[i]));
        TYPEKIND kind{};
        EXPECT_EQ(library->GetTypeInfoType(2 * i, &kind), S_OK);
        EXPECT_EQ(kind, TKIND_COCLASS);
    }
}

TEST(ModuleTypeLibrary, DescribesEachClassWithOneDefaultDualInterface) {
    auto library = load(modulePath());
    ASSERT_TRUE(library);
    for (const published::EncoderClass* c : kClasses) {
        SCOPED_TRACE(c->name);
        ComPtr<ITypeInfo> coclass;
        ASSERT_EQ(library->GetTypeInfoOfGuid(published::guid<GUID>(c->clsid), coclass.put()), S_OK);
        const TYPEATTR classAttr = attributes(coclass.get());
        EXPECT_EQ(classAttr.typekind, TKIND_COCLASS);
        EXPECT_TRUE(classAttr.wTypeFlags & TYPEFLAG_FCANCREATE);
        EXPECT_EQ(classAttr.cImplTypes, 1);
        INT implFlags = 0;
        EXPECT_EQ(coclass->GetImplTypeFlags(0, &implFlags), S_OK);
        EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
        EXPECT_EQ(documentation(coclass.get(), MEMBERID_NIL).help, published::text<wchar_t>(c->description));
        auto listed = implemented(coclass.get(), 0);
        ASSERT_TRUE(listed);
        const IID iid = published::guid<IID>(c->classIid);
        EXPECT_TRUE(IsEqualGUID(attributes(listed.get()).guid, iid));

        ComPtr<ITypeInfo> dispatchHalf;
        ASSERT_EQ(library->GetTypeInfoOfGuid(iid, dispatchHalf.put()), S_OK);
        const TYPEATTR dispAttr = attributes(dispatchHalf.get());
        EXPECT_EQ(dispAttr.typekind, TKIND_DISPATCH);
        EXPECT_TRUE(dispAttr.wTypeFlags & TYPEFLAG_FDUAL);
        const Documentation doc = documentation(dispatchHalf.get(), MEMBERID_NIL);
        EXPECT_EQ(doc.name, L"I" + className(c));
        EXPECT_EQ(doc.help, L"I" + className(c) + L" Interface");

        auto vtable = vtableHalf(dispatchHalf.get());
        ASSERT_TRUE(vtable);
        const TYPEATTR vtAttr = attributes(vtable.get());
        EXPECT_EQ(vtAttr.typekind, TKIND_INTERFACE);
        EXPECT_EQ(vtAttr.wTypeFlags & kInterfaceFlags, kInterfaceFlags) << std::hex << vtAttr.wTypeFlags;
        EXPECT_EQ(vtAttr.cFuncs, 0) << "member-less";
        EXPECT_EQ(vtAttr.cbSizeVft, 7 * sizeof(void*)) << "IUnknown and IDispatch slots only";
        ASSERT_EQ(vtAttr.cImplTypes, 1);
        auto base = implemented(vtable.get(), 0);
        ASSERT_TRUE(base);
        EXPECT_TRUE(IsEqualGUID(attributes(base.get()).guid, IID_IDispatch));
        EXPECT_TRUE(IsEqualGUID(libraryOf(base.get()), kStdOle)) << "IDispatch comes from stdole2.tlb";
    }
}

TEST(ModuleResources, CarryTheProjectNameAndTheVersion) {
    HMODULE module = LoadLibraryExW(modulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    wchar_t text[64] = {};
    EXPECT_EQ(LoadStringW(module, 100, text, 64), 14);
    EXPECT_STREQ(text, L"KvAudioEncoder");
    FreeLibrary(module);

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(modulePath().c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(modulePath().c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    for (const wchar_t* name : {L"OriginalFilename", L"InternalName"}) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &len));
        EXPECT_STREQ(value, L"KvAudioEncoder.dll");
    }
}

// KvLib describes the method table every encoder object has, with no locale
// of its own, so it is found for whatever locale a caller asks for.
TEST(KvLibTypeLibrary, DescribesIKvAudioEncoder) {
    auto library = load(kvLibPath());
    ASSERT_TRUE(library);
    const TLIBATTR attr = attributes(library.get());
    EXPECT_TRUE(IsEqualGUID(attr.guid, published::guid<GUID>(published::kKvLib.libId)));
    EXPECT_EQ(attr.wMajorVerNum, 1);
    EXPECT_EQ(attr.wMinorVerNum, 0);
    EXPECT_EQ(attr.lcid, published::kKvLib.lcid);
    EXPECT_EQ(documentation(library.get(), MEMBERID_NIL).name, published::text<wchar_t>(published::kKvLib.libName));

    const GUID iid = published::guid<GUID>(published::kEncoderIid);
    ComPtr<ITypeInfo> dispatchHalf;
    ASSERT_EQ(library->GetTypeInfoOfGuid(iid, dispatchHalf.put()), S_OK);
    EXPECT_TRUE(attributes(dispatchHalf.get()).wTypeFlags & TYPEFLAG_FDUAL);
    auto vtable = vtableHalf(dispatchHalf.get());
    ASSERT_TRUE(vtable);
    const TYPEATTR vtAttr = attributes(vtable.get());
    ASSERT_EQ(vtAttr.cFuncs, 5);
    const wchar_t* names[] = {L"Reserved1", L"Reserved2", L"AddSink", L"RemoveSink", L"OnAudioData"};
    for (UINT i = 0; i < 5; ++i) {
        FUNCDESC* func = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &func), S_OK);
        // A type library keeps one spelling per name, the first it meets:
        // Reserved1's parameter reserved2 comes before the method Reserved2.
        EXPECT_EQ(_wcsicmp(documentation(vtable.get(), func->memid).name.c_str(), names[i]), 0) << names[i];
        EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "slot " << 7 + i;
        EXPECT_EQ(func->cParams, i < 2 ? 2 : (i < 4 ? 1 : 2));
        vtable->ReleaseFuncDesc(func);
    }
}

}  // namespace
