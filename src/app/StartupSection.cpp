#include "app/StartupSection.h"

#include "app/PanelTexts.h"
#include "app/Style.h"
#include "app/SwitchButton.h"

#include <QHBoxLayout>
#include <QLabel>

namespace harkwell {

using namespace panel;

StartupSection::StartupSection(AppModel& model, PanelParts& parts, QWidget* parent) : Section(model, parts, parent) {
    QWidget* section = this;
    auto* row = new QHBoxLayout(section);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    parts_.startAtLoginLabel = label(panelTexts::startAtLogin.text(), style::calloutFont(), section);
    parts_.startAtLoginSwitch = new SwitchButton(section);
    parts_.startAtLoginSwitch->setAccessibleName(parts_.startAtLoginLabel->text());
    connect(parts_.startAtLoginSwitch, &SwitchButton::clicked, this, [this](bool checked) {
        model_.setStartAtLogin(checked);
        // A failure leaves the switch as things are.
        parts_.startAtLoginSwitch->setChecked(model_.isStartAtLogin());
    });
    parts_.listenAtStartLabel = label(panelTexts::listenAtStart.text(), style::calloutFont(), section);
    parts_.listenAtStartSwitch = new SwitchButton(section);
    parts_.listenAtStartSwitch->setAccessibleName(parts_.listenAtStartLabel->text());
    connect(parts_.listenAtStartSwitch, &SwitchButton::clicked, this, [this](bool checked) {
        model_.setListenAtStart(checked);
        parts_.listenAtStartSwitch->setChecked(model_.isListenAtStart());
    });
    row->addWidget(parts_.startAtLoginLabel);
    row->addWidget(parts_.startAtLoginSwitch);
    row->addStretch();
    row->addWidget(parts_.listenAtStartLabel);
    row->addWidget(parts_.listenAtStartSwitch);
    follow(model_, this, &StartupSection::refresh,
           {&AppModel::isStartAtLoginChanged, &AppModel::isListenAtStartChanged});
}

void StartupSection::refresh() {
    parts_.startAtLoginSwitch->setChecked(model_.isStartAtLogin());
    parts_.listenAtStartSwitch->setChecked(model_.isListenAtStart());
}

} // namespace harkwell
