// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

// What the fuzz targets share: a property that must hold for every input, checked in
// release builds too, and the application object that some Qt classes need.
namespace varno::fuzz {

[[noreturn]] inline void propertyBroken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, what);
    std::abort();
}

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

} // namespace varno::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::varno::fuzz::propertyBroken(#condition, __FILE__, __LINE__);                         \
    } while (false)
