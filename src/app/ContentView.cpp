#include "app/ContentView.h"

#include "app/ElidedLabel.h"
#include "app/Icons.h"
#include "app/SegmentedPicker.h"
#include "app/Style.h"
#include "app/SwitchButton.h"
#include "locale/AppLocale.h"
#include "model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
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

    for (auto signal :
         {&AppModel::wakePhraseDraftChanged, &AppModel::activeWakePhrasesChanged, &AppModel::canAddWakePhraseChanged,
          &AppModel::isPermissionSetupCompleteChanged, &AppModel::permissionStatusTextChanged,
          &AppModel::isDetectionEnabledChanged, &AppModel::selectedModeChanged, &AppModel::hotKeySettingChanged,
          &AppModel::isRecordingShortcutChanged, &AppModel::isCommandRunningChanged, &AppModel::errorMessageChanged,
          &AppModel::wakePhraseHintChanged}) {
        connect(&model_, signal, this, &ContentView::refresh);
    }
    refresh();
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
    quit->setToolTip(uiText("종료", "Quit"));
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
    QPalette palette = banner->palette();
    palette.setColor(QPalette::WindowText, style::errorColor(palette));
    banner->setPalette(palette);
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
    parts_.permissionTitle =
        label(uiText("처음 한 번 권한을 준비합니다.", "Set up permissions once."), style::headlineFont(), screen);
    parts_.permissionExplanation =
        label(uiText("마이크, 음성 인식, Bluetooth 권한을 허용하면 다음 실행부터 바로 사용할 수 있습니다.",
                     "Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell."),
              style::calloutFont(), screen);
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
    layout->addWidget(buildPhraseForm());
    layout->addWidget(buildModePicker());
    layout->addWidget(buildShortcutPicker());
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
    parts_.detectionLabel = label(uiText("호출 감지", "Call Detection"), style::headlineFont(), toggle);
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

QWidget* ContentView::buildPhraseForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 8);

    auto* titleRow = new QHBoxLayout;
    parts_.phrasesTitle = label(uiText("호출어", "Call Phrases"), style::headlineFont(), form);
    parts_.phraseCount = label(QString(), style::captionFont(), form);
    useSecondaryColor(parts_.phraseCount);
    titleRow->addWidget(parts_.phrasesTitle);
    titleRow->addStretch();
    titleRow->addWidget(parts_.phraseCount);
    layout->addLayout(titleRow);

    auto* entryRow = new QHBoxLayout;
    entryRow->setSpacing(8);
    auto* field = new QLineEdit(form);
    field->setFont(style::systemFont(18, QFont::Medium));
    field->setPlaceholderText(uiText("이름, 팀장님, 대표님", "Ann, James, Mr Smith"));
    field->setAccessibleName(parts_.phrasesTitle->text());
    field->setClearButtonEnabled(false);
    field->setMaxLength(phraseFieldMaximumLength);
    connect(field, &QLineEdit::textEdited, this, [this](const QString& text) { model_.setWakePhraseDraft(text); });
    // Return adds the draft and leaves the focus where it is.
    connect(field, &QLineEdit::returnPressed, this, [this] { model_.addWakePhraseFromDraft(); });
    parts_.phraseField = field;

    auto* add = new QToolButton(form);
    add->setIcon(icons::icon("plus", palette().color(QPalette::ButtonText)));
    add->setIconSize(QSize(14, 14));
    add->setFixedSize(26, 26);
    add->setToolTip(uiText("호출어 추가", "Add call phrase"));
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

    parts_.emptyPhrasesText =
        label(uiText("호출어를 추가하면 감지를 시작할 수 있습니다.", "Add a call phrase to start detection."),
              style::captionFont(), form);
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
        remove->setToolTip(uiText("호출어 삭제", "Remove call phrase"));
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
    parts_.modeTitle = label(uiText("AirPods 모드", "AirPods Mode"), style::headlineFont(), section);
    layout->addWidget(parts_.modeTitle);

    const QColor color = palette().color(QPalette::ButtonText);
    const QColor selected = palette().color(QPalette::HighlightedText);
    parts_.modePicker = new SegmentedPicker(
        {
            {icons::icon("ear-waveform", color, selected), uiText("노캔", "ANC")},
            {icons::icon("ear", color, selected), uiText("주변음", "Transparency")},
            {icons::icon("speaker-off", color, selected), uiText("끔", "Off")},
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
    parts_.shortcutTitle = label(uiText("단축키", "Shortcut"), style::headlineFont(), section);
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
    parts_.clearButton = new QPushButton(uiText("지우기", "Clear"), section);
    connect(parts_.clearButton, &QPushButton::clicked, this, [this] { model_.clearShortcut(); });

    row->addWidget(display);
    row->addWidget(parts_.recordButton);
    row->addWidget(parts_.clearButton);
    row->addStretch();
    layout->addLayout(row);
    return section;
}

void ContentView::refresh() {
    const bool running = model_.isCommandRunning();
    screens_->setCurrentIndex(model_.isPermissionSetupComplete() ? 1 : 0);

    parts_.permissionButton->setText(running ? model_.permissionStatusText()
                                             : uiText("권한 준비", "Set Up Permissions"));
    parts_.permissionButton->setEnabled(!running);

    const bool detecting = model_.isDetectionEnabled();
    parts_.detectionSwitch->setChecked(detecting);
    parts_.detectionSwitch->setEnabled(!running);
    parts_.detectionIcon->setPixmap(
        icons::pixmap(detecting ? "mic-fill" : "mic", palette().color(QPalette::WindowText), 16, devicePixelRatioF()));

    const QStringList& phrases = model_.activeWakePhrases();
    parts_.phraseCount->setText(uiText("적용 중: %1개", "Active: %1").arg(phrases.size()));
    if (parts_.phraseField->text() != model_.wakePhraseDraft()) {
        parts_.phraseField->setText(model_.wakePhraseDraft());
    }
    parts_.addButton->setEnabled(model_.canAddWakePhrase() && !running);
    if (phrases != shownPhrases_ || rows_.size() != phrases.size()) {
        rebuildPhraseRows();
    }
    for (const PhraseRow& row : rows_) {
        row.removeButton->setEnabled(!running);
    }
    parts_.phraseHint->setText(model_.wakePhraseHint());
    parts_.phraseHint->setVisible(!model_.wakePhraseHint().isEmpty());
    parts_.emptyPhrasesText->setVisible(phrases.isEmpty());
    parts_.phraseScrollArea->setVisible(!phrases.isEmpty());

    parts_.modePicker->setSelectedIndex(pickerIndex(model_.selectedMode()));
    parts_.modePicker->setEnabled(!running);

    const bool recording = model_.isRecordingShortcut();
    const auto& shortcut = model_.hotKeySetting();
    parts_.shortcutDisplay->setText(recording  ? uiText("입력 중", "Recording")
                                    : shortcut ? QString::fromStdString(shortcut->displayName())
                                               : uiText("없음", "None"));
    parts_.recordButton->setText(recording ? uiText("취소", "Cancel") : uiText("기록", "Record"));
    parts_.recordButton->setEnabled(!running);
    parts_.clearButton->setEnabled(shortcut.has_value() && !running);

    const auto& error = model_.errorMessage();
    for (QLabel* banner : parts_.errorBanners) {
        banner->setText(error.value_or(QString()));
        banner->setVisible(error.has_value());
    }
}

} // namespace harkwell
