#include "server/ClassTable.h"

#include "com/ClassFactory.h"
#include "com/Guid.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"

#include <iterator>

namespace kv::server {
namespace {

// One literal gives both forms of the class identifier.
template <class T, std::size_t N>
consteval ClassRow row(const OLECHAR (&clsid)[N], const OLECHAR* progId, const OLECHAR* description) {
    return {clsid,
            com::guid(clsid),
            progId,
            T::kProgId,
            description,
            T::kRegistryName,
            com::InterfaceId<typename T::DefaultInterface>::address(),
            com::createInstance<T>};
}

constexpr ClassRow kRows[] = {
    row<encoders::CKV_AudioG711A>(KV_W("{E078E6AE-97CD-4380-BC5A-E46C838177DC}"),
                                  KV_W("KvAudioEncoder.KV_AudioG711A.1"), KV_W("KV_AudioG711A Class")),
    row<encoders::CKV_AudioG711U>(KV_W("{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}"),
                                  KV_W("KvAudioEncoder.KV_AudioG711U.1"), KV_W("KV_AudioG711U Class")),
    row<encoders::CKV_AudioG7231>(KV_W("{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}"),
                                  KV_W("KvAudioEncoder.KV_AudioG7231.1"), KV_W("KV_AudioG7231 Class")),
    row<encoders::CKV_AudioQuorvan>(KV_W("{80C6869B-6799-40a9-BC55-3B6D49FD0D27}"),
                                    KV_W("KvAudioEncoder.KV_AudioQuorvan.1"), KV_W("KV_AudioQuorvan Class")),
};

static_assert(std::size(kRows) == kClassCount);

}  // namespace

std::span<const ClassRow, kClassCount> classTable() { return kRows; }

}  // namespace kv::server
