// The class tables against the type libraries their DLLs embed: the same
// classes, the same identifiers, the same default interfaces, so the IDL and
// a table cannot drift apart. win32 only: the host has no type-library loader.
#include "com/ComPtr.h"
#include "com/InprocServer.h"
#include "decoders/dll/ClassTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring embeddedLibrary(const wchar_t* dll) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path, n);
    return self.substr(0, self.rfind(L'\\') + 1) + dll;
}

void expectTableMatchesLibrary(const kv::com::InprocServer& server, const wchar_t* dll) {
    kv::com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(embeddedLibrary(dll).c_str(), REGKIND_NONE, library.put()), S_OK);
    UINT coclasses = 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        TYPEKIND kind{};
        if (SUCCEEDED(library->GetTypeInfoType(i, &kind)) && kind == TKIND_COCLASS) ++coclasses;
    }
    EXPECT_EQ(coclasses, server.classes().size());

    for (const auto& row : server.classes()) {
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

TEST(ClassTable, MatchesTheEmbeddedTypeLibrary) {
    expectTableMatchesLibrary(kv::com::thisServer(), L"KvAudioEncoder.dll");
    expectTableMatchesLibrary(kv::decoders::dll::server(), L"KvAudioDecoder.dll");
}

}  // namespace
