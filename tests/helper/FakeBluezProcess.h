#pragma once

#include <QProcess>
#include <QStringList>

#include <string>

namespace harkwell::testing {

// Runs fake_bluez on `busAddress` with the given devices until the object goes.
class FakeBluezProcess {
public:
    FakeBluezProcess(const QString& busAddress, const QStringList& devices);
    ~FakeBluezProcess();
    FakeBluezProcess(const FakeBluezProcess&) = delete;
    FakeBluezProcess& operator=(const FakeBluezProcess&) = delete;

    // Empty once it serves; otherwise why it does not.
    const std::string& error() const { return error_; }

private:
    QProcess process_;
    std::string error_;
};

} // namespace harkwell::testing
