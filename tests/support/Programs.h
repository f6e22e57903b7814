#pragma once

#include <QString>

namespace varno::test {

// The built `varno` program, or an empty text where the build defines none (tests that
// need it skip then).
inline QString varnoProgramPath() {
#ifdef VARNO_TOOL_VARNO
    return QStringLiteral(VARNO_TOOL_VARNO);
#else
    return QString();
#endif
}

} // namespace varno::test
