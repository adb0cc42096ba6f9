// KvAudioDecoder.dll as an in-process server: a row for each decoder class,
// in the order of decoders::kDecoderClasses, entered by the toolkit's script
// for apartment classes (ProgIDs, in-process server, threading model
// "Apartment"). It carries KvAudioDecoderLib as resource 1 of type "TYPELIB".
#include "decoders/dll/ClassTable.h"

#include "decoders/KvAudioDecoder.h"

namespace kv::decoders::dll {
namespace {

using codecs::StreamFormat;

template <StreamFormat Format>
consteval com::ServerClass row() {
    using Class = CKvAudioDecoder<Format>;
    return com::classRow<Class::kClsid, Class::kProgId, IKvAudioDecoder>(Class::kDescription,
                                                                         com::createInstance<Class>);
}

constexpr com::ServerClass kClasses[] = {row<StreamFormat::G711A>(), row<StreamFormat::G711U>(),
                                         row<StreamFormat::G7231>(), row<StreamFormat::Quorvan>()};
static_assert(std::size(kClasses) == std::size(kDecoderClasses));

constexpr auto kServer =
    com::InprocServer::of<kClasses>({.classScript = com::scripts::kApartmentClass, .libId = &LIBID_KvAudioDecoderLib});

}  // namespace

const com::InprocServer& server() { return kServer; }

}  // namespace kv::decoders::dll
