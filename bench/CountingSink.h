// A sink that only counts what it receives: what the figures measure is the
// encoder's delivery, not a sink's own work.
#pragma once

#include "com/NoTypeInfo.h"
#include "com/Object.h"
#include "interfaces/Interfaces.h"

namespace kvbench {

class CountingSink : public kv::com::implements<CountingSink, kv::com::NoTypeInfo<IKvAudioSink>> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        *count = m_bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE*, LONG length) override {
        m_bytes += length;
        return S_OK;
    }

private:
    LONG m_bytes = 0;
};

}  // namespace kvbench
