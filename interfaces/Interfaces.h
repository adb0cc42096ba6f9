#pragma once

// The interfaces the encoder and decoder objects implement and call,
// generated from the IDL files of this folder, tied to their IIDs for ComPtr.

#include "com/Dispatch.h"
#include "com/Guid.h"

#include "KvAudioDecoder.h"
#include "KvAudioEncoder.h"
#include "KvInterfaces.h"
#include "KvLib.h"

KV_INTERFACE_ID(IKvObjectRegistry, IID_IKvObjectRegistry);
KV_INTERFACE_ID(IKvAudioRecorder, IID_IKvAudioRecorder);
KV_INTERFACE_ID(IKvAudioSink, IID_IKvAudioSink);
KV_INTERFACE_ID(IKvAudioDataTarget, IID_IKvAudioDataTarget);
KV_INTERFACE_ID(IKvAudioEncoder, IID_IKvAudioEncoder);
KV_INTERFACE_ID(IKvAudioEncoderControl, IID_IKvAudioEncoderControl);
KV_INTERFACE_ID(IKV_AudioG711A, IID_IKV_AudioG711A);
KV_INTERFACE_ID(IKV_AudioG711U, IID_IKV_AudioG711U);
KV_INTERFACE_ID(IKV_AudioG7231, IID_IKV_AudioG7231);
KV_INTERFACE_ID(IKV_AudioQuorvan, IID_IKV_AudioQuorvan);
KV_INTERFACE_ID(IKvRegistry, IID_IKvRegistry);
KV_INTERFACE_ID(IKvRecorder, IID_IKvRecorder);
KV_INTERFACE_ID(IKvFileSink, IID_IKvFileSink);
KV_INTERFACE_ID(IKvMemorySink, IID_IKvMemorySink);
KV_INTERFACE_ID(IKvMemorySinkBuffer, IID_IKvMemorySinkBuffer);
KV_INTERFACE_ID(IKvAudioDecoder, IID_IKvAudioDecoder);
KV_INTERFACE_ID(IKvPlayer, IID_IKvPlayer);
KV_INTERFACE_ID(IKvWavFileTarget, IID_IKvWavFileTarget);

namespace kv {

// The components outside this module that every encoder creates or finds.
inline constexpr CLSID CLSID_KvObjectRegistry = com::guid("{CF9F1B41-9E58-43C4-9015-A6D2E22614B1}");
inline constexpr CLSID CLSID_KvAudioRecorder = com::guid("{D0CC397C-2790-485A-B996-5E7A3111C1ED}");
// KvLib describes IKvAudioEncoder and the components' dual interfaces; it
// belongs to the components, not to the encoder module.
extern const GUID LIBID_KvLib;

// The name under which the running capture component is entered in the registry.
inline constexpr const OLECHAR* kRecorderName = KV_W("KvCom.KvAudio.KvAudioRecorder");

}  // namespace kv
