#include "serial/Translate.h"

#if __has_include(<libintl.h>)
#include <libintl.h>
#define VX_HAVE_GETTEXT 1
#endif

namespace vx::serial {

std::string translate(const char* domain, const char* text) {
#if defined(VX_HAVE_GETTEXT)
    return dgettext(domain, text);
#else
    (void)domain;
    return text;
#endif
}

} // namespace vx::serial
