#pragma once

// Rich errors for automation clients: a failing method leaves an IErrorInfo
// on the thread (description, source, interface), and its object says through
// ISupportErrorInfo for which interfaces it does so, so a script host shows
// the text instead of a bare number.
//
//   class CThing : public kv::com::implements<CThing, ..., kv::com::SupportsErrorInfo<IThing>> { ... };
//   return kv::com::reportError(hr, KV_W("Thing.ProgId"), iidOf<IThing>(), text);

#include "com/ComPtr.h"
#include "com/Guid.h"

#include <new>
#include <string>

KV_INTERFACE_ID(ISupportErrorInfo, IID_ISupportErrorInfo);
KV_INTERFACE_ID(IErrorInfo, IID_IErrorInfo);
KV_INTERFACE_ID(ICreateErrorInfo, IID_ICreateErrorInfo);

namespace kv::com {

using ErrorText = std::basic_string<OLECHAR>;

// Appends ASCII text to wide text (the literals of messages are ASCII).
inline ErrorText& operator<<(ErrorText& text, const char* ascii) {
    for (; *ascii; ++ascii) text.push_back(static_cast<OLECHAR>(static_cast<unsigned char>(*ascii)));
    return text;
}
inline ErrorText& operator<<(ErrorText& text, const OLECHAR* wide) {
    if (wide) text += wide;
    return text;
}

// A status as a message shows it: 0x and eight hexadecimal digits.
struct Hex {
    HRESULT hr;
};
inline ErrorText& operator<<(ErrorText& text, Hex h) {
    static const char digits[] = "0123456789ABCDEF";
    text << "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text.push_back(static_cast<OLECHAR>(digits[(static_cast<unsigned long>(h.hr) >> shift) & 0xF]));
    return text;
}

// A path or name as a message shows it: a long one keeps its end, which
// names the file, behind "...", so that a description stays readable.
struct Clipped {
    const OLECHAR* text;
    std::size_t keep = 100;
};
inline ErrorText& operator<<(ErrorText& text, Clipped c) {
    if (!c.text) return text;
    const std::size_t length = std::char_traits<OLECHAR>::length(c.text);
    if (length <= c.keep) return text += c.text;
    text << "...";
    return text.append(c.text + (length - c.keep), c.keep);
}

// Sets the thread's error information and returns `hr`, so a method can end
// with it. Without memory for the error object the status still goes back.
inline HRESULT reportError(HRESULT hr, const OLECHAR* source, REFIID iid, const OLECHAR* description) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    if (ComPtr<IErrorInfo> error = create.query<IErrorInfo>()) SetErrorInfo(0, error.get());
    return hr;
}
inline HRESULT reportError(HRESULT hr, const OLECHAR* source, REFIID iid, const ErrorText& description) noexcept {
    return reportError(hr, source, iid, description.c_str());
}

// guarded() (com/Barrier.h) whose own failures are described too: what the
// body fails with, it describes itself.
template <class Body>
HRESULT guardedDescribed(const OLECHAR* source, REFIID iid, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return reportError(E_OUTOFMEMORY, source, iid, KV_W("out of memory"));
    } catch (...) {
        return reportError(E_UNEXPECTED, source, iid, KV_W("an unexpected failure"));
    }
}

// Where a class's errors come from, as a client sees them: its ProgID and the
// interface it was called through.
struct ErrorSource {
    const OLECHAR* progId;
    const IID* iid;

    HRESULT fail(HRESULT hr, const ErrorText& text) const noexcept { return reportError(hr, progId, *iid, text); }
    template <class Body>
    HRESULT guard(Body&& body) const noexcept {
        return guardedDescribed(progId, *iid, body);
    }
};

// Answers S_OK for the listed interfaces, S_FALSE for any other.
template <class... Interfaces>
class SupportsErrorInfo : public ISupportErrorInfo {
public:
    using Interface = ISupportErrorInfo;

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return (IsEqualGUID(riid, iidOf<Interfaces>()) || ...) ? S_OK : S_FALSE;
    }
};

}  // namespace kv::com
