#pragma once

// Registry scripts kept as data, not as script text, so odd module paths
// (spaces, apostrophes, percent signs) are written exactly as given. A
// module describes its entries as lines of keys and values with their rules
// and applies them with the replacements of one registration.

#include "platform/win32.h"

#include <array>
#include <cstddef>
#include <span>

namespace kv::com::registrar {

// A string of a script: literal text, or what a replacement stands for.
// Replacements are whole strings, never spliced into text, so a value can
// never be read back as script syntax.
enum class Var : unsigned char { None, Module, AppId, Description, ProgId, VersionIndependentProgId, Clsid, LibId };

struct Text {
    Var var;
    const OLECHAR* literal;
};
constexpr Text lit(const OLECHAR* s) { return {Var::None, s}; }
constexpr Text var(Var v) { return {v, nullptr}; }
constexpr Text kNone{Var::None, nullptr};

enum class Rule : unsigned char {
    Plain,                 // created at registration, deleted with its subtree at unregistration
    NeverRemoved,          // created when missing, never deleted
    RemovedBeforeWritten,  // deleted with its subtree, then created, at registration; deleted at unregistration
};

// One line of a script: a key with its default value (if any), or a named
// string value. A key at depth 0 lies under the root of the registration
// (see Scope), one at depth
// n under the last key at depth n-1; a value at depth n belongs to the last
// key at depth n-1.
struct Line {
    int depth;
    bool isValue;
    Rule rule;
    Text name;
    Text data;
};
constexpr Line key(int depth, Text name, Text defaultValue = kNone, Rule rule = Rule::Plain) {
    return {depth, false, rule, name, defaultValue};
}
constexpr Line value(int depth, const OLECHAR* name, Text data) { return {depth, true, Rule::Plain, lit(name), data}; }

// Unregistration leaves named values to the deletion of their keys, which
// holds only while no value sits in a key that is never removed.
consteval bool wellFormed(std::span<const Line> lines) {
    constexpr int kMaxDepth = 8;
    Rule owners[kMaxDepth] = {};
    int keyDepth = -1;
    for (const Line& l : lines) {
        if (l.depth < 0 || l.depth >= kMaxDepth || l.depth > keyDepth + 1) return false;
        if (l.isValue) {
            const bool hasData = l.data.var != Var::None || l.data.literal;
            if (l.depth == 0 || owners[l.depth - 1] == Rule::NeverRemoved || !hasData) return false;
        } else {
            owners[l.depth] = l.rule;
            keyDepth = l.depth;
        }
    }
    return true;
}

// One script after another, as one: what the second adds at depth n goes
// under the first's last key at depth n-1.
template <std::size_t N, std::size_t M>
consteval std::array<Line, N + M> joined(const Line (&first)[N], const Line (&second)[M]) {
    std::array<Line, N + M> lines{};
    for (std::size_t i = 0; i < N; ++i) lines[i] = first[i];
    for (std::size_t i = 0; i < M; ++i) lines[N + i] = second[i];
    return lines;
}

// What the replacements of one script stand for.
struct Replacements {
    const OLECHAR* module = nullptr;
    const OLECHAR* appId = nullptr;
    const OLECHAR* description = nullptr;
    const OLECHAR* progId = nullptr;
    const OLECHAR* versionIndependentProgId = nullptr;
    const OLECHAR* clsid = nullptr;  // as written in the registry
    const OLECHAR* libId = nullptr;  // the type library the module carries
};

// Where a registration goes: for every user of the machine
// (HKEY_CLASSES_ROOT), or for the calling user only
// (HKEY_CURRENT_USER\Software\Classes), which needs no administrator.
enum class Scope : unsigned char { Machine, User };

// Writes the script's keys and values under the scope's root; stops at the
// first failure and returns it.
HRESULT registerScript(std::span<const Line> lines, const Replacements& r, Scope scope = Scope::Machine);
// Removes what the script wrote, leaving never-removed keys; keys already
// gone count as removed.
HRESULT unregisterScript(std::span<const Line> lines, const Replacements& r, Scope scope = Scope::Machine);

// The type library in a module file, registered for or removed from its path.
HRESULT registerTypeLib(const OLECHAR* modulePath, Scope scope = Scope::Machine);
HRESULT unregisterTypeLib(const OLECHAR* modulePath, Scope scope = Scope::Machine);

// What DllInstall's command line asks for: null or empty is the machine,
// "user" in any case the calling user; anything else is not understood.
bool scopeFromCommandLine(const OLECHAR* commandLine, Scope& scope);

// Registration runs in the system locale, so what it writes never depends on
// the calling thread's locale; the caller gets its own back on every path.
class SystemLocaleScope {
public:
    SystemLocaleScope() : m_saved(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocaleScope() { SetThreadLocale(m_saved); }
    SystemLocaleScope(const SystemLocaleScope&) = delete;
    SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

private:
    LCID m_saved;
};

}  // namespace kv::com::registrar
