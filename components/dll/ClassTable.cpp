// KvAudioComponents.dll as an in-process server: its six classes, one row
// each in the order of the object map and of registration, and the script
// of their entries (ProgIDs, in-process server, threading model "Apartment").
// It carries KvLib as resource 1 of type "TYPELIB".
#include "com/InprocServer.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"
#include "components/Player.h"
#include "components/Sinks.h"
#include "components/WavFileTarget.h"

namespace kv::components::dll {
namespace {

using namespace com::registrar;

// The identifiers are the components' own.
template <const CLSID& Clsid, const OLECHAR* const& VersionIndependentProgId, class DefaultInterface>
consteval com::ServerClass row(const OLECHAR* description, com::InstanceCreator create) {
    return {com::kGuidText<Clsid>.data(),
            Clsid,
            com::kProgIdVersion1<VersionIndependentProgId>.data(),
            VersionIndependentProgId,
            description,
            com::InterfaceId<DefaultInterface>::address(),
            create};
}

constexpr com::ServerClass kClasses[] = {
    row<CLSID_KvObjectRegistry, kRegistryProgId, IKvRegistry>(KV_W("KvAudioComponents Registry Class"),
                                                              createSharedRegistry),
    row<CLSID_KvAudioRecorder, kRecorderProgId, IKvRecorder>(KV_W("KvAudioComponents Recorder Class"),
                                                             com::createInstance<CKvAudioRecorder>),
    row<CLSID_KvFileSink, kFileSinkProgId, IKvFileSink>(KV_W("KvAudioComponents FileSink Class"),
                                                        com::createInstance<CKvFileSink>),
    row<CLSID_KvMemorySink, kMemorySinkProgId, IKvMemorySink>(KV_W("KvAudioComponents MemorySink Class"),
                                                              com::createInstance<CKvMemorySink>),
    row<CLSID_KvPlayer, kPlayerProgId, IKvPlayer>(KV_W("KvAudioComponents Player Class"),
                                                  com::createInstance<CKvPlayer>),
    row<CLSID_KvWavFileTarget, kWavFileTargetProgId, IKvWavFileTarget>(KV_W("KvAudioComponents WavFileTarget Class"),
                                                                       com::createInstance<CKvWavFileTarget>),
};

constexpr Line kClassScript[] = {
    key(0, var(Var::ProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(0, var(Var::VersionIndependentProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(1, lit(KV_W("CurVer")), var(Var::ProgId)),
    key(0, lit(KV_W("CLSID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::Clsid), var(Var::Description), Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("ProgID")), var(Var::ProgId)),
    key(2, lit(KV_W("VersionIndependentProgID")), var(Var::VersionIndependentProgId)),
    key(2, lit(KV_W("InprocServer32")), var(Var::Module)),
    value(3, KV_W("ThreadingModel"), lit(KV_W("Apartment"))),
    key(2, lit(KV_W("TypeLib")), var(Var::LibId)),
};
static_assert(wellFormed(kClassScript));

constexpr auto kServer = com::InprocServer::of<kClasses>({.classScript = kClassScript, .libId = &::LIBID_KvLib});

}  // namespace
}  // namespace kv::components::dll

const kv::com::InprocServer& kv::com::thisServer() { return kv::components::dll::kServer; }
