#pragma once

#include "com/ErrorInfo.h"

#include <string>

namespace kvtest {

// The description the last failure left on the thread ("" for none), in
// ASCII (anything else shows as '?').
inline std::string lastError() {
    kv::com::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return "";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::string described;
    for (const OLECHAR* c = text; c && *c; ++c) described += *c < 0x80 ? static_cast<char>(*c) : '?';
    SysFreeString(text);
    return described;
}

}  // namespace kvtest
