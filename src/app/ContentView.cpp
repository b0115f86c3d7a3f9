#include "app/ContentView.h"

#include "app/ElidedLabel.h"
#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/SegmentedPicker.h"
#include "app/Style.h"
#include "app/SwitchButton.h"
#include "model/AppModel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

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

// A box on the text background with a rounded 1-pixel outline in the separator colour.
class RoundedFrame : public QWidget {
public:
    explicit RoundedFrame(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(style::separatorColor(palette()), 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
};

QLabel* label(const QString& text, const QFont& font, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setFont(font);
    return result;
}

void useSecondaryColor(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, style::secondaryTextColor(palette));
    widget->setPalette(palette);
}

QVBoxLayout* column(QWidget* owner, int spacing) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// Refuses an edit that would make the phrase field longer than the draft may be, and hands what
// it inserted to onTooLong (the inserted text, its position and how much it replaced), later, once
// the field is back as it was; QLineEdit's own limit would cut a paste anywhere, inside a phrase.
class DraftLengthValidator final : public QValidator {
public:
    using TooLong = std::function<void(const QString& inserted, int position, int replacedLength)>;

    DraftLengthValidator(QObject* parent, TooLong onTooLong) : QValidator(parent), onTooLong_(std::move(onTooLong)) {}

    State validate(QString& input, int&) const override {
        if (input.size() <= AppModel::maximumWakePhraseDraftLength) {
            accepted_ = input;
            return Acceptable;
        }
        // The field goes back to the text accepted last: what differs between the two is the edit.
        const qsizetype shorter = std::min(input.size(), accepted_.size());
        qsizetype start = 0;
        while (start < shorter && input[start] == accepted_[start]) {
            ++start;
        }
        qsizetype end = 0;
        while (end < shorter - start && input[input.size() - 1 - end] == accepted_[accepted_.size() - 1 - end]) {
            ++end;
        }
        QMetaObject::invokeMethod(
            parent(),
            [onTooLong = onTooLong_, inserted = input.mid(start, input.size() - start - end), position = int(start),
             replaced = int(accepted_.size() - start - end)] { onTooLong(inserted, position, replaced); },
            Qt::QueuedConnection);
        return Invalid;
    }

private:
    TooLong onTooLong_;
    mutable QString accepted_;
};

// The meter's reading of a peak (0 to 1 of full scale): -60 dBFS and below empty, full scale full.
int meterValue(double peak) {
    if (peak <= 0) {
        return 0;
    }
    return std::clamp(int(std::lround((20 * std::log10(peak) + 60) / 60 * 100)), 0, 100);
}

} // namespace

ContentView::ContentView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedSize(fixedSize);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setFocusPolicy(Qt::ClickFocus); // holds the focus when no control has it

    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(18, 18, 18, 18);
    screens_ = new QStackedLayout;
    body->addLayout(screens_);
    parts_.permissionSetup = buildPermissionSetup();
    parts_.mainControls = buildMainControls();
    screens_->addWidget(parts_.permissionSetup);
    screens_->addWidget(parts_.mainControls);

    // Each part of the panel shows what the model's signals about it say, and follows only those:
    // a countdown's tick or a keystroke leaves the rest of the panel, the microphone list
    // included, as it is.
    using Signal = void (AppModel::*)();
    const std::vector<std::pair<void (ContentView::*)(), std::vector<Signal>>> sections{
        {&ContentView::refreshScreens,
         {&AppModel::isPermissionSetupCompleteChanged, &AppModel::permissionStatusTextChanged,
          &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshDetectionToggle,
         {&AppModel::isDetectionEnabledChanged, &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshDetectionOptions,
         {&AppModel::detectionSensitivityChanged, &AppModel::returnAfterQuietSecondsChanged,
          &AppModel::recognizerNoticeChanged}},
        {&ContentView::refreshReturnTitle, {&AppModel::secondsUntilReturnChanged}},
        {&ContentView::refreshMicrophoneChoice,
         {&AppModel::microphoneInputsChanged, &AppModel::microphoneSourceChanged}},
        {&ContentView::refreshPhraseEntry,
         {&AppModel::wakePhraseDraftChanged, &AppModel::canAddWakePhraseChanged, &AppModel::wakePhraseHintChanged,
          &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshPhraseList, {&AppModel::activeWakePhrasesChanged, &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshModePicker, {&AppModel::selectedModeChanged, &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshShortcut,
         {&AppModel::hotKeySettingChanged, &AppModel::isRecordingShortcutChanged, &AppModel::isCommandRunningChanged}},
        {&ContentView::refreshStartupSwitches, {&AppModel::isStartAtLoginChanged, &AppModel::isListenAtStartChanged}},
        {&ContentView::refreshErrorBanners, {&AppModel::errorMessageChanged}},
    };
    for (const auto& [refresh, changes] : sections) {
        for (const Signal change : changes) {
            connect(&model_, change, this, refresh);
        }
        (this->*refresh)();
    }
    inputsTimer_.setInterval(inputsInterval);
    connect(&inputsTimer_, &QTimer::timeout, &model_, &AppModel::refreshMicrophoneInputs);
    meterTimer_.setInterval(meterInterval);
    connect(&meterTimer_, &QTimer::timeout, this,
            [this] { parts_.levelMeter->setValue(meterValue(model_.inputLevel())); });
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.refreshMicrophoneInputs();
    inputsTimer_.start();
    updateMeter();
}

void ContentView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    inputsTimer_.stop();
    updateMeter();
    model_.panelDidClose();
}

QWidget* ContentView::buildHeader(int screen) {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(label(QStringLiteral("Harkwell"), style::systemFont(22, QFont::DemiBold), header));
    row->addLayout(titles);
    row->addStretch();

    auto* quit = new QToolButton(header);
    quit->setAutoRaise(true);
    quit->setIcon(icons::icon("power", palette().color(QPalette::WindowText)));
    quit->setIconSize(QSize(16, 16));
    quit->setToolTip(panelTexts::quit.text());
    quit->setAccessibleName(quit->toolTip());
    connect(quit, &QToolButton::clicked, this, &ContentView::quitRequested);
    row->addWidget(quit);
    parts_.quitButtons[screen] = quit;
    return header;
}

QLabel* ContentView::buildErrorBanner(int screen) {
    auto* banner = label(QString(), style::calloutFont(), nullptr);
    banner->setWordWrap(true);
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    banner->setTextInteractionFlags(Qt::TextSelectableByMouse);
    banner->hide();
    parts_.errorBanners[screen] = banner;
    return banner;
}

QWidget* ContentView::buildPermissionSetup() {
    auto* screen = new QWidget;
    auto* layout = column(screen, 18);
    layout->addWidget(buildHeader(0));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(10);
    parts_.permissionTitle = label(panelTexts::permissionTitle.text(), style::headlineFont(), screen);
    parts_.permissionExplanation = label(panelTexts::permissionExplanation.text(), style::calloutFont(), screen);
    parts_.permissionExplanation->setWordWrap(true);
    useSecondaryColor(parts_.permissionExplanation);
    texts->addWidget(parts_.permissionTitle);
    texts->addWidget(parts_.permissionExplanation);
    layout->addLayout(texts);

    auto* button = new QPushButton(screen);
    button->setIcon(icons::icon("shield-check", palette().color(QPalette::HighlightedText)));
    button->setIconSize(QSize(16, 16));
    button->setMinimumWidth(140);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The prominent style: the accent colour, faded while a check runs.
    const QColor accent = style::accentColor(palette());
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: palette(highlight); color: palette(highlighted-text);"
                       " border: none; border-radius: 6px; padding: 6px 14px; font-weight: 600; }"
                       " QPushButton:disabled { background: rgba(%1, %2, %3, 55%); }")
            .arg(accent.red())
            .arg(accent.green())
            .arg(accent.blue()));
    connect(button, &QPushButton::clicked, this, [this] { model_.preparePermissions(); });
    parts_.permissionButton = button;
    layout->addWidget(button, 0, Qt::AlignLeft);

    layout->addWidget(buildErrorBanner(0));
    layout->addStretch();
    return screen;
}

QWidget* ContentView::buildMainControls() {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    parts_.scrollArea = scroll;

    auto* controls = new QWidget;
    controls->setAutoFillBackground(false);
    auto* layout = column(controls, 14);
    layout->addWidget(buildHeader(1));
    layout->addWidget(buildDetectionToggle());
    layout->addWidget(buildDetectionOptions());
    layout->addWidget(buildPhraseForm());
    layout->addWidget(buildModePicker());
    layout->addWidget(buildShortcutPicker());
    layout->addWidget(buildStartupSwitches());
    layout->addWidget(buildErrorBanner(1));
    layout->addStretch();
    scroll->setWidget(controls);
    return scroll;
}

QWidget* ContentView::buildDetectionToggle() {
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

QWidget* ContentView::buildDetectionOptions() {
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
    layout->addWidget(buildMicrophoneChoice());
    return options;
}

void ContentView::refreshDetectionOptions() {
    parts_.recognizerNotice->setText(model_.recognizerNotice());
    parts_.recognizerNotice->setVisible(!model_.recognizerNotice().isEmpty());
    parts_.sensitivityPicker->setSelectedIndex(int(model_.detectionSensitivity()));
    parts_.sensitivityHint->setVisible(model_.detectionSensitivity() == DetectionSensitivity::low);
    parts_.returnChoice->setCurrentIndex(parts_.returnChoice->findData(model_.returnAfterQuietSeconds()));
}

void ContentView::refreshReturnTitle() {
    // While a return is pending its title tells when, in the same place.
    const auto secondsLeft = model_.secondsUntilReturn();
    parts_.returnTitle->setText(secondsLeft ? panelTexts::returnPending.text().arg(*secondsLeft)
                                            : panelTexts::returnTitle.text());
}

QWidget* ContentView::buildMicrophoneChoice() {
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
    connect(parts_.microphoneChoice, &QComboBox::activated, this, &ContentView::chooseMicrophone);
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

void ContentView::refreshMicrophoneChoice() {
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

void ContentView::chooseMicrophone(int index) {
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

void ContentView::answerBluetoothQuestion(bool confirmed) {
    const QString chosen = std::exchange(pendingMicrophone_, QString());
    parts_.bluetoothQuestion->hide();
    if (confirmed) {
        model_.setMicrophoneSource(chosen);
    }
    refreshMicrophoneChoice();
}

void ContentView::updateMeter() {
    const bool isMetering = isVisible() && model_.isDetectionEnabled();
    parts_.levelMeter->setVisible(model_.isDetectionEnabled());
    if (isMetering && !meterTimer_.isActive()) {
        meterTimer_.start();
    } else if (!isMetering) {
        meterTimer_.stop();
        parts_.levelMeter->setValue(0);
    }
}

QWidget* ContentView::buildPhraseForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 8);

    auto* titleRow = new QHBoxLayout;
    parts_.phrasesTitle = label(panelTexts::phrasesTitle.text(), style::headlineFont(), form);
    parts_.phraseCount = label(QString(), style::captionFont(), form);
    useSecondaryColor(parts_.phraseCount);
    titleRow->addWidget(parts_.phrasesTitle);
    titleRow->addStretch();
    titleRow->addWidget(parts_.phraseCount);
    layout->addLayout(titleRow);

    auto* entryRow = new QHBoxLayout;
    entryRow->setSpacing(8);
    auto* field = new QLineEdit(form);
    field->setObjectName(QStringLiteral("phraseField"));
    field->setFont(style::systemFont(18, QFont::Medium));
    field->setPlaceholderText(panelTexts::phrasePlaceholder.text());
    field->setAccessibleName(parts_.phrasesTitle->text());
    field->setClearButtonEnabled(false);
    // No limit of the field's own: the validator refuses what does not fit before it is laid out.
    field->setMaxLength(std::numeric_limits<int>::max());
    field->setValidator(new DraftLengthValidator(field, [this](const QString& inserted, int position, int replaced) {
        model_.setWakePhraseDraft(parts_.phraseField->text()); // a clear() of the field is no edit
        model_.pasteIntoWakePhraseDraft(inserted, position, replaced);
    }));
    connect(field, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setWakePhraseDraft(text); });
    // Return adds the draft and leaves the focus where it is.
    connect(field, &QLineEdit::returnPressed, this, [this] { model_.addWakePhraseFromDraft(); });
    parts_.phraseField = field;

    auto* add = new QToolButton(form);
    add->setIcon(icons::icon("plus", palette().color(QPalette::ButtonText)));
    add->setIconSize(QSize(14, 14));
    add->setFixedSize(26, 26);
    add->setToolTip(panelTexts::addPhrase.text());
    add->setAccessibleName(add->toolTip());
    connect(add, &QToolButton::clicked, this, [this] {
        model_.addWakePhraseFromDraft();
        parts_.phraseField->clearFocus();
    });
    parts_.addButton = add;
    entryRow->addWidget(field, 1);
    entryRow->addWidget(add, 0, Qt::AlignVCenter);
    layout->addLayout(entryRow);

    parts_.phraseHint = label(QString(), style::captionFont(), form);
    parts_.phraseHint->setWordWrap(true);
    useSecondaryColor(parts_.phraseHint);
    parts_.phraseHint->hide();
    layout->addWidget(parts_.phraseHint);

    parts_.emptyPhrasesText = label(panelTexts::noPhrases.text(), style::captionFont(), form);
    parts_.emptyPhrasesText->setWordWrap(true);
    useSecondaryColor(parts_.emptyPhrasesText);
    layout->addWidget(parts_.emptyPhrasesText);

    // Many phrases scroll within the list's own area, so that the mode and the shortcut below it
    // stay in view.
    auto* scroll = new QScrollArea(form);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    parts_.phraseScrollArea = scroll;
    parts_.phraseList = new QWidget;
    parts_.phraseList->setAutoFillBackground(false);
    rowsLayout_ = column(parts_.phraseList, 4);
    scroll->setWidget(parts_.phraseList);
    layout->addWidget(scroll);
    return form;
}

void ContentView::rebuildPhraseRows() {
    // Later: the click of a row's own remove button may be what got here.
    for (const PhraseRow& row : rows_) {
        QWidget* frame = row.phrase->parentWidget();
        rowsLayout_->removeWidget(frame);
        frame->hide();
        frame->deleteLater();
    }
    rows_.clear();
    shownPhrases_ = model_.activeWakePhrases();
    const QColor secondary = style::secondaryTextColor(palette());
    for (const QString& phrase : shownPhrases_) {
        auto* frame = new RoundedFrame(parts_.phraseList);
        auto* row = new QHBoxLayout(frame);
        row->setContentsMargins(8, 5, 8, 5);
        row->setSpacing(8);
        auto* text = new ElidedLabel(frame);
        text->setFont(style::systemFont(12, QFont::Medium));
        text->setText(phrase);
        auto* remove = new QToolButton(frame);
        remove->setAutoRaise(true);
        remove->setIcon(icons::icon("remove", secondary));
        remove->setIconSize(QSize(14, 14));
        remove->setToolTip(panelTexts::removePhrase.text());
        remove->setAccessibleName(remove->toolTip());
        connect(remove, &QToolButton::clicked, this, [this, phrase] { model_.removeWakePhrase(phrase); });
        row->addWidget(text);
        row->addStretch();
        row->addWidget(remove);
        rowsLayout_->addWidget(frame);
        rows_.append({text, remove});
    }
    fitPhraseScrollArea();
}

void ContentView::fitPhraseScrollArea() {
    int height = 0;
    for (int index = 0; index < std::min<int>(rows_.size(), visiblePhraseRows); ++index) {
        height += rows_[index].phrase->parentWidget()->sizeHint().height() + (index > 0 ? rowsLayout_->spacing() : 0);
    }
    parts_.phraseScrollArea->setFixedHeight(height);
}

QWidget* ContentView::buildModePicker() {
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

QWidget* ContentView::buildShortcutPicker() {
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
    return section;
}

// Start at login and, beside it, listening at start, on one row: each label before its switch.
QWidget* ContentView::buildStartupSwitches() {
    auto* section = new QWidget;
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
    return section;
}

void ContentView::refreshScreens() {
    const bool running = model_.isCommandRunning();
    screens_->setCurrentIndex(model_.isPermissionSetupComplete() ? 1 : 0);
    parts_.permissionButton->setText(running ? model_.permissionStatusText() : panelTexts::permissionButton.text());
    parts_.permissionButton->setEnabled(!running);
}

void ContentView::refreshDetectionToggle() {
    const bool detecting = model_.isDetectionEnabled();
    parts_.detectionSwitch->setChecked(detecting);
    parts_.detectionSwitch->setEnabled(!model_.isCommandRunning());
    parts_.detectionIcon->setPixmap(
        icons::pixmap(detecting ? "mic-fill" : "mic", palette().color(QPalette::WindowText), 16, devicePixelRatioF()));
    updateMeter();
}

void ContentView::refreshPhraseEntry() {
    if (parts_.phraseField->text() != model_.wakePhraseDraft()) {
        parts_.phraseField->setText(model_.wakePhraseDraft());
    }
    parts_.addButton->setEnabled(model_.canAddWakePhrase() && !model_.isCommandRunning());
    parts_.phraseHint->setText(model_.wakePhraseHint());
    parts_.phraseHint->setVisible(!model_.wakePhraseHint().isEmpty());
}

void ContentView::refreshPhraseList() {
    const QStringList& phrases = model_.activeWakePhrases();
    const int listened = model_.listenedWakePhraseCount();
    parts_.phraseCount->setText(listened < model_.hearableWakePhraseCount()
                                    ? panelTexts::phraseCountLimited.text().arg(listened).arg(phrases.size())
                                    : panelTexts::phraseCount.text().arg(listened));
    if (phrases != shownPhrases_ || rows_.size() != phrases.size()) {
        rebuildPhraseRows();
    }
    for (const PhraseRow& row : rows_) {
        row.removeButton->setEnabled(!model_.isCommandRunning());
    }
    parts_.emptyPhrasesText->setVisible(phrases.isEmpty());
    parts_.phraseScrollArea->setVisible(!phrases.isEmpty());
}

void ContentView::refreshModePicker() {
    parts_.modePicker->setSelectedIndex(pickerIndex(model_.selectedMode()));
    parts_.modePicker->setEnabled(!model_.isCommandRunning());
}

void ContentView::refreshShortcut() {
    const bool running = model_.isCommandRunning();
    const bool recording = model_.isRecordingShortcut();
    const auto& shortcut = model_.hotKeySetting();
    parts_.shortcutDisplay->setText(recording  ? panelTexts::shortcutRecording.text()
                                    : shortcut ? QString::fromStdString(shortcut->displayName())
                                               : panelTexts::shortcutNone.text());
    parts_.recordButton->setText(recording ? panelTexts::cancelRecording.text() : panelTexts::recordShortcut.text());
    parts_.recordButton->setEnabled(!running);
    parts_.clearButton->setEnabled(shortcut.has_value() && !running);
}

void ContentView::refreshStartupSwitches() {
    parts_.startAtLoginSwitch->setChecked(model_.isStartAtLogin());
    parts_.listenAtStartSwitch->setChecked(model_.isListenAtStart());
}

void ContentView::refreshErrorBanners() {
    const auto& error = model_.errorMessage();
    // Red for a fault, the text colour for good news.
    const QColor bannerColor = model_.bannerKind() == AppModel::BannerKind::error
                                   ? style::errorColor(palette())
                                   : palette().color(QPalette::WindowText);
    for (QLabel* banner : parts_.errorBanners) {
        banner->setText(error.value_or(QString()));
        QPalette bannerPalette = banner->palette();
        bannerPalette.setColor(QPalette::WindowText, bannerColor);
        banner->setPalette(bannerPalette);
        banner->setVisible(error.has_value());
    }
}

} // namespace harkwell
