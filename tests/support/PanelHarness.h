#pragma once

// The fixture of the panels' tests: the model's fakes, the settings file it starts from, English.

#include "EventLoop.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace harkwell::testing {

class PanelTest : public ::testing::Test, public FakeModelParts {
protected:
    // The fakes and a settings file with this JSON content.
    AppModel::Dependencies dependenciesWith(const QByteArray& settingsJson) {
        const QString path = directory.filePath("Harkwell.json");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(settingsJson) == settingsJson.size());
        file.close();
        return dependencies(path);
    }

    TestLocale language;
    QTemporaryDir directory;
};

} // namespace harkwell::testing
