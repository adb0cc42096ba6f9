// Late binding. The encoder's IDispatch answers from the registered type
// libraries: the class interface from KvAudioEncoderLib, which the module
// registers; IKvAudioEncoder from KvLib, which ships with the outside
// components. The module keeps type information once loaded, so the test
// starts from a freshly loaded module.
#include "tests/dll/fixture.h"
#include "tests/tools/g711_reference.h"

namespace client {
namespace {

constexpr LCID kEnglishUs = 0x0409;

HRESULT idOf(IDispatch* dispatch, const wchar_t* name, DISPID* id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    *id = DISPID_UNKNOWN;
    return dispatch->GetIDsOfNames(IID_NULL, names, 1, kEnglishUs, id);
}

struct Call {
    HRESULT hr;
    EXCEPINFO error;
};

// A method call; args in the order of the method's parameters.
Call invoke(IDispatch* dispatch, DISPID id, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // IDispatch takes them last first
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Call call{};
    UINT argError = 0;
    call.hr = dispatch->Invoke(id, IID_NULL, kEnglishUs, DISPATCH_METHOD, &params, nullptr, &call.error, &argError);
    return call;
}

VARIANT unknownArg(IUnknown* p) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = p;
    return v;
}
VARIANT longArg(LONG n) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}
// A BYTE* parameter travels as a reference to its first byte.
VARIANT bytesArg(BYTE* p) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BYREF | VT_UI1;
    V_UI1REF(&v) = p;
    return v;
}

GUID guidOf(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return GUID{};
    const GUID g = attr->guid;
    info->ReleaseTypeAttr(attr);
    return g;
}

class Dispatch : public ClientTest {
protected:
    void TearDown() override {
        UnRegisterTypeLib(kLibIdKvLib, 1, 0, 0, kSysKind);
        ClientTest::TearDown();
    }
};

TEST_F(Dispatch, NeedsKvLibThenCallsTheEncoderLateBound) {
    CoFreeUnusedLibraries();
    ASSERT_FALSE(loadedModule()) << "the module must load anew";
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadRegTypeLib(kLibIdKvLib, 1, 0, 0, library.put()), TYPE_E_LIBNOTREGISTERED) << "KvLib starts absent";
    ASSERT_EQ(LoadRegTypeLib(kLibIdEncoderLib, 1, 0, kEnglishUs, library.put()), S_OK);
    library.reset();

    auto recorder = runningRecorder();
    Ptr<IKvAudioEncoder> encoder = create(kG711A);
    ASSERT_TRUE(encoder);
    auto classInterface = encoder.query<IDispatch>(kG711A.classIid);
    ASSERT_TRUE(classInterface);

    UINT count = 0;
    EXPECT_EQ(encoder->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ptr<ITypeInfo> info;
    EXPECT_EQ(encoder->GetTypeInfo(0, kEnglishUs, info.put()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_FALSE(info);
    DISPID id = 0;
    EXPECT_EQ(idOf(encoder.get(), L"AddSink", &id), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(invoke(encoder.get(), 1, {}).hr, TYPE_E_LIBNOTREGISTERED);

    // The class interface is described by the module's own library, which is
    // registered for its own locale only and found by the caller's; once
    // loaded it serves every locale. It has no members to find.
    EXPECT_EQ(classInterface->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(classInterface->GetTypeInfo(0, kEnglishUs, info.put()), S_OK);
    EXPECT_TRUE(IsEqualGUID(guidOf(info.get()), kG711A.classIid));
    ASSERT_EQ(classInterface->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
    EXPECT_TRUE(IsEqualGUID(guidOf(info.get()), kG711A.classIid));
    EXPECT_EQ(idOf(classInterface.get(), L"AddSink", &id), DISP_E_UNKNOWNNAME);

    // Registered now: the failed load is not remembered.
    ASSERT_EQ(LoadTypeLibEx(paths().kvLib.c_str(), REGKIND_REGISTER, library.put()), S_OK);
    ASSERT_EQ(encoder->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK) << "KvLib is language-neutral";
    EXPECT_TRUE(IsEqualGUID(guidOf(info.get()), IID_IKvAudioEncoder));

    // A client that knows only IDispatch and the method names.
    auto dispatch = encoder.query<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    DISPID addSink = 0, removeSink = 0, onAudioData = 0, reserved1 = 0;
    ASSERT_EQ(idOf(dispatch.get(), L"AddSink", &addSink), S_OK);
    ASSERT_EQ(idOf(dispatch.get(), L"removesink", &removeSink), S_OK) << "names match without regard to case";
    ASSERT_EQ(idOf(dispatch.get(), L"OnAudioData", &onAudioData), S_OK);
    ASSERT_EQ(idOf(dispatch.get(), L"Reserved1", &reserved1), S_OK);
    EXPECT_EQ(idOf(dispatch.get(), L"NoSuchMethod", &id), DISP_E_UNKNOWNNAME);

    auto sink = make<SinkDouble>();
    ASSERT_EQ(invoke(dispatch.get(), addSink, {unknownArg(sink.get())}).hr, S_OK);
    ASSERT_EQ(recorder->targets.size(), 1u) << "AddSink ran";

    // 320 samples across the whole range: two G.711 blocks, one delivery.
    std::vector<BYTE> pcm(640);
    std::vector<BYTE> expected;
    for (int i = 0; i < 320; ++i) {
        const auto s = static_cast<std::int16_t>(i * 205 - 32768);
        pcm[2 * i] = static_cast<BYTE>(s & 0xFF);
        pcm[2 * i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
        expected.push_back(kvtest::alawReference(s));
    }
    ASSERT_EQ(invoke(dispatch.get(), onAudioData, {bytesArg(pcm.data()), longArg(640)}).hr, S_OK);
    EXPECT_EQ(sink->blocks, std::vector<LONG>{320});
    EXPECT_EQ(sink->bytes, expected);

    // A failing method comes back as an exception carrying its status.
    const Call failed = invoke(dispatch.get(), reserved1, {longArg(1), longArg(2)});
    EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(failed.error.scode, E_NOTIMPL);
    SysFreeString(failed.error.bstrSource);
    SysFreeString(failed.error.bstrDescription);
    SysFreeString(failed.error.bstrHelpFile);

    ASSERT_EQ(invoke(dispatch.get(), removeSink, {unknownArg(sink.get())}).hr, S_OK);
    EXPECT_TRUE(recorder->targets.empty()) << "RemoveSink ran";
}

// Late-bound OnAudioData reads only what the caller handed over. Through the
// type information a number would become a pointer to a one-byte temporary;
// the module refuses it unless nothing is to be read. A byte array is coded
// up to its size.
TEST_F(Dispatch, LateBoundAudioDataReadsOnlyWhatItWasGiven) {
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(paths().kvLib.c_str(), REGKIND_REGISTER, library.put()), S_OK);
    std::vector<BYTE> pcm(640);
    std::vector<BYTE> coded;
    for (int i = 0; i < 320; ++i) {
        const auto v = static_cast<std::int16_t>(i * 197 - 31000);
        pcm[2 * i] = static_cast<BYTE>(v & 0xFF);
        pcm[2 * i + 1] = static_cast<BYTE>((v >> 8) & 0xFF);
        coded.push_back(kvtest::alawReference(v));
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(pcm.size()));
    ASSERT_TRUE(array);
    std::copy(pcm.begin(), pcm.end(), static_cast<BYTE*>(array->pvData));
    const SAFEARRAYBOUND square[2] = {{16, 0}, {20, 0}};
    SAFEARRAY* twoDimensions = SafeArrayCreate(VT_UI1, 2, const_cast<SAFEARRAYBOUND*>(square));
    ASSERT_TRUE(twoDimensions);

    VARIANT number, text, bytes, twoD, arrayVariable;
    VariantInit(&number);
    V_VT(&number) = VT_I2;
    V_I2(&number) = 65;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"AAAA");
    VariantInit(&bytes);
    V_VT(&bytes) = VT_ARRAY | VT_UI1;
    V_ARRAY(&bytes) = array;
    VariantInit(&twoD);
    V_VT(&twoD) = VT_ARRAY | VT_UI1;
    V_ARRAY(&twoD) = twoDimensions;
    VariantInit(&arrayVariable);  // how a script passes its variable
    V_VT(&arrayVariable) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&arrayVariable) = &bytes;

    const struct {
        const char* what;
        VARIANT data;
        LONG length;
        HRESULT result;
        std::vector<LONG> blocks;  // what the sink got
        std::size_t codedBytes;    // the first this many of `coded`
    } cases[] = {
        {"a number, a small length", number, 320, DISP_E_TYPEMISMATCH, {}, 0},
        {"a number, a huge length", number, 10000000, DISP_E_TYPEMISMATCH, {}, 0},
        {"a string", text, 320, DISP_E_TYPEMISMATCH, {}, 0},
        {"a two-dimensional array", twoD, 320, DISP_E_TYPEMISMATCH, {}, 0},
        {"a number with nothing to read", number, 0, S_OK, {0}, 0},
        {"a byte array", bytes, 640, S_OK, {320}, 320},
        {"a byte array, part of it", bytes, 320, S_OK, {160}, 160},
        {"a byte array, a length beyond it", bytes, 10000000, S_OK, {320}, 320},
        {"a script's array variable", arrayVariable, 640, S_OK, {320}, 320},
    };
    auto recorder = runningRecorder();
    for (const auto& c : cases) {
        Ptr<IKvAudioEncoder> encoder = create(kG711A);
        ASSERT_TRUE(encoder);
        auto dispatch = encoder.query<IDispatch>(IID_IDispatch);
        DISPID onAudioData = 0;
        ASSERT_EQ(idOf(dispatch.get(), L"OnAudioData", &onAudioData), S_OK);
        auto sink = make<SinkDouble>();
        ASSERT_EQ(encoder->AddSink(sink.get()), S_OK);

        VARIANT args[2] = {longArg(c.length), c.data};  // last first
        DISPPARAMS params{args, nullptr, 2, 0};
        UINT argError = 99;
        EXCEPINFO error{};
        EXPECT_EQ(
            dispatch->Invoke(onAudioData, IID_NULL, kEnglishUs, DISPATCH_METHOD, &params, nullptr, &error, &argError),
            c.result)
            << c.what;
        if (c.result == DISP_E_TYPEMISMATCH) {
            EXPECT_EQ(argError, 1u) << c.what << ": the data argument";
        }
        EXPECT_EQ(sink->blocks, c.blocks) << c.what;
        EXPECT_EQ(sink->bytes, std::vector<BYTE>(coded.begin(), coded.begin() + c.codedBytes)) << c.what;
        EXPECT_EQ(encoder->RemoveSink(sink.get()), S_OK);
    }
    VariantClear(&text);
    VariantClear(&bytes);
    VariantClear(&twoD);
}

// The same through a script engine: the call raises a script error with the
// type-mismatch code, and the host lives on to report it.
TEST_F(Dispatch, AScriptPassingANumberGetsAnError) {
    Ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(paths().kvLib.c_str(), REGKIND_REGISTER, library.put()), S_OK);
    wchar_t dir[MAX_PATH] = {}, script[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, dir), 0u);
    ASSERT_NE(GetTempFileNameW(dir, L"kv", 0, script), 0u);
    const std::wstring path = std::wstring(script) + L".vbs";
    const char text[] =
        "Set enc = CreateObject(\"KvAudioEncoder.KV_AudioG711A\")\r\n"
        "On Error Resume Next\r\n"
        "enc.OnAudioData 65, 10000000\r\n"
        "WScript.Quit Err.Number And &HFFFF\r\n";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);

    std::wstring command = L"cscript.exe //nologo \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DeleteFileW(path.c_str());
    DeleteFileW(script);
    EXPECT_EQ(exitCode, 13u) << "VBScript's own number for a type mismatch, from a script that ran to its end";
}

}  // namespace
}  // namespace client
