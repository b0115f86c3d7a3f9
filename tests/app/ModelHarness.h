#pragma once

// The fixture of the panels' tests: the model's fakes, the settings file it starts from, English.

#include "EventLoop.h"
#include "ModelFakes.h"
#include "locale/AppMetadata.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace harkwell::testing {

// Chooses the interface language until the fixture ends.
inline void useLanguage(const std::string& locale) {
    setAppMetadataLookupForTesting([locale](std::string_view key) -> std::optional<std::string> {
        return key == "HarkwellLocale" ? std::optional<std::string>(locale) : std::nullopt;
    });
}

class PanelTest : public ::testing::Test, public FakeModelParts {
protected:
    PanelTest() { useLanguage("en-US"); }
    ~PanelTest() override { setAppMetadataLookupForTesting(nullptr); }

    // The fakes and a settings file with this JSON content.
    AppModel::Dependencies dependenciesWith(const QByteArray& settingsJson) {
        const QString path = directory.filePath("Harkwell.json");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(settingsJson) == settingsJson.size());
        file.close();
        return dependencies(path);
    }

    QTemporaryDir directory;
};

} // namespace harkwell::testing
