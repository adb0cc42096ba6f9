// KvAudioComponents.dll as an in-process server: its six classes, one row
// each in the order of the object map and of registration, entered by the
// toolkit's script for apartment classes (ProgIDs, in-process server,
// threading model "Apartment"). It carries KvLib as resource 1 of type "TYPELIB".
#include "com/InprocServer.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"
#include "components/Player.h"
#include "components/Sinks.h"
#include "components/WavFileTarget.h"

namespace kv::components::dll {
namespace {

// The identifiers are the components' own.
template <const CLSID& Clsid, const OLECHAR* const& VersionIndependentProgId, class DefaultInterface>
consteval com::ServerClass row(const OLECHAR* description, com::InstanceCreator create) {
    return com::classRow<Clsid, VersionIndependentProgId, DefaultInterface>(description, create);
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

constexpr auto kServer =
    com::InprocServer::of<kClasses>({.classScript = com::scripts::kApartmentClass, .libId = &::LIBID_KvLib});

}  // namespace
}  // namespace kv::components::dll

const kv::com::InprocServer& kv::com::thisServer() { return kv::components::dll::kServer; }
