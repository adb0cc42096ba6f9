#include "components/dll/ClassTable.h"

#include <iterator>

#include "com/ClassFactory.h"
#include "com/Guid.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"
#include "components/Sinks.h"

namespace kv::components::dll {
namespace {

// One literal gives both forms of the class identifier.
template <std::size_t N>
consteval ClassRow row(const OLECHAR (&clsid)[N], const OLECHAR* progId, const OLECHAR* versionIndependentProgId,
                       const OLECHAR* description, HRESULT (*create)(IUnknown*, REFIID, void**)) {
    return {clsid, com::guid(clsid), progId, versionIndependentProgId, description, create};
}

constexpr ClassRow kRows[] = {
    row(KV_W("{CF9F1B41-9E58-43C4-9015-A6D2E22614B1}"), KV_W("KvAudioComponents.Registry.1"),
        KV_W("KvAudioComponents.Registry"), KV_W("KvAudioComponents Registry Class"), createSharedRegistry),
    row(KV_W("{D0CC397C-2790-485A-B996-5E7A3111C1ED}"), KV_W("KvAudioComponents.Recorder.1"),
        KV_W("KvAudioComponents.Recorder"), KV_W("KvAudioComponents Recorder Class"),
        com::createInstance<CKvAudioRecorder>),
    row(KV_W("{9B4D24E1-05A5-478A-95E7-3146561265A6}"), KV_W("KvAudioComponents.FileSink.1"),
        KV_W("KvAudioComponents.FileSink"), KV_W("KvAudioComponents FileSink Class"), com::createInstance<CKvFileSink>),
    row(KV_W("{8CEA055D-238B-4512-BC78-D45099838CF1}"), KV_W("KvAudioComponents.MemorySink.1"),
        KV_W("KvAudioComponents.MemorySink"), KV_W("KvAudioComponents MemorySink Class"),
        com::createInstance<CKvMemorySink>),
};

static_assert(std::size(kRows) == kClassCount);

}  // namespace

std::span<const ClassRow, kClassCount> classTable() { return kRows; }

}  // namespace kv::components::dll
