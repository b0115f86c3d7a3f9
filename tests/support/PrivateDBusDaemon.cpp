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

    if (!process_.start("dbus-daemon", {"--config-file=" + configPath.toStdString(), "--nofork",
                                        "--print-address=" + std::to_string(process_.reportDescriptor())})) {
        error_ = "cannot start dbus-daemon: " + QString::fromStdString(process_.error());
        return;
    }
    const std::string address = process_.readReportLine(std::chrono::seconds(10));
    if (address.empty()) {
        error_ = QString::fromStdString("dbus-daemon printed no address: " + process_.error() + ": " + process_.log());
        return;
    }
    address_ = QString::fromStdString(address).trimmed();
}

} // namespace harkwell::testing
