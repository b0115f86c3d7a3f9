#include "app/ModeShortcutSection.h"

#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/SegmentedPicker.h"
#include "app/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

namespace harkwell {
namespace {

// The modes in the picker's order.
constexpr std::array<ListeningMode::Value, 3> pickerModes{ListeningMode::anc, ListeningMode::transparency,
                                                          ListeningMode::normal};

int pickerIndex(ListeningMode mode) {
    for (int index = 0; index < int(pickerModes.size()); ++index) {
        if (pickerModes[index] == mode) {
            return index;
        }
    }
    return -1;
}

} // namespace

using namespace panel;

ModeShortcutSection::ModeShortcutSection(AppModel& model, PanelParts& parts, QWidget* parent)
    : Section(model, parts, parent) {
    auto* sections = column(this, 14);
    sections->addWidget(buildModePicker());
    sections->addWidget(buildShortcutPicker());
    follow(model_, this, &ModeShortcutSection::refreshModePicker,
           {&AppModel::selectedModeChanged, &AppModel::isCommandRunningChanged});
    follow(
        model_, this, &ModeShortcutSection::refreshShortcut,
        {&AppModel::hotKeySettingChanged, &AppModel::isRecordingShortcutChanged, &AppModel::isCommandRunningChanged});
}

QWidget* ModeShortcutSection::buildModePicker() {
    auto* section = new QWidget;
    auto* layout = column(section, 8);
    parts_.modeTitle = label(panelTexts::modeTitle.text(), style::headlineFont(), section);
    layout->addWidget(parts_.modeTitle);

    const QColor color = palette().color(QPalette::ButtonText);
    const QColor selected = palette().color(QPalette::HighlightedText);
    parts_.modePicker = new SegmentedPicker(
        {
            {icons::icon("ear-waveform", color, selected), panelTexts::modeAnc.text()},
            {icons::icon("ear", color, selected), panelTexts::modeTransparency.text()},
            {icons::icon("speaker-off", color, selected), panelTexts::modeOff.text()},
        },
        section);
    parts_.modePicker->setAccessibleName(parts_.modeTitle->text());
    parts_.modePicker->onChosen = [this](int index) { model_.setAirPodsMode(pickerModes.at(index)); };
    layout->addWidget(parts_.modePicker);
    return section;
}

QWidget* ModeShortcutSection::buildShortcutPicker() {
    auto* section = new QWidget;
    auto* layout = column(section, 8);
    parts_.shortcutTitle = label(panelTexts::shortcutTitle.text(), style::headlineFont(), section);
    layout->addWidget(parts_.shortcutTitle);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* display = new RoundedFrame(section);
    display->setFixedSize(150, 28); // room for "Super+Shift+F12"
    auto* displayLayout = new QHBoxLayout(display);
    displayLayout->setContentsMargins(4, 0, 4, 0);
    parts_.shortcutDisplay = label(QString(), style::monospacedFont(12, QFont::Medium), display);
    parts_.shortcutDisplay->setAlignment(Qt::AlignCenter);
    displayLayout->addWidget(parts_.shortcutDisplay);

    parts_.recordButton = new QPushButton(section);
    connect(parts_.recordButton, &QPushButton::clicked, this, [this] {
        if (model_.isRecordingShortcut()) {
            model_.cancelShortcutRecording();
        } else {
            model_.startShortcutRecording();
        }
    });
    parts_.clearButton = new QPushButton(panelTexts::clearShortcut.text(), section);
    connect(parts_.clearButton, &QPushButton::clicked, this, [this] { model_.clearShortcut(); });

    row->addWidget(display);
    row->addWidget(parts_.recordButton);
    row->addWidget(parts_.clearButton);
    row->addStretch();
    layout->addLayout(row);

    // Where the desktop lets no app register the shortcut: what to do instead.
    parts_.shortcutNote = label(QString(), style::captionFont(), section);
    parts_.shortcutNote->setWordWrap(true);
    useSecondaryColor(parts_.shortcutNote);
    layout->addWidget(parts_.shortcutNote);
    parts_.shortcutConfigLine = new QLineEdit(section);
    parts_.shortcutConfigLine->setReadOnly(true);
    parts_.shortcutConfigLine->setFont(style::monospacedFont(11, QFont::Normal));
    layout->addWidget(parts_.shortcutConfigLine);
    parts_.bindInDesktopButton = new QPushButton(panelTexts::bindInGnomeSettings.text(), section);
    connect(parts_.bindInDesktopButton, &QPushButton::clicked, this,
            [this] { model_.bindShortcutInDesktopSettings(); });
    layout->addWidget(parts_.bindInDesktopButton, 0, Qt::AlignLeft);
    return section;
}

void ModeShortcutSection::refreshModePicker() {
    parts_.modePicker->setSelectedIndex(pickerIndex(model_.selectedMode()));
    parts_.modePicker->setEnabled(!model_.isCommandRunning());
}

void ModeShortcutSection::refreshShortcut() {
    const bool running = model_.isCommandRunning();
    const bool recording = model_.isRecordingShortcut();
    const auto& shortcut = model_.hotKeySetting();
    parts_.shortcutDisplay->setText(recording  ? panelTexts::shortcutRecording.text()
                                    : shortcut ? QString::fromStdString(shortcut->displayName())
                                               : panelTexts::shortcutNone.text());
    parts_.recordButton->setText(recording ? panelTexts::cancelRecording.text() : panelTexts::recordShortcut.text());
    parts_.recordButton->setEnabled(!running);
    parts_.clearButton->setEnabled(shortcut.has_value() && !running);
    parts_.shortcutNote->setText(model_.shortcutDesktopNote());
    parts_.shortcutNote->setVisible(!model_.shortcutDesktopNote().isEmpty());
    const QString configLine = model_.shortcutConfigLine();
    parts_.shortcutConfigLine->setText(configLine);
    parts_.shortcutConfigLine->setVisible(!configLine.isEmpty());
    parts_.bindInDesktopButton->setVisible(model_.canBindShortcutInDesktopSettings());
}

} // namespace harkwell
