// components_client_test --components=<registered KvAudioComponents.dll>
//     --decoder=<registered KvAudioDecoder.dll> --input=<WAV>
//     --expected=<folder of kvencode's streams> [gtest flags]
//
// KvAudioComponents.dll and KvAudioEncoder.dll (and KvAudioDecoder.dll, for
// its tests and tests/decoders') registered with regsvr32 in a fresh prefix,
// nothing else: a C++ client and VBScript under cscript drive the four
// encoders through the real components, and their output must equal
// kvencode's for the same input and pieces.
#include "tests/com/registry_view.h"
#include "tests/dll/client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <shellapi.h>
#include <span>
#include <thread>

namespace client {

std::vector<std::uint8_t> readFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string narrow(const wchar_t* s) {
    std::string out;
    if (!s) return "(null)";
    for (; *s; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}
std::string narrow(const std::wstring& s) { return narrow(s.c_str()); }

// Declared outside the unnamed namespace: the compiler may take a class there
// to have no implementation in the program but what it sees here.
struct IKvFileSink : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR path) = 0;             // 7
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                     // 8
    virtual HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* n) = 0;  // 9
};
struct IKvMemorySink : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* n) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE get_BlockCount(LONG* n) = 0;     // 8
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;                     // 9
};

namespace {

struct Options {
    std::wstring components, decoder, input, expected;
} g_options;

// ---- what a client of KvAudioComponents.dll knows ------------------------------

constexpr IID IID_IKvRegistry = guid<IID>(published::kRegistry.defaultIid);
constexpr IID IID_IKvRecorder = guid<IID>(published::kRecorder.defaultIid);
constexpr IID IID_IKvFileSink = guid<IID>(published::kFileSink.defaultIid);
constexpr IID IID_IKvMemorySink = guid<IID>(published::kMemorySink.defaultIid);
constexpr CLSID CLSID_FileSink = guid<CLSID>(published::kFileSink.clsid);
constexpr CLSID CLSID_MemorySink = guid<CLSID>(published::kMemorySink.clsid);
const std::wstring kLibIdText = wide(published::kKvLib.libId);

// The four formats: kvencode's name, the class, the piece size (for G.723.1
// above a frame, so that whole frames are held until the recorder's flush).
struct Format {
    const char* name;
    const EncoderClass* cls;
    LONG chunk;
};
const Format kFormats[] = {
    {"g711a", &kG711A, 640}, {"g711u", &kG711U, 640}, {"g7231", &kG7231, 960}, {"quorvan", &kQuorvan, 640}};

std::wstring expectedFile(const Format& f) { return g_options.expected + L"\\" + wide(f.name); }

std::wstring scratch(const std::wstring& name) {
    wchar_t dir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name;
}

// Runs a command line to its end with its standard output in a file; the exit status.
DWORD run(std::wstring command, const std::wstring& output = L"NUL") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out;
    PROCESS_INFORMATION pi{};
    DWORD status = ~DWORD{0};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
        GetExitCodeProcess(pi.hProcess, &status);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        ADD_FAILURE() << "cannot run " << narrow(command) << ": error " << GetLastError();
    }
    CloseHandle(out);
    return status;
}

DWORD regsvr32(const std::wstring& module, bool unregister) {
    return run(std::wstring(L"regsvr32.exe ") + (unregister ? L"/u " : L"") + L"/s \"" + module + L"\"");
}

// Runs VBScript text under cscript; what it echoed.
std::string cscript(const std::string& text, const std::wstring& name, DWORD* status = nullptr) {
    const std::wstring script = scratch(name + L".vbs"), output = scratch(name + L".out");
    std::ofstream(script.c_str(), std::ios::binary) << text;
    const DWORD exit = run(L"cscript.exe //nologo \"" + script + L"\"", output);
    if (status) *status = exit;
    const std::vector<std::uint8_t> echoed = readFile(output);
    DeleteFileW(script.c_str());
    DeleteFileW(output.c_str());
    return std::string(echoed.begin(), echoed.end());
}

std::string ascii(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += static_cast<char>(c);
    return out;
}

// ---- registration ---------------------------------------------------------------

using kvtest::keyExists;
using kvtest::keyPath;
using kvtest::readString;
using Names = std::set<std::wstring>;

// A module whose classes have dual default interfaces that its library,
// language-neutral, describes.
struct Module {
    std::span<const published::ComponentClass* const> classes;
    const published::TypeLibrary& library;
    const std::wstring& path;
};

void expectRegistered(const Module& module, bool registered) {
    const std::wstring libId = wide(module.library.libId);
    for (const published::ComponentClass* component : module.classes) {
        SCOPED_TRACE(component->versionIndependentProgId);
        const std::wstring progId = wide(component->versionIndependentProgId), versioned = progId + L".1";
        const std::wstring clsid = wide(component->clsid), description = wide(component->description);
        const std::wstring key = L"CLSID\\" + clsid, server = keyPath({key, L"InprocServer32"});
        const struct {
            std::wstring key;
            const wchar_t* name;
            std::wstring value;
        } entries[] = {
            {versioned, nullptr, description},
            {keyPath({versioned, L"CLSID"}), nullptr, clsid},
            {progId, nullptr, description},
            {keyPath({progId, L"CLSID"}), nullptr, clsid},
            {keyPath({progId, L"CurVer"}), nullptr, versioned},
            {key, nullptr, description},
            {keyPath({key, L"ProgID"}), nullptr, versioned},
            {keyPath({key, L"VersionIndependentProgID"}), nullptr, progId},
            {server, nullptr, module.path},
            {server, L"ThreadingModel", L"Apartment"},
            {keyPath({key, L"TypeLib"}), nullptr, libId},
            {keyPath({L"Interface", wide(component->defaultIid), L"TypeLib"}), nullptr, libId},
        };
        for (const auto& e : entries) {
            if (registered)
                EXPECT_EQ(readString(e.key, e.name), e.value) << narrow(e.key);
            else
                EXPECT_FALSE(keyExists(e.key)) << narrow(e.key);
        }
    }
    const std::wstring library = keyPath({L"TypeLib", libId, L"1.0"});
    if (registered) {
        EXPECT_EQ(readString(library), wide(module.library.libHelp));
        EXPECT_EQ(readString(keyPath({library, L"0", kSysKind == SYS_WIN64 ? L"win64" : L"win32"})), module.path)
            << "language-neutral";
    } else {
        EXPECT_FALSE(keyExists(keyPath({L"TypeLib", libId})));
    }
    EXPECT_TRUE(keyExists(L"CLSID"));
}

TEST(Components, RegsvrWritesEveryEntryAndUnregisteringTakesThemAll) {
    const Module modules[] = {{published::kComponentClasses, published::kKvLib, g_options.components},
                              {published::kDecoderClasses, published::kDecoderLib, g_options.decoder}};
    for (const Module& module : modules) {
        SCOPED_TRACE(module.library.libName);
        expectRegistered(module, true);
        ASSERT_EQ(regsvr32(module.path, true), 0u);
        expectRegistered(module, false);
        ASSERT_EQ(regsvr32(module.path, false), 0u);
        expectRegistered(module, true);
    }
    EXPECT_EQ(readString(keyPath({L"Interface", wide(published::kEncoderIid), L"TypeLib"})), kLibIdText)
        << "late-bound clients reach the encoders through KvLib";
}

// ---- the data path against kvencode ----------------------------------------------

class EachFormat : public testing::TestWithParam<Format> {};

TEST_P(EachFormat, ACppClientWritesWhatKvencodeWrites) {
    const Format& f = GetParam();
    const std::vector<std::uint8_t> expected = readFile(expectedFile(f));
    ASSERT_FALSE(expected.empty());

    Ptr<IKvObjectRegistry> registry;
    Ptr<IKvAudioRecorder> recorder;
    Ptr<IKvFileSink> file;
    Ptr<IKvMemorySink> memory;
    Ptr<IKvAudioEncoder> encoder;
    ASSERT_EQ(CoCreateInstance(CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER, IID_IKvObjectRegistry,
                               registry.putVoid()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioRecorder,
                               recorder.putVoid()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FileSink, nullptr, CLSCTX_INPROC_SERVER, IID_IKvFileSink, file.putVoid()), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_MemorySink, nullptr, CLSCTX_INPROC_SERVER, IID_IKvMemorySink, memory.putVoid()),
              S_OK);
    ASSERT_EQ(registry->AddObject(L"KvCom.KvAudio.KvAudioRecorder", recorder.get()), S_OK);
    ASSERT_EQ(CoCreateInstance(f.cls->clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, encoder.putVoid()),
              S_OK);

    const std::wstring out = scratch(L"cpp." + wide(f.name));
    BSTR path = SysAllocString(out.c_str());
    ASSERT_EQ(file->Open(path), S_OK);
    SysFreeString(path);
    ASSERT_EQ(encoder->AddSink(file.get()), S_OK);
    ASSERT_EQ(encoder->AddSink(memory.get()), S_OK);
    ASSERT_EQ(recorder->CaptureFile(g_options.input.c_str(), f.chunk), S_OK);
    EXPECT_EQ(encoder->RemoveSink(file.get()), S_OK);
    EXPECT_EQ(encoder->RemoveSink(memory.get()), S_OK);
    EXPECT_EQ(file->Close(), S_OK);

    EXPECT_EQ(readFile(out), expected);
    LONG fileBytes = -1, memoryBytes = -1, blocks = -1;
    EXPECT_EQ(file->get_BytesReceived(&fileBytes), S_OK);
    EXPECT_EQ(memory->get_BytesReceived(&memoryBytes), S_OK);
    EXPECT_EQ(memory->get_BlockCount(&blocks), S_OK);
    EXPECT_EQ(fileBytes, static_cast<LONG>(expected.size()));
    EXPECT_EQ(memoryBytes, static_cast<LONG>(expected.size()));
    const std::size_t input = readFile(g_options.input).size() - 44;  // a plain 44-byte header
    // The input ends inside a block of every format: the flush delivers one more.
    EXPECT_EQ(blocks, static_cast<LONG>((input + f.chunk - 1) / f.chunk + 1)) << "one block per piece, empty ones too";

    BSTR name = SysAllocString(L"KvCom.KvAudio.KvAudioRecorder");
    EXPECT_EQ(registry->RemoveObject(name), S_OK);
    SysFreeString(name);
    DeleteFileW(out.c_str());
}

// The script of the README, as written, with this run's paths.
TEST_P(EachFormat, TheVbscriptWritesWhatKvencodeWrites) {
    const Format& f = GetParam();
    const std::vector<std::uint8_t> expected = readFile(expectedFile(f));
    ASSERT_FALSE(expected.empty());
    const std::wstring out = scratch(L"script." + wide(f.name));
    const std::string progId = narrow(f.cls->versionIndependentProgId);
    const std::string script =
        "Set reg = CreateObject(\"KvAudioComponents.Registry\")\r\n"
        "Set rec = CreateObject(\"KvAudioComponents.Recorder\")\r\n"
        "reg.Add \"KvCom.KvAudio.KvAudioRecorder\", rec\r\n"
        "Set enc = CreateObject(\"" +
        progId +
        "\")\r\n"
        "Set sink = CreateObject(\"KvAudioComponents.FileSink\")\r\n"
        "sink.Open \"" +
        ascii(out) +
        "\"\r\n"
        "enc.AddSink sink\r\n"
        "rec.CaptureFile \"" +
        ascii(g_options.input) + "\", " + std::to_string(f.chunk) +
        "\r\n"
        "enc.RemoveSink sink\r\n"
        "sink.Close\r\n"
        "WScript.Echo sink.BytesReceived\r\n"
        "reg.Remove \"KvCom.KvAudio.KvAudioRecorder\"\r\n";
    DWORD status = 99;
    const std::string echoed = cscript(script, L"encode", &status);
    EXPECT_EQ(status, 0u) << echoed;
    EXPECT_EQ(echoed, std::to_string(expected.size()) + "\r\n");
    EXPECT_EQ(readFile(out), expected);
    DeleteFileW(out.c_str());
}

std::string formatName(const testing::TestParamInfo<Format>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Formats, EachFormat, testing::ValuesIn(kFormats), formatName);

// ---- apartments -----------------------------------------------------------------

constexpr int kRounds = 3;
using Streams = std::vector<std::vector<std::uint8_t>>;  // round by round, the formats in turn

template <class T>
bool create(const CLSID& clsid, const IID& iid, Ptr<T>& into) {
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, into.putVoid());
    EXPECT_EQ(hr, S_OK);
    return hr == S_OK;
}

// Waits, with a gate, for the three threads to meet there.
void meet(std::atomic<int>* gate) {
    if (!gate) return;
    ++*gate;
    while (*gate < 3) Sleep(0);
}

// One STA with a registry and recorder of its own plays the input to the four
// encoders kRounds times: what each one's file sink got every round.
Streams captureInOwnApartment(std::atomic<int>* gate) {
    Streams streams;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Ptr<IKvObjectRegistry> registry;
        Ptr<IKvAudioRecorder> recorder;
        Ptr<IKvAudioEncoder> encoders[std::size(kFormats)];
        Ptr<IKvFileSink> sinks[std::size(kFormats)];
        std::wstring paths[std::size(kFormats)];
        bool ready = create(CLSID_KvObjectRegistry, IID_IKvObjectRegistry, registry) &&
                     create(CLSID_KvAudioRecorder, IID_IKvAudioRecorder, recorder) &&
                     registry->AddObject(L"KvCom.KvAudio.KvAudioRecorder", recorder.get()) == S_OK;
        for (std::size_t i = 0; ready && i < std::size(kFormats); ++i) {
            paths[i] = scratch(L"sta" + std::to_wstring(GetCurrentThreadId()) + L"." + wide(kFormats[i].name));
            ready = create(kFormats[i].cls->clsid, IID_IKvAudioEncoder, encoders[i]) &&
                    create(CLSID_FileSink, IID_IKvFileSink, sinks[i]) && encoders[i]->AddSink(sinks[i].get()) == S_OK;
        }
        meet(gate);
        for (int round = 0; ready && round < kRounds; ++round) {
            for (std::size_t i = 0; i < std::size(kFormats); ++i) {
                BSTR path = SysAllocString(paths[i].c_str());
                EXPECT_EQ(sinks[i]->Open(path), S_OK);
                SysFreeString(path);
            }
            EXPECT_EQ(recorder->CaptureFile(g_options.input.c_str(), 640), S_OK);
            for (std::size_t i = 0; i < std::size(kFormats); ++i) {
                EXPECT_EQ(sinks[i]->Close(), S_OK);
                streams.push_back(readFile(paths[i]));
                DeleteFileW(paths[i].c_str());
            }
        }
    }
    CoUninitialize();
    return streams;
}

// An STA with nothing entered in its registry creates encoders of every
// class, each with the same memory sink and replaced by the next of its class,
// until told to stop: the blocks that sink got.
LONG createAndRelease(std::atomic<int>* gate, const std::atomic<bool>& stop, int& created) {
    LONG blocks = -1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        Ptr<IKvMemorySink> sink;
        Ptr<IKvAudioEncoder> encoders[std::size(kFormats)];
        const bool ready = create(CLSID_MemorySink, IID_IKvMemorySink, sink);
        meet(gate);
        for (bool ok = ready; ok && (!stop || created == 0);) {
            for (std::size_t i = 0; ok && i < std::size(kFormats); ++i, ++created)
                ok = create(kFormats[i].cls->clsid, IID_IKvAudioEncoder, encoders[i]) &&
                     encoders[i]->AddSink(sink.get()) == S_OK;
        }
        if (ready) sink->get_BlockCount(&blocks);
    }
    CoUninitialize();
    return blocks;
}

// Two STAs capture at once, each through its own registry, recorder and
// encoders, while a third creates and releases encoders in its own: every
// sink gets, each round, what the same objects give one thread alone, and the
// third's encoders hear nothing. No thread calls another's objects, so none
// pumps messages.
TEST(Components, EachApartmentKeepsItsRegistryRecorderAndEncoders) {
    const Streams alone = captureInOwnApartment(nullptr);
    ASSERT_EQ(alone.size(), kRounds * std::size(kFormats));
    for (const auto& stream : alone) ASSERT_GT(stream.size(), 1000u) << "a real encoding to compare with";

    std::atomic<int> gate{0};
    std::atomic<bool> stop{false};
    Streams streams[2];
    LONG heard = -1;
    int created = 0;
    std::thread first([&] { streams[0] = captureInOwnApartment(&gate); });
    std::thread second([&] { streams[1] = captureInOwnApartment(&gate); });
    std::thread third([&] { heard = createAndRelease(&gate, stop, created); });
    first.join();
    second.join();
    stop = true;
    third.join();

    for (const Streams& seen : streams) {
        ASSERT_EQ(seen.size(), alone.size());
        for (std::size_t i = 0; i < alone.size(); ++i)
            EXPECT_TRUE(seen[i] == alone[i])
                << kFormats[i % std::size(kFormats)].name << ", round " << i / std::size(kFormats) << ": "
                << seen[i].size() << " bytes, alone " << alone[i].size();
    }
    EXPECT_EQ(heard, 0) << "blocks heard by " << created << " encoders with no recorder entered";
    std::printf("2 STAs x %d rounds, bytes a sink in round 1: %zu %zu %zu %zu; %d encoders made meanwhile\n", kRounds,
                alone[0].size(), alone[1].size(), alone[2].size(), alone[3].size(), created);
}

// What a script meets at the edges, in one run: each failure with its
// number and its words (a long path clipped to its end), the format fixed
// while an encoder listens, an input that an open file sink would replace
// refused, an encoder that moves to another recorder heard once and by that
// one only, also after its release, the bytes a memory sink holds, and the
// registry's lookups; Flush by name through the encoder's IDispatch; and a
// decoder's properties, and its Decode of the bytes a memory sink holds,
// given as an expression and as a variable (a reference to a VARIANT).
TEST(Components, AScriptGetsDescribedErrorsAndNoDoubledAudio) {
    const std::wstring copy = scratch(L"edges.wav");
    ASSERT_TRUE(CopyFileW(g_options.input.c_str(), copy.c_str(), FALSE));
    const std::string script = R"(Sub Show
  WScript.Echo Hex(Err.Number) & "|" & Err.Description
  Err.Clear
End Sub
Const name = "KvCom.KvAudio.KvAudioRecorder", inp = "%IN%", copy = "%COPY%"
Set reg = CreateObject("KvAudioComponents.Registry")
Set rec = CreateObject("KvAudioComponents.Recorder")
Set enc = CreateObject("KvAudioEncoder.KV_AudioG711A")
Set sink = CreateObject("KvAudioComponents.MemorySink")
On Error Resume Next
rec.CaptureFile inp, 640 : Show
enc.AddSink Nothing : Show
enc.AddSink rec : Show
enc.Flush : Show
rec.SetProperty "SamplesPerSec", 8000 : Show
rec.SetProperty "SamplesPerSec", "lots" : Show
If reg.Lookup(name) Is Nothing Then WScript.Echo "absent"
reg.Add name, rec
If reg.Lookup(name) Is rec Then WScript.Echo "found"
enc.AddSink sink : Show
rec.SetProperty "Channels", "2" : Show
rec.SetProperty "BitsPerSample", "8" : Show
rec.SetProperty "SamplesPerSec", "16000" : Show
rec.CaptureFile "C:\no such folder\" & String(150, "x") & ".wav", 640 : Show
Set fs = CreateObject("KvAudioComponents.FileSink")
fs.Close : Show
fs.Open copy : Show
rec.CaptureFile copy, 640 : Show
Set other = CreateObject("KvAudioComponents.Recorder")
Set sink2 = CreateObject("KvAudioComponents.MemorySink")
reg.Add name, other
enc.AddSink sink2 : Show
rec.CaptureFile inp, 640 : WScript.Echo Hex(Err.Number) : Err.Clear
other.CaptureFile inp, 640 : Show
WScript.Echo sink.BytesReceived & " " & sink2.BytesReceived & " " & VarType(sink2.Data)
Set enc = Nothing
rec.CaptureFile inp, 640 : WScript.Echo Hex(Err.Number) : Err.Clear
other.CaptureFile inp, 640 : WScript.Echo Hex(Err.Number) : Err.Clear
Set dec = CreateObject("KvAudioDecoder.G711A")
WScript.Echo dec.SampleRate & " " & dec.PostFilter
dec.SampleRate = 11025 : Show
dec.Decode 5 : Show
dec.Decode sink.Data : Show
data = sink.Data
dec.Decode data : Show
dec.SampleRate = 8000 : dec.PostFilter = False
WScript.Echo dec.SampleRate & " " & dec.PostFilter & " " & (dec.BytesReceived = 2 * sink.BytesReceived)
reg.Remove name
If reg.Lookup(name) Is Nothing Then WScript.Echo "removed"
)";
    // 8209 is vbArray + vbByte: Wine's script engine has no UBound or LenB for a byte array.
    const std::string expected =
        R"(80040206|cannot capture '%IN%': nothing is connected to hear it: enter this recorder in the registry as "KvCom.KvAudio.KvAudioRecorder" before the encoders' first AddSink
80004003|cannot add the sink: it is null (Nothing)
80004002|cannot add the sink: the object is not a sink (it has no IKvAudioSink)
0|
0|
80070057|cannot set SamplesPerSec to 'lots': %TAKES%
absent
found
0|
80070057|cannot set Channels to '2': %TAKES%
80040207|cannot set BitsPerSample to '8': the capture format is fixed while encoders are connected
0|
80070003|cannot capture '...%X%.wav': the folder does not exist
80040205|cannot close: no file is open
0|
80040208|cannot capture '%COPY%': an open FileSink or WavFileTarget writes this file and will replace it at its Close
0|
80040206
0|
%N% %N% 8209
80040206
80040206
16000 True
80070057|cannot set SampleRate to 11025: it takes 16000 (the streams of our encoders) or 8000 (the 8 kHz streams of a standard peer)
80020005|cannot decode: Decode takes a byte array (VT_ARRAY | VT_UI1), such as a MemorySink's Data, not a value of variant type 2
0|
0|
8000 False True
removed
)";
    const auto fill = [&](std::string text) {
        const std::pair<std::string, std::string> values[] = {
            {"%IN%", ascii(g_options.input)},
            {"%COPY%", ascii(copy)},
            {"%X%", std::string(96, 'x')},
            {"%N%", std::to_string(readFile(expectedFile(kFormats[0])).size())},
            {"%TAKES%",
             "SamplesPerSec takes 8000 to 192000, BitsPerSample 8 or 16, Channels 1 (the capture is mono; "
             "stereo sources are averaged)"}};
        for (const auto& [key, value] : values)
            for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
        return text;
    };
    DWORD status = 99;
    std::string echoed = cscript(fill(script), L"edges", &status);
    echoed.erase(std::remove(echoed.begin(), echoed.end(), '\r'), echoed.end());
    EXPECT_EQ(status, 0u) << echoed;
    EXPECT_EQ(echoed, fill(expected));
    DeleteFileW(copy.c_str());
}

bool takeOption(const std::wstring& arg, const wchar_t* name, std::wstring& into) {
    const std::wstring prefix = std::wstring(L"--") + name + L"=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    into = arg.substr(prefix.size());
    return true;
}

}  // namespace
}  // namespace client

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    int wargc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    auto& o = client::g_options;
    for (int i = 1; wargv && i < wargc; ++i) {
        const std::wstring arg = wargv[i];
        client::takeOption(arg, L"components", o.components) || client::takeOption(arg, L"decoder", o.decoder) ||
            client::takeOption(arg, L"input", o.input) || client::takeOption(arg, L"expected", o.expected);
    }
    LocalFree(wargv);
    if (o.components.empty() || o.decoder.empty() || o.input.empty() || o.expected.empty()) {
        std::fprintf(stderr,
                     "usage: components_client_test --components=DLL --decoder=DLL --input=WAV --expected=FOLDER\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
