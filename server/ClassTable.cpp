// KvAudioEncoder.dll as an in-process server: its encoder classes, one row
// each in the order of the object map and of registration, and its registry
// scripts. The exports, the registrar's work and the host tool's linked-in
// server are all made from these; a new class is one row here and one class
// file.
#include "com/InprocServer.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"

namespace kv::server {
namespace {

using namespace com::registrar;

// One literal gives both forms of the class identifier; the ProgIDs are the
// class's own.
template <class T, std::size_t N>
consteval com::ServerClass row(const OLECHAR (&clsid)[N], const OLECHAR* description) {
    return {clsid,
            com::guid(clsid),
            com::kProgIdVersion1<T::kProgId>.data(),
            T::kProgId,
            description,
            com::InterfaceId<typename T::DefaultInterface>::address(),
            com::createInstance<T>};
}

constexpr com::ServerClass kClasses[] = {
    row<encoders::CKV_AudioG711A>(KV_W("{E078E6AE-97CD-4380-BC5A-E46C838177DC}"), KV_W("KV_AudioG711A Class")),
    row<encoders::CKV_AudioG711U>(KV_W("{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}"), KV_W("KV_AudioG711U Class")),
    row<encoders::CKV_AudioG7231>(KV_W("{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}"), KV_W("KV_AudioG7231 Class")),
    // Registered in lower case, as it always was.
    row<encoders::CKV_AudioQuorvan>(KV_W("{80C6869B-6799-40a9-BC55-3B6D49FD0D27}"), KV_W("KV_AudioQuorvan Class")),
};

constexpr OLECHAR kAppId[] = KV_W("{AFEA8802-29E0-48ED-AA81-B04D306642A9}");

// The module's own entries: its AppID.
constexpr Line kAppIdScript[] = {
    key(0, lit(KV_W("AppID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::AppId), lit(KV_W("KvAudioEncoder"))),
    key(1, lit(KV_W("KvAudioEncoder.DLL"))),
    value(2, KV_W("AppID"), var(Var::AppId)),
};

// Each class's entries, filled in from its row: those of every apartment
// class, and in its CLSID key the Programmable key and the AppID.
constexpr Line kEncoderEntries[] = {
    key(2, lit(KV_W("Programmable")), kNone, Rule::RemovedBeforeWritten),
    value(2, KV_W("AppID"), var(Var::AppId)),
};
constexpr auto kClassScript = joined(com::scripts::kApartmentClass, kEncoderEntries);

static_assert(wellFormed(kAppIdScript));
static_assert(wellFormed(kClassScript));

constexpr auto kServer = com::InprocServer::of<kClasses>(
    {.moduleScript = kAppIdScript, .classScript = kClassScript, .appId = kAppId, .libId = &LIBID_KvAudioEncoderLib});

}  // namespace
}  // namespace kv::server

const kv::com::InprocServer& kv::com::thisServer() { return kv::server::kServer; }
