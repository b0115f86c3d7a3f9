#include "PrivateDBusDaemon.h"

#include <QFile>

namespace harkwell::testing {

PrivateDBusDaemon::PrivateDBusDaemon() {
    if (!directory_.isValid()) {
        error_ = "cannot create a temporary directory";
        return;
    }
    const QString configPath = directory_.filePath("bus.conf");
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly)) {
        error_ = "cannot write " + configPath;
        return;
    }
    config.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                     .arg(directory_.path())
                     .toUtf8());
    config.close();

    process_.setProgram("dbus-daemon");
    process_.setArguments({"--config-file=" + configPath, "--nofork", "--print-address=1"});
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = "cannot start dbus-daemon: " + process_.errorString();
        return;
    }
    while (!process_.canReadLine()) {
        if (!process_.waitForReadyRead(10000)) {
            error_ = "dbus-daemon printed no address: " + QString::fromUtf8(process_.readAllStandardError());
            return;
        }
    }
    address_ = QString::fromUtf8(process_.readLine()).trimmed();
}

PrivateDBusDaemon::~PrivateDBusDaemon() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

} // namespace harkwell::testing
