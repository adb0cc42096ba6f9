// The class table against the type library the DLL embeds: the same classes,
// the same identifiers, the same default interfaces, so the IDL and the table
// cannot drift apart. win32 only: the host has no type-library loader.
#include "com/ComPtr.h"
#include "com/InprocServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring embeddedLibrary() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path, n);
    return self.substr(0, self.rfind(L'\\')) + L"\\KvAudioEncoder.dll";
}

TEST(ClassTable, MatchesTheEmbeddedTypeLibrary) {
    kv::com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(embeddedLibrary().c_str(), REGKIND_NONE, library.put()), S_OK);
    UINT coclasses = 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind{};
        if (SUCCEEDED(library->GetTypeInfoType(i, &kind)) && kind == TKIND_COCLASS) ++coclasses;
    }
    EXPECT_EQ(coclasses, kv::com::thisServer().classes().size());

    for (const auto& row : kv::com::thisServer().classes()) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.progId)));
        kv::com::ComPtr<ITypeInfo> coclass;
        ASSERT_EQ(library->GetTypeInfoOfGuid(row.clsid, coclass.put()), S_OK) << "no coclass with the row's CLSID";
        BSTR help = nullptr;
        ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr), S_OK);
        EXPECT_EQ(std::wstring(help), row.description);
        SysFreeString(help);

        HREFTYPE ref = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &ref), S_OK);
        kv::com::ComPtr<ITypeInfo> defaultInterface;
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, defaultInterface.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(defaultInterface->GetTypeAttr(&attr), S_OK);
        EXPECT_TRUE(IsEqualGUID(attr->guid, *row.defaultInterface)) << "the default interface differs";
        defaultInterface->ReleaseTypeAttr(attr);
    }
}

}  // namespace
