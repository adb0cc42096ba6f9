// The class tables against the type libraries their DLLs embed: the same
// classes, the same identifiers, the same default interfaces, so the IDL and
// a table cannot drift apart. win32 only: the host has no type-library loader.
#include "com/ComPtr.h"
#include "com/InprocServer.h"
#include "decoders/dll/ClassTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The DLL of each table, beside the test in bin\.
struct Module {
    const kv::com::InprocServer* server;
    const wchar_t* dll;
};

std::wstring embeddedLibrary(const wchar_t* dll) {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path, n);
    return self.substr(0, self.rfind(L'\\') + 1) + dll;
}

class ClassTable : public testing::TestWithParam<Module> {};

TEST_P(ClassTable, MatchesTheEmbeddedTypeLibrary) {
    const kv::com::InprocServer& server = *GetParam().server;
    kv::com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(embeddedLibrary(GetParam().dll).c_str(), REGKIND_NONE, library.put()), S_OK);
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

INSTANTIATE_TEST_SUITE_P(Dlls, ClassTable,
                         testing::Values(Module{&kv::com::thisServer(), L"KvAudioEncoder.dll"},
                                         Module{&kv::decoders::dll::server(), L"KvAudioDecoder.dll"}),
                         [](const testing::TestParamInfo<Module>& m) { return m.index == 0 ? "Encoder" : "Decoder"; });

}  // namespace
