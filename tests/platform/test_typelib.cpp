// Loading and registering type libraries as the registrar and the encoders'
// IDispatch use them, with the same expectations on the stand-in and on the
// real system. The files come from the fixture of tests/com: on win32 copies
// of the built module and of KvLib.tlb, on host paths the stand-in knows.
#include "com/ComPtr.h"
#include "platform/win32.h"
#include "tests/com/module_file.h"
#include "tests/com/registry_view.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

using kv::com::ComPtr;
using kvtest::keyExists;
using kvtest::keyPath;
using kvtest::Library;
using kvtest::ModuleFile;
using kvtest::OleString;
using kvtest::readString;

namespace {

const GUID kEncoderLib = published::guid<GUID>(published::kEncoderLib.libId);
const OleString kEncoderLibKey = keyPath({KV_W("TypeLib"), published::text<OLECHAR>(published::kEncoderLib.libId)});
const GUID kKvLib = published::guid<GUID>(published::kKvLib.libId);
const OleString kKvLibKey = keyPath({KV_W("TypeLib"), published::text<OLECHAR>(published::kKvLib.libId)});

OleString folderOf(const OleString& path) { return path.substr(0, path.rfind(KV_W('\\'))); }

OleString bstrText(BSTR b) {
    OleString s = b ? OleString(b, SysStringLen(b)) : OleString();
    SysFreeString(b);
    return s;
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

ComPtr<ITypeLib> load(const ModuleFile& file) {
    ComPtr<ITypeLib> library;
    EXPECT_EQ(LoadTypeLibEx(file.c_str(), REGKIND_NONE, library.put()), S_OK);
    return library;
}

HRESULT loadRegistered(const GUID& libid, WORD major, WORD minor, LCID lcid) {
    ComPtr<ITypeLib> library;
    const HRESULT hr = LoadRegTypeLib(libid, major, minor, lcid, library.put());
    if (SUCCEEDED(hr)) {
        EXPECT_TRUE(library);
        if (library) {
            EXPECT_TRUE(IsEqualGUID(attributes(library.get()).guid, libid));
        }
    } else {
        EXPECT_FALSE(library);
    }
    return hr;
}

void removeRegistrations() {
    kvtest::deleteTree(kEncoderLibKey);
    kvtest::deleteTree(kKvLibKey);
    // The real RegisterTypeLib also enters the library's dual interfaces.
    for (const OLECHAR* iid :
         {KV_W("{2C5F51DD-0EB8-4481-850A-B8AEE2872007}"), KV_W("{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}"),
          KV_W("{8216FC5A-A89E-446E-A253-D44E1FD35520}"), KV_W("{43AB6695-8EC3-45FB-87F7-89C90991048F}"),
          KV_W("{ABF09E32-54C3-4425-90F1-0B34CDC09690}")})
        kvtest::deleteTree(keyPath({KV_W("Interface"), iid}));
}

class TypeLibraries : public testing::Test {
protected:
    void SetUp() override { removeRegistrations(); }
    void TearDown() override { removeRegistrations(); }
};

TEST_F(TypeLibraries, LoadFromAModuleFileWithoutRegistering) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvTypeLib"), KV_W("KvAudioEncoder.dll"));
    auto library = load(module);
    ASSERT_TRUE(library);
    const TLIBATTR attr = attributes(library.get());
    EXPECT_TRUE(IsEqualGUID(attr.guid, kEncoderLib));
    EXPECT_EQ(attr.lcid, 0x0409u);
    EXPECT_EQ(attr.syskind, kvtest::kBuiltSysKind);
    EXPECT_EQ(attr.wMajorVerNum, 1);
    EXPECT_EQ(attr.wMinorVerNum, 0);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(library->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(bstrText(name), published::text<OLECHAR>(published::kEncoderLib.libName));
    EXPECT_EQ(bstrText(doc), published::text<OLECHAR>(published::kEncoderLib.libHelp));
    EXPECT_EQ(loadRegistered(kEncoderLib, 1, 0, 0x0409), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(TypeLibraries, RefuseToLoadWhatIsNotThere) {
    const OleString missing = kvtest::missingModulePath();
    ITypeLib* library = reinterpret_cast<ITypeLib*>(0x1);
    EXPECT_EQ(LoadTypeLibEx(missing.c_str(), REGKIND_NONE, &library), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(LoadTypeLibEx(nullptr, REGKIND_NONE, &library), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLibEx(missing.c_str(), REGKIND_NONE, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibraries, RegisterUnderTheirVersionAndLocaleOnly) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvTypeLib O'Brien"), KV_W("Kv Audio Encoder.dll"));
    {
        auto library = load(module);
        ASSERT_TRUE(library);
        ASSERT_EQ(RegisterTypeLib(library.get(), const_cast<OLECHAR*>(module.c_str()), nullptr), S_OK);
    }
    const OleString version = keyPath({kEncoderLibKey, KV_W("1.0")});
    EXPECT_EQ(readString(version), published::text<OLECHAR>(published::kEncoderLib.libHelp));
    EXPECT_EQ(readString(keyPath({version, KV_W("409"), kvtest::builtPlatformKey()})), module.path());
    EXPECT_EQ(readString(keyPath({version, KV_W("HELPDIR")})), folderOf(module.path()))
        << "without a help folder, the file's own";
    EXPECT_TRUE(keyExists(keyPath({version, KV_W("FLAGS")})));

    const struct {
        WORD major, minor;
        LCID lcid;
        HRESULT expected;
    } requests[] = {
        {1, 0, 0x0409, S_OK},
        {1, 0, 0x0000, TYPE_E_LIBNOTREGISTERED},
        {1, 0, LOCALE_USER_DEFAULT, TYPE_E_LIBNOTREGISTERED},
        {1, 0, LOCALE_SYSTEM_DEFAULT, TYPE_E_LIBNOTREGISTERED},
        {1, 0, 0x0407, TYPE_E_LIBNOTREGISTERED},
        {1, 1, 0x0409, TYPE_E_LIBNOTREGISTERED},
        {2, 0, 0x0409, TYPE_E_LIBNOTREGISTERED},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(testing::Message() << r.major << "." << r.minor << " lcid " << std::hex << r.lcid);
        EXPECT_EQ(loadRegistered(kEncoderLib, r.major, r.minor, r.lcid), r.expected);
    }

    EXPECT_EQ(UnRegisterTypeLib(kEncoderLib, 1, 0, 0x0000, kvtest::kBuiltSysKind), E_INVALIDARG) << "not this locale";
    EXPECT_EQ(readString(keyPath({version, KV_W("409"), kvtest::builtPlatformKey()})), module.path());
    EXPECT_EQ(UnRegisterTypeLib(kEncoderLib, 1, 0, 0x0409, kvtest::kBuiltSysKind), S_OK);
    EXPECT_FALSE(keyExists(kEncoderLibKey));
    EXPECT_EQ(loadRegistered(kEncoderLib, 1, 0, 0x0409), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(UnRegisterTypeLib(kEncoderLib, 1, 0, 0x0409, kvtest::kBuiltSysKind), E_INVALIDARG)
        << "nothing left to remove";
}

TEST_F(TypeLibraries, WriteAGivenHelpFolder) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvTypeLib"), KV_W("KvAudioEncoder.dll"));
    auto library = load(module);
    ASSERT_TRUE(library);
    OleString help = KV_W("C:\\Kv Help");
    ASSERT_EQ(RegisterTypeLib(library.get(), const_cast<OLECHAR*>(module.c_str()), help.data()), S_OK);
    EXPECT_EQ(readString(keyPath({kEncoderLibKey, KV_W("1.0"), KV_W("HELPDIR")})), help);
    EXPECT_EQ(RegisterTypeLib(nullptr, const_cast<OLECHAR*>(module.c_str()), nullptr), E_INVALIDARG);
    EXPECT_EQ(UnRegisterTypeLib(kEncoderLib, 1, 0, 0x0409, kvtest::kBuiltSysKind), S_OK);
}

// KvLib has no locale of its own; callers find it whatever locale they ask with.
TEST_F(TypeLibraries, LanguageNeutralLibraryAnswersEveryLocale) {
    ModuleFile file(Library::KvLib, KV_W("KvTypeLib"), KV_W("KvLib.tlb"));
    {
        auto library = load(file);
        ASSERT_TRUE(library);
        EXPECT_EQ(attributes(library.get()).lcid, 0u);
        ASSERT_EQ(RegisterTypeLib(library.get(), const_cast<OLECHAR*>(file.c_str()), nullptr), S_OK);
    }
    EXPECT_EQ(readString(keyPath({kKvLibKey, KV_W("1.0"), KV_W("0"), kvtest::builtPlatformKey()})), file.path());
    for (LCID lcid : {LCID{0}, LCID{0x0409}, LCID{0x0407}, LCID{LOCALE_USER_DEFAULT}, LCID{LOCALE_SYSTEM_DEFAULT}}) {
        SCOPED_TRACE(testing::Message() << "lcid " << std::hex << lcid);
        EXPECT_EQ(loadRegistered(kKvLib, 1, 0, lcid), S_OK);
    }
    EXPECT_EQ(UnRegisterTypeLib(kKvLib, 1, 0, 0, kvtest::kBuiltSysKind), S_OK);
    EXPECT_FALSE(keyExists(kKvLibKey));
}

TEST_F(TypeLibraries, RegistrationOfAFileThatIsGoneStaysAndFailsToLoad) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvTypeLib"), KV_W("KvAudioEncoder.dll"));
    {
        auto library = load(module);
        ASSERT_TRUE(library);
        ASSERT_EQ(RegisterTypeLib(library.get(), const_cast<OLECHAR*>(module.c_str()), nullptr), S_OK);
    }
    module.remove();
    EXPECT_EQ(loadRegistered(kEncoderLib, 1, 0, 0x0409), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(UnRegisterTypeLib(kEncoderLib, 1, 0, 0x0409, kvtest::kBuiltSysKind), TYPE_E_INVALIDSTATE);
    EXPECT_EQ(readString(keyPath({kEncoderLibKey, KV_W("1.0"), KV_W("409"), kvtest::builtPlatformKey()})),
              module.path());
}

}  // namespace
