#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

// Like the shared Qt test main, but the process ends without tearing the application object
// down: Qt Multimedia 6.4 crashes in that teardown once its PulseAudio connection was cut by
// the server going away, which one of these tests does on purpose.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    auto* application = new QCoreApplication(argc, argv);
    static_cast<void>(application);
    const int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    std::_Exit(result);
}
