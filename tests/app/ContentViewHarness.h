#pragma once

// The fixture of the control panel's tests: a model over fakes and the panel over it.

#include "ModelHarness.h"
#include "app/ContentView.h"

#include <QApplication>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace harkwell::testing {

// Settings whose permission setup is complete, with more keys.
inline QByteArray setUp(const QByteArray& more = {}) { return R"({"permissionSetupComplete": true)" + more + "}"; }

inline QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int index = 0; index < box.count(); ++index) {
        items.append(box.itemText(index));
    }
    return items;
}

class ContentViewTest : public PanelTest {
protected:
    ~ContentViewTest() override { airPods->release(); }

    void makeView(const QByteArray& settings) {
        view.reset();
        model.reset();
        model = std::make_unique<AppModel>(dependenciesWith(settings));
        view = std::make_unique<ContentView>(*model);
    }
    const ContentView::Parts& parts() const { return view->parts(); }
    // Shows the panel active with the phrase field focused.
    QLineEdit& focusedField() {
        view->show();
        QApplication::setActiveWindow(view.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        parts().phraseField->setFocus();
        return *parts().phraseField;
    }
    QJsonObject storedSettings() const { return settingsIn(directory.filePath("Harkwell.json")); }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<ContentView> view;
};

} // namespace harkwell::testing
