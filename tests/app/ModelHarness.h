#pragma once

// An application model over fakes, with the settings it starts from, for the panels' tests.

#include "EventLoop.h"
#include "ModelFakes.h"
#include "locale/AppMetadata.h"
#include "model/AppModel.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

namespace harkwell::testing {

// Chooses the interface language for as long as it lives.
class InterfaceLanguage {
public:
    explicit InterfaceLanguage(std::string locale) {
        setAppMetadataLookupForTesting([locale](std::string_view key) -> std::optional<std::string> {
            return key == "HarkwellLocale" ? std::optional<std::string>(locale) : std::nullopt;
        });
    }
    ~InterfaceLanguage() { setAppMetadataLookupForTesting(nullptr); }
    InterfaceLanguage(const InterfaceLanguage&) = delete;
    InterfaceLanguage& operator=(const InterfaceLanguage&) = delete;
};

class ModelHarness {
public:
    ~ModelHarness() { airPods->release(); }

    // The fakes and a settings file with this JSON content, for a model made by the caller.
    AppModel::Dependencies dependencies(const QByteArray& settingsJson) {
        const QString path = directory.filePath(QString("Harkwell-%1.json").arg(++generation));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(settingsJson);
        }
        file.close();
        AppModel::Dependencies result;
        result.airPods = airPods;
        result.hotKeyController = std::make_unique<HotKeyController>(std::make_unique<FakeHotKeyBackend>(hotKeys));
        result.permissions = permissions;
        result.detectorFactory = [log = detectors](const std::string&) { return std::make_unique<FakeDetector>(log); };
        result.keyMonitor = std::make_unique<ApplicationKeyEventMonitor>();
        result.settings = std::make_unique<SettingsStore>(path);
        return result;
    }

    std::unique_ptr<AppModel> makeModel(const QByteArray& settingsJson) {
        return std::make_unique<AppModel>(dependencies(settingsJson));
    }

    QTemporaryDir directory;
    int generation = 0;
    std::shared_ptr<FakeAirPods> airPods = std::make_shared<FakeAirPods>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<FakeDetector::Log> detectors = std::make_shared<FakeDetector::Log>();
    std::shared_ptr<FakeHotKeyBackend::Log> hotKeys = std::make_shared<FakeHotKeyBackend::Log>();
};

} // namespace harkwell::testing
