// Writes one settings key over and over, for the tests that kill a writer mid-write or make its
// writes fail: settings_writer <file> <key> <iterations>. Each value is a list of 2000 equal
// strings "<key>-<i>"; after each write it prints "wrote <i>", or "failed: <reason>" and exits
// with status 1.
#include "model/SettingsStore.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: settings_writer <file> <key> <iterations>\n");
        return 64;
    }
    harkwell::SettingsStore store(QString::fromLocal8Bit(argv[1]));
    std::optional<QString> failure;
    store.onWriteFinished = [&failure](const std::optional<QString>& reason) { failure = reason; };
    const QString key = QString::fromLocal8Bit(argv[2]);
    const int iterations = std::atoi(argv[3]);
    for (int i = 0; i < iterations; ++i) {
        store.setStringList(key, QStringList(2000, QStringLiteral("%1-%2").arg(key).arg(i)));
        if (failure) {
            std::printf("failed: %s\n", failure->toLocal8Bit().constData());
            return 1;
        }
        std::printf("wrote %d\n", i);
        std::fflush(stdout);
    }
    return 0;
}
