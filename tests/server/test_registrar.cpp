// Registration of the module, for the machine (HKEY_CLASSES_ROOT) and for the
// user (HKEY_CURRENT_USER\Software\Classes) by the same rules: the entries of
// the AppID and of the four classes, the type library, the order of the steps
// and the first failure, and the thread locale around all of it. On win32
// this writes the real registry of the test prefix, so every test starts and
// ends by removing whatever a module of ours could have left in either root.
#include "com/InprocServer.h"
#include "com/ComPtr.h"
#include "com/WineTypeLibWorkaround.h"
#include "tests/com/module_file.h"
#include "tests/com/registry_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using kv::com::registrar::Scope;
using kvtest::keyExists;
using kvtest::keyPath;
using kvtest::Library;
using kvtest::ModuleFile;
using kvtest::OleString;
using kvtest::readString;
using kvtest::subkeyNames;
using kvtest::valueNames;

namespace {

// The scope of the running case; every registration below goes there.
Scope g_scope = Scope::Machine;
HRESULT RegisterServer(const OLECHAR* path) { return kv::com::thisServer().registerServer(path, g_scope); }
HRESULT UnregisterServer(const OLECHAR* path) { return kv::com::thisServer().unregisterServer(path, g_scope); }

struct ClassRow {
    OleString description;
    OleString progId;
    OleString versionIndependentProgId;
    OleString clsid;  // exactly as the registry must show it
};

const ClassRow kClasses[] = {
    {KV_W("KV_AudioG711A Class"), KV_W("KvAudioEncoder.KV_AudioG711A.1"), KV_W("KvAudioEncoder.KV_AudioG711A"),
     KV_W("{E078E6AE-97CD-4380-BC5A-E46C838177DC}")},
    {KV_W("KV_AudioG711U Class"), KV_W("KvAudioEncoder.KV_AudioG711U.1"), KV_W("KvAudioEncoder.KV_AudioG711U"),
     KV_W("{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}")},
    {KV_W("KV_AudioG7231 Class"), KV_W("KvAudioEncoder.KV_AudioG7231.1"), KV_W("KvAudioEncoder.KV_AudioG7231"),
     KV_W("{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}")},
    {KV_W("KV_AudioQuorvan Class"), KV_W("KvAudioEncoder.KV_AudioQuorvan.1"), KV_W("KvAudioEncoder.KV_AudioQuorvan"),
     KV_W("{80C6869B-6799-40a9-BC55-3B6D49FD0D27}")},
};
const ClassRow& kG711A = kClasses[0];
const ClassRow& kG711U = kClasses[1];

const OleString kAppId = KV_W("{AFEA8802-29E0-48ED-AA81-B04D306642A9}");
const OleString kAppIdKey = keyPath({KV_W("AppID"), kAppId});
const OleString kDllAppIdKey = KV_W("AppID\\KvAudioEncoder.DLL");
const OleString kLibIdText = KV_W("{43CFE32C-E2DD-487D-8A1C-6888F61998D9}");
const GUID kLibId = {0x43CFE32C, 0xE2DD, 0x487D, {0x8A, 0x1C, 0x68, 0x88, 0xF6, 0x19, 0x98, 0xD9}};
// What the system's RegisterTypeLib adds for the library's dual interfaces.
const OleString kInterfaceKeys[] = {
    KV_W("Interface\\{2C5F51DD-0EB8-4481-850A-B8AEE2872007}"),
    KV_W("Interface\\{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}"),
    KV_W("Interface\\{8216FC5A-A89E-446E-A253-D44E1FD35520}"),
    KV_W("Interface\\{43AB6695-8EC3-45FB-87F7-89C90991048F}"),
};
// Another server's entries, which must outlive ours.
const OleString kForeignAppIdKey = KV_W("AppID\\{0F0E0D0C-0B0A-4909-8807-060504030201}");
const OleString kForeignClassKey = KV_W("CLSID\\{0F0E0D0C-0B0A-4909-8807-060504030201}");

OleString classKey(const ClassRow& c) { return keyPath({KV_W("CLSID"), c.clsid}); }

OleString typeLibPathKey() {
    return keyPath({KV_W("TypeLib"), kLibIdText, KV_W("1.0"), KV_W("409"), kvtest::builtPlatformKey()});
}

void removeEverythingOurs() {
    for (const auto& c : kClasses) {
        kvtest::deleteTree(c.progId);
        kvtest::deleteTree(c.versionIndependentProgId);
        kvtest::deleteTree(classKey(c));
    }
    kvtest::deleteTree(kAppIdKey);
    kvtest::deleteTree(kDllAppIdKey);
    kvtest::deleteTree(keyPath({KV_W("TypeLib"), kLibIdText}));
    for (const auto& k : kInterfaceKeys) kvtest::deleteTree(k);
    kvtest::deleteTree(kForeignAppIdKey);
    kvtest::deleteTree(kForeignClassKey);
}

HRESULT loadRegisteredLibrary() {
    kv::com::ComPtr<ITypeLib> library;
    return LoadRegTypeLib(kLibId, 1, 0, 0x0409, library.put());
}

void expectAppIdEntries() {
    EXPECT_EQ(readString(kAppIdKey), OleString(KV_W("KvAudioEncoder")));
    EXPECT_EQ(valueNames(kAppIdKey), std::set<OleString>{KV_W("")});
    EXPECT_TRUE(subkeyNames(kAppIdKey).empty());
    EXPECT_EQ(readString(kDllAppIdKey, KV_W("AppID")), kAppId);
    EXPECT_EQ(valueNames(kDllAppIdKey), std::set<OleString>{KV_W("AppID")});
    EXPECT_TRUE(subkeyNames(kDllAppIdKey).empty());
}

void expectClassEntries(const ClassRow& c, const OleString& modulePath) {
    SCOPED_TRACE(testing::PrintToString(c.progId));
    for (const OleString& progId : {c.progId, c.versionIndependentProgId}) {
        EXPECT_EQ(readString(progId), c.description);
        EXPECT_EQ(valueNames(progId), std::set<OleString>{KV_W("")});
        EXPECT_EQ(readString(keyPath({progId, KV_W("CLSID")})), c.clsid);
    }
    EXPECT_EQ(subkeyNames(c.progId), std::set<OleString>{KV_W("CLSID")});
    EXPECT_EQ(subkeyNames(c.versionIndependentProgId), (std::set<OleString>{KV_W("CLSID"), KV_W("CurVer")}));
    EXPECT_EQ(readString(keyPath({c.versionIndependentProgId, KV_W("CurVer")})), c.progId);

    const OleString key = classKey(c);
    EXPECT_EQ(subkeyNames(KV_W("CLSID")).count(c.clsid), 1u) << "the class key keeps its spelling";
    EXPECT_EQ(readString(key), c.description);
    EXPECT_EQ(readString(key, KV_W("AppID")), kAppId);
    EXPECT_EQ(valueNames(key), (std::set<OleString>{KV_W(""), KV_W("AppID")}));
    EXPECT_EQ(subkeyNames(key), (std::set<OleString>{KV_W("ProgID"), KV_W("VersionIndependentProgID"),
                                                     KV_W("Programmable"), KV_W("InprocServer32"), KV_W("TypeLib")}));
    EXPECT_EQ(readString(keyPath({key, KV_W("ProgID")})), c.progId);
    EXPECT_EQ(readString(keyPath({key, KV_W("VersionIndependentProgID")})), c.versionIndependentProgId);
    const OleString programmable = keyPath({key, KV_W("Programmable")});
    EXPECT_TRUE(valueNames(programmable).empty());
    EXPECT_TRUE(subkeyNames(programmable).empty());
    const OleString server = keyPath({key, KV_W("InprocServer32")});
    EXPECT_EQ(readString(server), modulePath);
    EXPECT_EQ(readString(server, KV_W("ThreadingModel")), OleString(KV_W("Apartment")));
    EXPECT_EQ(valueNames(server), (std::set<OleString>{KV_W(""), KV_W("ThreadingModel")}));
    EXPECT_TRUE(subkeyNames(server).empty());
    EXPECT_EQ(readString(keyPath({key, KV_W("TypeLib")})), kLibIdText);
}

void expectNoClassEntries(const ClassRow& c) {
    SCOPED_TRACE(testing::PrintToString(c.progId));
    EXPECT_FALSE(keyExists(c.progId));
    EXPECT_FALSE(keyExists(c.versionIndependentProgId));
    EXPECT_FALSE(keyExists(classKey(c)));
}

void expectRegistered(const OleString& modulePath) {
    expectAppIdEntries();
    for (const auto& c : kClasses) expectClassEntries(c, modulePath);
    EXPECT_EQ(readString(typeLibPathKey()), modulePath);
    if (g_scope == Scope::Machine) {
        EXPECT_EQ(loadRegisteredLibrary(), S_OK);
    }
}

void expectNothingOursLeft() {
    EXPECT_TRUE(keyExists(KV_W("AppID")));
    EXPECT_TRUE(keyExists(KV_W("CLSID")));
    EXPECT_FALSE(keyExists(kAppIdKey));
    EXPECT_FALSE(keyExists(kDllAppIdKey));
    for (const auto& c : kClasses) expectNoClassEntries(c);
    EXPECT_FALSE(keyExists(keyPath({KV_W("TypeLib"), kLibIdText})));
    EXPECT_EQ(loadRegisteredLibrary(), TYPE_E_LIBNOTREGISTERED);
}

void removeEverythingOursFromBothRoots() {
    removeEverythingOurs();
    kvtest::UserClasses user;
    removeEverythingOurs();
}

class Registrar : public testing::TestWithParam<Scope> {
protected:
    void SetUp() override {
        removeEverythingOursFromBothRoots();
        g_scope = GetParam();
        if (g_scope == Scope::User) {
            m_user.emplace();
            ASSERT_TRUE(m_user->opened());
        }
    }
    void TearDown() override {
        m_user.reset();
        g_scope = Scope::Machine;
        removeEverythingOursFromBothRoots();
    }

private:
    std::optional<kvtest::UserClasses> m_user;
};

INSTANTIATE_TEST_SUITE_P(Scopes, Registrar, testing::Values(Scope::Machine, Scope::User),
                         [](const testing::TestParamInfo<Scope>& scope) {
                             return scope.param == Scope::Machine ? "Machine" : "User";
                         });

// A user's registration leaves the machine's classes alone. Read through
// HKEY_CLASSES_ROOT, which on the host stand-in and under Wine shows the
// machine's classes only (Windows would merge the user's in).
bool machineHasAnyOfOurKeys() {
    for (const OleString& path : {kAppIdKey, classKey(kG711A), kG711A.progId, keyPath({KV_W("TypeLib"), kLibIdText})}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}

TEST_P(Registrar, WritesEveryEntryAndRemovesThemAgain) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
    expectRegistered(module.path());
    if (g_scope == Scope::User) {
        EXPECT_FALSE(machineHasAnyOfOurKeys());
    }
    ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
    expectNothingOursLeft();
}

TEST_P(Registrar, UnregistrationKeepsAppIdAndClsidWithOtherServersEntries) {
    ASSERT_TRUE(kvtest::writeString(kForeignAppIdKey, nullptr, KV_W("Other")));
    ASSERT_TRUE(kvtest::writeString(keyPath({kForeignClassKey, KV_W("InprocServer32")}), nullptr, KV_W("other.dll")));
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
    ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
    expectNothingOursLeft();
    EXPECT_EQ(readString(kForeignAppIdKey), OleString(KV_W("Other")));
    EXPECT_EQ(readString(keyPath({kForeignClassKey, KV_W("InprocServer32")})), OleString(KV_W("other.dll")));
}

TEST_P(Registrar, RegisteringAgainLeavesOneSetOfEntries) {
    ModuleFile first(Library::KvAudioEncoderLib, KV_W("KvRegistrar First"), KV_W("KvAudioEncoder.dll"));
    ModuleFile second(Library::KvAudioEncoderLib, KV_W("KvRegistrar Second"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(first.c_str()), S_OK);
    // Leftovers inside the class keys go with them; the ProgID keys are
    // written over.
    for (const auto& c : kClasses) {
        const OleString key = classKey(c);
        ASSERT_TRUE(kvtest::writeString(key, KV_W("Stray"), KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("Stray")}), nullptr, KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("Programmable"), KV_W("Stray")}), nullptr, KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("InprocServer32")}), KV_W("Stray"), KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(c.progId, nullptr, KV_W("old description")));
        ASSERT_TRUE(kvtest::writeString(keyPath({c.versionIndependentProgId, KV_W("CurVer")}), nullptr, KV_W("old")));
    }
    ASSERT_EQ(RegisterServer(second.c_str()), S_OK);
    expectRegistered(second.path());
    ASSERT_EQ(UnregisterServer(second.c_str()), S_OK);
    expectNothingOursLeft();
}

TEST_P(Registrar, WritesOddModulePathsVerbatim) {
    const struct {
        const OLECHAR* folder;
        const OLECHAR* file;
    } paths[] = {
        {KV_W("Kv O'Brien's Audio Tools"), KV_W("KvAudioEncoder.dll")},
        {KV_W("Kv %MODULE% %APPID% {43CFE32C} 'quoted'"), KV_W("Kv Audio 'Encoder'.dll")},
        {KV_W("Kv ;=,[]&()!@#$^ + ~ `"), KV_W("a b ' c.dll")},
    };
    for (const auto& p : paths) {
        ModuleFile module(Library::KvAudioEncoderLib, p.folder, p.file);
        SCOPED_TRACE(testing::PrintToString(module.path()));
        ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
        expectRegistered(module.path());
        ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
        expectNothingOursLeft();
    }
}

// A volatile key may only hold volatile keys, so a volatile ProgID key of the
// second class in object-map order makes that class's script fail.
TEST_P(Registrar, StopsAtTheFirstClassThatFails) {
    HKEY blocker = nullptr;
    ASSERT_EQ(RegCreateKeyExW(kvtest::classesRoot(), kG711U.progId.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &blocker, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(blocker);
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));

    EXPECT_EQ(RegisterServer(module.c_str()), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    expectAppIdEntries();
    expectClassEntries(kG711A, module.path());
    EXPECT_FALSE(keyExists(classKey(kG711U)));
    for (const auto& c : {kClasses[2], kClasses[3]}) expectNoClassEntries(c);
    EXPECT_FALSE(keyExists(keyPath({KV_W("TypeLib"), kLibIdText}))) << "the type library comes after the classes";
}

TEST_P(Registrar, TypeLibraryFailuresComeAfterTheScriptsAndKeepTheAppId) {
    const OleString noModule = kvtest::missingModulePath();
    EXPECT_EQ(RegisterServer(noModule.c_str()), TYPE_E_CANTLOADLIBRARY);
    expectAppIdEntries();
    for (const auto& c : kClasses) expectClassEntries(c, noModule);

    // Unregistration removes the classes, then fails on the library and so
    // leaves the AppID alone.
    EXPECT_EQ(UnregisterServer(noModule.c_str()), TYPE_E_CANTLOADLIBRARY);
    for (const auto& c : kClasses) expectNoClassEntries(c);
    expectAppIdEntries();

    // The same when the module is there but its library was never registered.
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    EXPECT_TRUE(FAILED(UnregisterServer(module.c_str())));
    expectAppIdEntries();
}

TEST_P(Registrar, RefusesANullModulePath) {
    EXPECT_EQ(RegisterServer(nullptr), E_POINTER);
    EXPECT_EQ(UnregisterServer(nullptr), E_POINTER);
    EXPECT_FALSE(keyExists(kAppIdKey));
}

TEST_P(Registrar, GivesTheCallerItsThreadLocaleBackOnEveryPath) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    const OleString noModule = kvtest::missingModulePath();
    auto blockG711U = [] {
        HKEY k = nullptr;
        RegCreateKeyExW(kvtest::classesRoot(), kG711U.progId.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &k, nullptr);
        RegCloseKey(k);
    };
    const struct {
        const char* name;
        std::function<void()> before;
        std::function<HRESULT()> call;
        bool succeeds;
    } cases[] = {
        {"registration", [] {}, [&] { return RegisterServer(module.c_str()); }, true},
        {"unregistration", [&] { RegisterServer(module.c_str()); }, [&] { return UnregisterServer(module.c_str()); },
         true},
        {"registration failing in a class", blockG711U, [&] { return RegisterServer(module.c_str()); }, false},
        {"registration failing at the library", [] {}, [&] { return RegisterServer(noModule.c_str()); }, false},
        {"unregistration of nothing", [] {}, [&] { return UnregisterServer(module.c_str()); }, false},
        {"null path", [] {}, [] { return RegisterServer(nullptr); }, false},
    };
    const LCID original = GetThreadLocale();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        removeEverythingOurs();
        c.before();
        for (LCID callers : {LCID{0x0407}, LCID{0x0411}}) {
            ASSERT_TRUE(SetThreadLocale(callers));
            EXPECT_EQ(SUCCEEDED(c.call()), c.succeeds);
            EXPECT_EQ(GetThreadLocale(), callers);
            if (c.succeeds) break;  // the second call would be another case
        }
    }
    SetThreadLocale(original);
}

// Runs `body` with the functions of registry_view.h in the machine's classes
// of each registry view.
void inBothMachineViews(const std::function<void()>& body) {
    for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
        HKEY classes = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, KV_W("Software\\Classes"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS | view, nullptr, &classes, nullptr),
                  ERROR_SUCCESS);
        kvtest::classesRoot() = classes;
        body();
        kvtest::classesRoot() = HKEY_CLASSES_ROOT;
        RegCloseKey(classes);
    }
}

// What the registrar does around a per-user registration under Wine, on its
// own: the machine's Interface keys of the library come back as they were.
TEST(WineTypeLibWorkaround, PutsTheMachinesInterfaceKeysOfTheLibraryBack) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvKept"), KV_W("KvAudioEncoder.dll"));
    kv::com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(module.c_str(), REGKIND_NONE, library.put()), S_OK);
    const OleString removed = KV_W("Interface\\{0F0E0D0C-0B0A-4909-8807-060504030202}");
    const OleString added = KV_W("Interface\\{0F0E0D0C-0B0A-4909-8807-060504030203}");
    inBothMachineViews([&] {
        ASSERT_TRUE(kvtest::writeString(removed, nullptr, KV_W("Kept")));
        ASSERT_TRUE(kvtest::writeString(keyPath({removed, KV_W("TypeLib")}), nullptr, kLibIdText));
    });
    {
        kv::com::wine::MachineInterfacesKept machine(library.get(), kLibId);
        inBothMachineViews([&] {
            kvtest::deleteTree(removed);
            ASSERT_TRUE(kvtest::writeString(keyPath({added, KV_W("TypeLib")}), nullptr, kLibIdText));
        });
    }
    inBothMachineViews([&] {
        EXPECT_EQ(readString(removed), OleString(KV_W("Kept")));
        EXPECT_EQ(readString(keyPath({removed, KV_W("TypeLib")})), kLibIdText);
        EXPECT_FALSE(keyExists(added));
    });
    inBothMachineViews([&] { kvtest::deleteTree(removed); });
}

}  // namespace

TEST(RegistrarCommandLine, ChoosesTheScopeOrRefuses) {
    const struct {
        const OLECHAR* commandLine;
        bool understood;
        Scope scope;
    } cases[] = {
        {nullptr, true, Scope::Machine},   {KV_W(""), true, Scope::Machine},  {KV_W("user"), true, Scope::User},
        {KV_W("USER"), true, Scope::User}, {KV_W("uSeR"), true, Scope::User}, {KV_W("use"), false, {}},
        {KV_W("users"), false, {}},        {KV_W(" user"), false, {}},        {KV_W("machine"), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.commandLine ? OleString(c.commandLine) : OleString(KV_W("(null)"))));
        Scope scope = c.understood ? (c.scope == Scope::User ? Scope::Machine : Scope::User) : Scope::Machine;
        EXPECT_EQ(kv::com::registrar::scopeFromCommandLine(c.commandLine, scope), c.understood);
        if (c.understood) {
            EXPECT_EQ(scope, c.scope);
        }
    }
}
