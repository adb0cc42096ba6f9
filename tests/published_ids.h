#pragma once

// What the three DLLs publish, as their clients know it and the registry shows
// it: written here once for every test, apart from the product's own tables,
// so that the tests hold the product to it. The Wine scripts read the fields
// too (tests/wine/prefix.sh): keep each `.field = "text"` on one line.

#include <string>
#include <string_view>

namespace published {

// The entries keep a few fields a line.
// clang-format off
struct EncoderClass {
    const char* name;                      // for test names
    const char* clsid;                     // as the registry shows it
    const char* classIid;                  // its member-less dual class interface
    const char* versionIndependentProgId;  // version 1's adds ".1"
    const char* description;
    const char* registryName;              // what the object removes from the registry component
};

// In KvAudioEncoder.dll's registration order; the Quorvan CLSID is registered in lower case.
inline constexpr EncoderClass kG711A{.name = "G711A",
    .clsid = "{E078E6AE-97CD-4380-BC5A-E46C838177DC}", .classIid = "{8216FC5A-A89E-446E-A253-D44E1FD35520}",
    .versionIndependentProgId = "KvAudioEncoder.KV_AudioG711A", .description = "KV_AudioG711A Class",
    .registryName = "KvCom.KvAudio.KvAudioEncoder.KVG711A"};
inline constexpr EncoderClass kG711U{.name = "G711U",
    .clsid = "{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}", .classIid = "{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}",
    .versionIndependentProgId = "KvAudioEncoder.KV_AudioG711U", .description = "KV_AudioG711U Class",
    .registryName = "KvCom.KvAudio.KvAudioEncoder.KVG711U"};
inline constexpr EncoderClass kG7231{.name = "G7231",
    .clsid = "{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}", .classIid = "{43AB6695-8EC3-45FB-87F7-89C90991048F}",
    .versionIndependentProgId = "KvAudioEncoder.KV_AudioG7231", .description = "KV_AudioG7231 Class",
    .registryName = "KvCom.KvAudio.KvAudioEncoder.KVG7231"};
inline constexpr EncoderClass kQuorvan{.name = "Quorvan",
    .clsid = "{80C6869B-6799-40a9-BC55-3B6D49FD0D27}", .classIid = "{2C5F51DD-0EB8-4481-850A-B8AEE2872007}",
    .versionIndependentProgId = "KvAudioEncoder.KV_AudioQuorvan", .description = "KV_AudioQuorvan Class",
    .registryName = "KvCom.KvAudio.KvAudioEncoder.KVG722"};
inline constexpr const EncoderClass* kEncoderClasses[] = {&kG711A, &kG711U, &kG7231, &kQuorvan};

// KvAudioEncoder.dll's AppID: AppID\{appId} names it, AppID\<appIdModule>
// points to it.
struct AppId {
    const char* appId;
    const char* appIdName;
    const char* appIdModule;
};
inline constexpr AppId kEncoderAppId{.appId = "{AFEA8802-29E0-48ED-AA81-B04D306642A9}",
                                     .appIdName = "KvAudioEncoder",
                                     .appIdModule = "KvAudioEncoder.DLL"};

struct ComponentClass {
    const char* clsid;
    const char* defaultIid;                // its dual default interface, described by KvLib
    const char* versionIndependentProgId;  // version 1's adds ".1"
    const char* description;
};

// In KvAudioComponents.dll's registration order.
inline constexpr ComponentClass kRegistry{
    .clsid = "{CF9F1B41-9E58-43C4-9015-A6D2E22614B1}", .defaultIid = "{2DA0A25D-0D37-4D6B-B470-8B4ED76C4F53}",
    .versionIndependentProgId = "KvAudioComponents.Registry", .description = "KvAudioComponents Registry Class"};
inline constexpr ComponentClass kRecorder{
    .clsid = "{D0CC397C-2790-485A-B996-5E7A3111C1ED}", .defaultIid = "{41ECC7F6-178E-429E-9B67-050B2E54DFAF}",
    .versionIndependentProgId = "KvAudioComponents.Recorder", .description = "KvAudioComponents Recorder Class"};
inline constexpr ComponentClass kFileSink{
    .clsid = "{9B4D24E1-05A5-478A-95E7-3146561265A6}", .defaultIid = "{2F2130A0-68DF-4818-83D0-8C2DFDCC05F4}",
    .versionIndependentProgId = "KvAudioComponents.FileSink", .description = "KvAudioComponents FileSink Class"};
inline constexpr ComponentClass kMemorySink{
    .clsid = "{8CEA055D-238B-4512-BC78-D45099838CF1}", .defaultIid = "{23539D5E-EC33-48BA-82F0-39B3DE2393C7}",
    .versionIndependentProgId = "KvAudioComponents.MemorySink", .description = "KvAudioComponents MemorySink Class"};
inline constexpr ComponentClass kPlayer{
    .clsid = "{623E690F-C93B-441F-8364-38735B8D95C8}", .defaultIid = "{2ED70819-B4ED-4409-AB3C-4458F21B6D3F}",
    .versionIndependentProgId = "KvAudioComponents.Player", .description = "KvAudioComponents Player Class"};
inline constexpr ComponentClass kWavFileTarget{
    .clsid = "{FD4766C0-E032-4EB6-9412-FA06D4DAEF5B}", .defaultIid = "{2666D05C-52F1-40D8-A84C-30A169B473F1}",
    .versionIndependentProgId = "KvAudioComponents.WavFileTarget",
    .description = "KvAudioComponents WavFileTarget Class"};
inline constexpr const ComponentClass* kComponentClasses[] = {&kRegistry, &kRecorder, &kFileSink, &kMemorySink,
                                                              &kPlayer, &kWavFileTarget};

// In KvAudioDecoder.dll's registration order; described like the components,
// each with IKvAudioDecoder as its dual default interface.
inline constexpr const char* kDecoderIid = "{65196782-DF73-4D26-B3F3-4AA2F8AF74DC}";
inline constexpr ComponentClass kDecoderG711A{
    .clsid = "{864B3F29-F763-4AFF-AFF6-26814AF4FBA2}", .defaultIid = kDecoderIid,
    .versionIndependentProgId = "KvAudioDecoder.G711A", .description = "KvAudioDecoder G711A Class"};
inline constexpr ComponentClass kDecoderG711U{
    .clsid = "{C2CB197E-7979-4C7F-861C-B8CE14240581}", .defaultIid = kDecoderIid,
    .versionIndependentProgId = "KvAudioDecoder.G711U", .description = "KvAudioDecoder G711U Class"};
inline constexpr ComponentClass kDecoderG7231{
    .clsid = "{6A224D22-85A1-4F99-AC63-9211C68D7E89}", .defaultIid = kDecoderIid,
    .versionIndependentProgId = "KvAudioDecoder.G7231", .description = "KvAudioDecoder G7231 Class"};
inline constexpr ComponentClass kDecoderQuorvan{
    .clsid = "{BAC822F9-62C9-4077-8497-A75F02EC04C2}", .defaultIid = kDecoderIid,
    .versionIndependentProgId = "KvAudioDecoder.Quorvan", .description = "KvAudioDecoder Quorvan Class"};
inline constexpr const ComponentClass* kDecoderClasses[] = {&kDecoderG711A, &kDecoderG711U, &kDecoderG7231,
                                                            &kDecoderQuorvan};

// The type library each module carries as resource 1; KvLib, language-neutral,
// also describes IKvAudioEncoder, through which late-bound clients reach the
// encoders.
struct TypeLibrary {
    const char* libId;
    const char* libName;
    const char* libHelp;
    unsigned lcid;
};
inline constexpr TypeLibrary kEncoderLib{.libId = "{43CFE32C-E2DD-487D-8A1C-6888F61998D9}",
    .libName = "KvAudioEncoderLib", .libHelp = "KvAudioEncoder 1.0 Type Library", .lcid = 0x0409};
inline constexpr TypeLibrary kKvLib{.libId = "{575AA7B5-E1A9-414D-8EF9-AAE317E10B10}",
    .libName = "KvLib", .libHelp = "KvLib 1.0 Type Library", .lcid = 0};
inline constexpr TypeLibrary kDecoderLib{.libId = "{2B08C28E-8046-44AF-B118-655C19DEC42C}",
    .libName = "KvAudioDecoderLib", .libHelp = "KvAudioDecoder 1.0 Type Library", .lcid = 0};
inline constexpr const char* kEncoderIid = "{ABF09E32-54C3-4425-90F1-0B34CDC09690}";

// The other interfaces an encoder meets outside its module.
inline constexpr const char* kSinkIid = "{7A0A540B-E78A-40B0-901E-01020541C682}";
inline constexpr const char* kObjectRegistryIid = "{24361205-DC52-447C-9414-E0A949E0AC41}";
inline constexpr const char* kAudioRecorderIid = "{A0BC833A-239A-4D4F-90D8-907C814DAC4C}";
// clang-format on

// A GUID from its registry text, in the includer's GUID type.
template <class Guid>
constexpr Guid guid(std::string_view text) {
    auto hex = [&](std::size_t at, std::size_t digits) {
        unsigned long v = 0;
        for (std::size_t i = at; i < at + digits; ++i)
            v = v * 16 + static_cast<unsigned long>(text[i] <= '9' ? text[i] - '0' : (text[i] | 0x20) - 'a' + 10);
        return v;
    };
    Guid g{};
    g.Data1 = static_cast<decltype(g.Data1)>(hex(1, 8));
    g.Data2 = static_cast<decltype(g.Data2)>(hex(10, 4));
    g.Data3 = static_cast<decltype(g.Data3)>(hex(15, 4));
    for (std::size_t i = 0; i < 8; ++i)
        g.Data4[i] = static_cast<unsigned char>(hex(i < 2 ? 20 + 2 * i : 21 + 2 * i, 2));
    return g;
}

// A text above in the includer's wide characters.
template <class Char>
std::basic_string<Char> text(std::string_view ascii) {
    return std::basic_string<Char>(ascii.begin(), ascii.end());
}

}  // namespace published
