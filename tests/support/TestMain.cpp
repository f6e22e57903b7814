// SPDX-License-Identifier: MIT
#include <QApplication>
#include <gtest/gtest.h>

// gtest_discover_tests runs the binaries without ctest's environment, so the
// offscreen platform is chosen here as well.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
