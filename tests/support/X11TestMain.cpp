// main() of the X11 tests: starts an Xvfb of their own and a QGuiApplication on it, so that key
// events travel the application's real way (Qt's xcb connection and its native event filters).
#include "XvfbServer.h"

#include <QGuiApplication>

#include <cstdlib>
#include <gtest/gtest.h>
#include <iostream>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    harkwell::testing::XvfbServer server;
    if (server.display().empty()) {
        std::cerr << "Cannot start the X server the tests run against (Xvfb, Debian package xvfb): " << server.error()
                  << '\n';
        return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
