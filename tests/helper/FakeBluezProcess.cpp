#include "FakeBluezProcess.h"

namespace harkwell::testing {

FakeBluezProcess::FakeBluezProcess(const QString& busAddress, const QStringList& devices) {
    process_.setProgram(HARKWELL_FAKE_BLUEZ);
    process_.setArguments(QStringList{busAddress} + devices);
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = "cannot start fake_bluez: " + process_.errorString().toStdString();
        return;
    }
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(10000)) {
            error_ = "fake_bluez did not get ready: " + process_.readAllStandardError().toStdString();
            return;
        }
    }
    if (process_.readLine().trimmed() != "ready") {
        error_ = "fake_bluez did not get ready";
    }
}

FakeBluezProcess::~FakeBluezProcess() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

} // namespace harkwell::testing
