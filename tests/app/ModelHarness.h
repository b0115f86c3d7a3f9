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

class ModelHarness : public FakeModelParts {
public:
    ~ModelHarness() { airPods->release(); }

    // The fakes and a settings file with this JSON content, for a model made by the caller.
    AppModel::Dependencies dependenciesWith(const QByteArray& settingsJson) {
        const QString path = directory.filePath(QString("Harkwell-%1.json").arg(++generation));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(settingsJson);
        }
        file.close();
        return FakeModelParts::dependencies(path);
    }

    std::unique_ptr<AppModel> makeModel(const QByteArray& settingsJson) {
        return std::make_unique<AppModel>(dependenciesWith(settingsJson));
    }

    QTemporaryDir directory;
    int generation = 0;
};

} // namespace harkwell::testing
