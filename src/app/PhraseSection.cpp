#include "app/PhraseSection.h"

#include "app/ElidedLabel.h"
#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

namespace harkwell {
namespace {

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

} // namespace

using namespace panel;

PhraseSection::PhraseSection(AppModel& model, PanelParts& parts, QWidget* parent) : Section(model, parts, parent) {
    QWidget* form = this;
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

    // The list's area is as tall as visibleRows rows whatever it holds, so that the sections
    // below keep their places: the text that there are none, or the rows, which scroll within it
    // when there are more.
    auto* listArea = new QWidget(form);
    listStack_ = new QStackedLayout(listArea);
    parts_.emptyPhrasesText = label(panelTexts::noPhrases.text(), style::captionFont(), listArea);
    parts_.emptyPhrasesText->setWordWrap(true);
    parts_.emptyPhrasesText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    useSecondaryColor(parts_.emptyPhrasesText);
    listStack_->addWidget(parts_.emptyPhrasesText);
    auto* scroll = new QScrollArea(listArea);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    parts_.phraseScrollArea = scroll;
    parts_.phraseList = new QWidget;
    parts_.phraseList->setAutoFillBackground(false);
    rowsLayout_ = column(parts_.phraseList, 4);
    rowsLayout_->addStretch(); // few rows sit at the top
    scroll->setWidget(parts_.phraseList);
    listStack_->addWidget(scroll);
    QWidget* sample = makeRow(QStringLiteral("Ag")).phrase->parentWidget();
    const int rowHeight = sample->sizeHint().height();
    delete sample;
    listArea->setFixedHeight(visibleRows * rowHeight + (visibleRows - 1) * rowsLayout_->spacing());
    layout->addWidget(listArea);
    follow(model_, this, &PhraseSection::refreshEntry,
           {&AppModel::wakePhraseDraftChanged, &AppModel::canAddWakePhraseChanged, &AppModel::wakePhraseHintChanged,
            &AppModel::isCommandRunningChanged});
    follow(model_, this, &PhraseSection::refreshList,
           {&AppModel::activeWakePhrasesChanged, &AppModel::isCommandRunningChanged});
}

void PhraseSection::rebuildRows() {
    // Later: the click of a row's own remove button may be what got here.
    for (const PanelPhraseRow& row : rows_) {
        QWidget* frame = row.phrase->parentWidget();
        rowsLayout_->removeWidget(frame);
        frame->hide();
        frame->deleteLater();
    }
    rows_.clear();
    shownPhrases_ = model_.activeWakePhrases();
    for (const QString& phrase : shownPhrases_) {
        const PanelPhraseRow row = makeRow(phrase);
        rowsLayout_->insertWidget(rowsLayout_->count() - 1, row.phrase->parentWidget());
        rows_.append(row);
    }
}

PanelPhraseRow PhraseSection::makeRow(const QString& phrase) {
    auto* frame = new RoundedFrame(parts_.phraseList);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(8, 5, 8, 5);
    row->setSpacing(8);
    auto* text = new ElidedLabel(frame);
    text->setFont(style::systemFont(12, QFont::Medium));
    text->setText(phrase);
    auto* notHeard = label(panelTexts::phraseNotHeard.text(), style::captionFont(), frame);
    useSecondaryColor(notHeard);
    auto* remove = new QToolButton(frame);
    remove->setAutoRaise(true);
    remove->setIcon(icons::icon("remove", style::secondaryTextColor(palette())));
    remove->setIconSize(QSize(14, 14));
    remove->setToolTip(panelTexts::removePhrase.text());
    remove->setAccessibleName(remove->toolTip());
    connect(remove, &QToolButton::clicked, this, [this, phrase] { model_.removeWakePhrase(phrase); });
    row->addWidget(text);
    row->addWidget(notHeard);
    row->addStretch();
    row->addWidget(remove);
    return {text, notHeard, remove};
}

void PhraseSection::refreshEntry() {
    if (parts_.phraseField->text() != model_.wakePhraseDraft()) {
        parts_.phraseField->setText(model_.wakePhraseDraft());
    }
    parts_.addButton->setEnabled(model_.canAddWakePhrase() && !model_.isCommandRunning());
    parts_.phraseHint->setText(model_.wakePhraseHint());
    parts_.phraseHint->setVisible(!model_.wakePhraseHint().isEmpty());
}

void PhraseSection::refreshList() {
    const QStringList& phrases = model_.activeWakePhrases();
    const int listened = model_.listenedWakePhraseCount();
    parts_.phraseCount->setText(listened < model_.hearableWakePhraseCount()
                                    ? panelTexts::phraseCountLimited.text().arg(listened).arg(phrases.size())
                                    : panelTexts::phraseCount.text().arg(listened));
    if (phrases != shownPhrases_ || rows_.size() != phrases.size()) {
        rebuildRows();
    }
    // Whether Korean is heard may have changed with the same phrases.
    for (qsizetype index = 0; index < rows_.size(); ++index) {
        const PanelPhraseRow& row = rows_[index];
        const auto whyNotHeard = model_.whyWakePhraseNotHeard(shownPhrases_[index]);
        row.notHeardMark->setVisible(whyNotHeard.has_value());
        row.notHeardMark->setToolTip(whyNotHeard.value_or(QString()));
        row.removeButton->setEnabled(!model_.isCommandRunning());
    }
    listStack_->setCurrentWidget(phrases.isEmpty() ? static_cast<QWidget*>(parts_.emptyPhrasesText)
                                                   : parts_.phraseScrollArea);
}

} // namespace harkwell
