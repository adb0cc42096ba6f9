// Host stand-in for the thread locale. Like Windows, every thread starts with
// the user default and SetThreadLocale stores a concrete locale in place of
// the default pseudo-locales (and of 0). Unlike Windows it takes any other
// value without checking that such a locale exists.
#include "platform/win32.h"

namespace {
constexpr LCID kDefaultLocale = 0x0409;
thread_local LCID t_locale = kDefaultLocale;
}  // namespace

LCID GetThreadLocale() { return t_locale; }

BOOL SetThreadLocale(LCID locale) {
    if (locale == 0 || locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT) locale = kDefaultLocale;
    t_locale = locale;
    return TRUE;
}
