#include "app/DetectionSection.h"

#include "app/ElidedLabel.h"
#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/SegmentedPicker.h"
#include "app/Style.h"
#include "app/SwitchButton.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace harkwell {
namespace {

// The meter's reading of a peak (0 to 1 of full scale): -60 dBFS and below empty, full scale full.
int meterValue(double peak) {
    if (peak <= 0) {
        return 0;
    }
    return std::clamp(int(std::lround((20 * std::log10(peak) + 60) / 60 * 100)), 0, 100);
}

} // namespace

using namespace panel;

DetectionSection::DetectionSection(AppModel& model, PanelParts& parts, QWidget* parent)
    : Section(model, parts, parent) {
    auto* layout = column(this, 14);
    layout->addWidget(buildDetectionToggle());
    layout->addWidget(buildDetectionOptions());
    follow(model_, this, &DetectionSection::refreshDetectionToggle,
           {&AppModel::isDetectionEnabledChanged, &AppModel::isCommandRunningChanged});
    follow(model_, this, &DetectionSection::refreshDetectionOptions,
           {&AppModel::detectionSensitivityChanged, &AppModel::returnAfterQuietSecondsChanged,
            &AppModel::recognizerNoticeChanged, &AppModel::mediaOnCallChanged});
    follow(model_, this, &DetectionSection::refreshRecentCalls, {&AppModel::recentCallsChanged});
    follow(model_, this, &DetectionSection::refreshReturnTitle, {&AppModel::secondsUntilReturnChanged});
    follow(model_, this, &DetectionSection::refreshMicrophoneChoice,
           {&AppModel::microphoneInputsChanged, &AppModel::microphoneSourceChanged});
    inputsTimer_.setInterval(inputsInterval);
    connect(&inputsTimer_, &QTimer::timeout, &model_, &AppModel::refreshMicrophoneInputs);
    meterTimer_.setInterval(meterInterval);
    connect(&meterTimer_, &QTimer::timeout, this,
            [this] { parts_.levelMeter->setValue(meterValue(model_.inputLevel())); });
}

void DetectionSection::setPanelShown(bool shown) {
    isPanelShown_ = shown;
    if (shown) {
        model_.refreshMicrophoneInputs();
        inputsTimer_.start();
    } else {
        inputsTimer_.stop();
    }
    updateMeter();
}

QWidget* DetectionSection::buildDetectionToggle() {
    auto* toggle = new QWidget;
    auto* row = new QHBoxLayout(toggle);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    parts_.detectionIcon = new QLabel(toggle);
    parts_.detectionIcon->setFixedSize(16, 16);
    parts_.detectionLabel = label(panelTexts::detection.text(), style::headlineFont(), toggle);
    parts_.detectionSwitch = new SwitchButton(toggle);
    parts_.detectionSwitch->setAccessibleName(parts_.detectionLabel->text());
    connect(parts_.detectionSwitch, &SwitchButton::clicked, this, [this](bool checked) {
        model_.setDetectionEnabled(checked);
        // The model may have refused; the switch shows what it decided.
        parts_.detectionSwitch->setChecked(model_.isDetectionEnabled());
    });
    row->addWidget(parts_.detectionIcon);
    row->addWidget(parts_.detectionLabel);
    row->addStretch();
    row->addWidget(parts_.detectionSwitch);
    return toggle;
}

QWidget* DetectionSection::buildDetectionOptions() {
    auto* options = new QWidget;
    auto* layout = column(options, 6);

    // Why listening goes on with the basic recogniser alone, when it does.
    parts_.recognizerNotice = label(QString(), style::captionFont(), options);
    parts_.recognizerNotice->setObjectName(QStringLiteral("recognizerNotice"));
    parts_.recognizerNotice->setWordWrap(true);
    useSecondaryColor(parts_.recognizerNotice);
    parts_.recognizerNotice->hide();
    layout->addWidget(parts_.recognizerNotice);

    auto* sensitivityRow = new QHBoxLayout;
    parts_.sensitivityTitle = label(panelTexts::sensitivityTitle.text(), style::calloutFont(), options);
    parts_.sensitivityPicker = new SegmentedPicker({{QIcon(), panelTexts::sensitivityLow.text()},
                                                    {QIcon(), panelTexts::sensitivityMedium.text()},
                                                    {QIcon(), panelTexts::sensitivityHigh.text()}},
                                                   options);
    parts_.sensitivityPicker->setFixedWidth(210);
    parts_.sensitivityPicker->setAccessibleName(parts_.sensitivityTitle->text());
    parts_.sensitivityPicker->onChosen = [this](int index) {
        model_.setDetectionSensitivity(DetectionSensitivity::Value(index));
    };
    sensitivityRow->addWidget(parts_.sensitivityTitle);
    sensitivityRow->addStretch();
    sensitivityRow->addWidget(parts_.sensitivityPicker);
    layout->addLayout(sensitivityRow);
    parts_.sensitivityHint = label(panelTexts::sensitivityLowHint.text(), style::captionFont(), options);
    parts_.sensitivityHint->setObjectName(QStringLiteral("sensitivityHint"));
    parts_.sensitivityHint->setAlignment(Qt::AlignRight);
    useSecondaryColor(parts_.sensitivityHint);
    parts_.sensitivityHint->hide();
    layout->addWidget(parts_.sensitivityHint);

    auto* returnRow = new QHBoxLayout;
    parts_.returnTitle = label(panelTexts::returnTitle.text(), style::calloutFont(), options);
    parts_.returnChoice = new QComboBox(options);
    for (const int seconds : AppModel::returnAfterQuietChoices) {
        parts_.returnChoice->addItem(
            seconds == 0 ? panelTexts::returnOff.text() : panelTexts::returnAfter.text().arg(seconds), seconds);
    }
    parts_.returnChoice->setFixedWidth(110);
    parts_.returnChoice->setAccessibleName(parts_.returnTitle->text());
    connect(parts_.returnChoice, &QComboBox::activated, this,
            [this](int index) { model_.setReturnAfterQuietSeconds(parts_.returnChoice->itemData(index).toInt()); });
    returnRow->addWidget(parts_.returnTitle);
    returnRow->addStretch();
    returnRow->addWidget(parts_.returnChoice);
    layout->addLayout(returnRow);

    auto* mediaRow = new QHBoxLayout;
    parts_.mediaTitle = label(panelTexts::mediaTitle.text(), style::calloutFont(), options);
    parts_.mediaChoice = new QComboBox(options);
    for (const PanelText* text : {&panelTexts::mediaPause, &panelTexts::mediaLower, &panelTexts::mediaLeave}) {
        parts_.mediaChoice->addItem(text->text());
    }
    parts_.mediaChoice->setFixedWidth(150);
    parts_.mediaChoice->setAccessibleName(parts_.mediaTitle->text());
    connect(parts_.mediaChoice, &QComboBox::activated, this,
            [this](int index) { model_.setMediaOnCall(mediaOnCallChoices.at(std::size_t(index))); });
    mediaRow->addWidget(parts_.mediaTitle);
    mediaRow->addStretch();
    mediaRow->addWidget(parts_.mediaChoice);
    layout->addLayout(mediaRow);
    layout->addWidget(buildMicrophoneChoice());
    layout->addWidget(buildRecentCalls());
    return options;
}

QWidget* DetectionSection::buildRecentCalls() {
    parts_.recentCalls = new QWidget;
    auto* layout = column(parts_.recentCalls, 2);
    parts_.recentCallsTitle = label(panelTexts::recentCallsTitle.text(), style::calloutFont(), parts_.recentCalls);
    layout->addWidget(parts_.recentCallsTitle);
    for (auto*& line : parts_.recentCallLines) {
        line = new ElidedLabel(parts_.recentCalls);
        line->setFont(style::captionFont());
        useSecondaryColor(line);
        layout->addWidget(line);
    }
    parts_.recentCalls->hide();
    return parts_.recentCalls;
}

void DetectionSection::refreshRecentCalls() {
    const auto& calls = model_.recentCalls();
    for (qsizetype index = 0; index < AppModel::recentCallLimit; ++index) {
        ElidedLabel* line = parts_.recentCallLines[index];
        if (index < calls.size()) {
            const auto& call = calls[index];
            line->setText(
                panelTexts::recentCall.text().arg(call.at.toString(QStringLiteral("HH:mm")), call.phrase, call.heard));
        }
        line->setVisible(index < calls.size());
    }
    parts_.recentCalls->setVisible(!calls.isEmpty());
}

void DetectionSection::refreshDetectionOptions() {
    parts_.recognizerNotice->setText(model_.recognizerNotice());
    parts_.recognizerNotice->setVisible(!model_.recognizerNotice().isEmpty());
    parts_.sensitivityPicker->setSelectedIndex(int(model_.detectionSensitivity()));
    parts_.sensitivityHint->setVisible(model_.detectionSensitivity() == DetectionSensitivity::low);
    parts_.returnChoice->setCurrentIndex(parts_.returnChoice->findData(model_.returnAfterQuietSeconds()));
    parts_.mediaChoice->setCurrentIndex(int(model_.mediaOnCall()));
}

void DetectionSection::refreshReturnTitle() {
    // While a return is pending its title tells when, in the same place.
    const auto secondsLeft = model_.secondsUntilReturn();
    parts_.returnTitle->setText(secondsLeft ? panelTexts::returnPending.text().arg(*secondsLeft)
                                            : panelTexts::returnTitle.text());
}

QWidget* DetectionSection::buildMicrophoneChoice() {
    auto* section = new QWidget;
    auto* layout = column(section, 4);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    parts_.microphoneTitle = label(panelTexts::microphoneTitle.text(), style::calloutFont(), section);
    parts_.levelMeter = new QProgressBar(section);
    parts_.levelMeter->setRange(0, 100);
    parts_.levelMeter->setTextVisible(false);
    parts_.levelMeter->setFixedSize(40, 6);
    parts_.levelMeter->setAccessibleName(panelTexts::inputLevel.text());
    QSizePolicy keepPlace = parts_.levelMeter->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    parts_.levelMeter->setSizePolicy(keepPlace);
    parts_.microphoneChoice = new QComboBox(section);
    parts_.microphoneChoice->setFixedWidth(230);
    parts_.microphoneChoice->setAccessibleName(parts_.microphoneTitle->text());
    connect(parts_.microphoneChoice, &QComboBox::activated, this, &DetectionSection::chooseMicrophone);
    row->addWidget(parts_.microphoneTitle);
    row->addStretch();
    row->addWidget(parts_.levelMeter, 0, Qt::AlignVCenter);
    row->addWidget(parts_.microphoneChoice);
    layout->addLayout(row);

    parts_.microphoneNotice = label(QString(), style::captionFont(), section);
    parts_.microphoneNotice->setWordWrap(true);
    useSecondaryColor(parts_.microphoneNotice);
    parts_.microphoneNotice->hide();
    layout->addWidget(parts_.microphoneNotice);

    // The question about a Bluetooth input, in the panel itself: a dialog would close the pop-up.
    parts_.bluetoothQuestion = new QWidget(section);
    auto* question = column(parts_.bluetoothQuestion, 6);
    parts_.bluetoothQuestionText = label(QString(), style::captionFont(), parts_.bluetoothQuestion);
    parts_.bluetoothQuestionText->setWordWrap(true);
    question->addWidget(parts_.bluetoothQuestionText);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    parts_.bluetoothCancel = new QPushButton(panelTexts::bluetoothCancel.text(), parts_.bluetoothQuestion);
    parts_.bluetoothConfirm = new QPushButton(panelTexts::bluetoothConfirm.text(), parts_.bluetoothQuestion);
    connect(parts_.bluetoothCancel, &QPushButton::clicked, this, [this] { answerBluetoothQuestion(false); });
    connect(parts_.bluetoothConfirm, &QPushButton::clicked, this, [this] { answerBluetoothQuestion(true); });
    buttons->addWidget(parts_.bluetoothCancel);
    buttons->addWidget(parts_.bluetoothConfirm);
    question->addLayout(buttons);
    parts_.bluetoothQuestion->hide();
    layout->addWidget(parts_.bluetoothQuestion);
    return section;
}

void DetectionSection::refreshMicrophoneChoice() {
    QComboBox& choice = *parts_.microphoneChoice;
    const QSignalBlocker blocker(choice);
    choice.clear();
    choice.addItem(panelTexts::microphoneAutomatic.text(), QString());
    for (const auto& input : model_.microphoneInputs()) {
        choice.addItem(input.isBluetooth ? input.description + ' ' + panelTexts::bluetoothMark.text()
                                         : input.description,
                       input.id);
        choice.setItemData(choice.count() - 1, choice.itemText(choice.count() - 1), Qt::ToolTipRole);
    }
    // A choice that is not there shows as automatic, which is what listening then uses.
    const QString shown = pendingMicrophone_.isEmpty() ? model_.microphoneSource() : pendingMicrophone_;
    choice.setCurrentIndex(std::max(0, choice.findData(shown)));
    const QString& fallback = model_.fallbackMicrophone();
    parts_.microphoneNotice->setText(fallback.isEmpty() ? QString()
                                                        : panelTexts::microphoneFallback.text().arg(fallback));
    parts_.microphoneNotice->setVisible(!fallback.isEmpty());
}

void DetectionSection::chooseMicrophone(int index) {
    const QString id = parts_.microphoneChoice->itemData(index).toString();
    const auto& inputs = model_.microphoneInputs();
    const auto input = std::find_if(inputs.begin(), inputs.end(), [&](const auto& each) { return each.id == id; });
    if (input != inputs.end() && input->isBluetooth && id != model_.microphoneSource()) {
        pendingMicrophone_ = id;
        parts_.bluetoothQuestionText->setText(panelTexts::bluetoothQuestion.text().arg(input->description));
        parts_.bluetoothQuestion->show();
        return;
    }
    pendingMicrophone_.clear();
    parts_.bluetoothQuestion->hide();
    model_.setMicrophoneSource(id);
    refreshMicrophoneChoice();
}

void DetectionSection::answerBluetoothQuestion(bool confirmed) {
    const QString chosen = std::exchange(pendingMicrophone_, QString());
    parts_.bluetoothQuestion->hide();
    if (confirmed) {
        model_.setMicrophoneSource(chosen);
    }
    refreshMicrophoneChoice();
}

void DetectionSection::updateMeter() {
    const bool isMetering = isPanelShown_ && model_.isDetectionEnabled();
    parts_.levelMeter->setVisible(model_.isDetectionEnabled());
    if (isMetering && !meterTimer_.isActive()) {
        meterTimer_.start();
    } else if (!isMetering) {
        meterTimer_.stop();
        parts_.levelMeter->setValue(0);
    }
}

void DetectionSection::refreshDetectionToggle() {
    const bool detecting = model_.isDetectionEnabled();
    parts_.detectionSwitch->setChecked(detecting);
    parts_.detectionSwitch->setEnabled(!model_.isCommandRunning());
    parts_.detectionIcon->setPixmap(
        icons::pixmap(detecting ? "mic-fill" : "mic", palette().color(QPalette::WindowText), 16, devicePixelRatioF()));
    updateMeter();
}

} // namespace harkwell
