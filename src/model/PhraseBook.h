#pragma once

#include "matching/AppLocale.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// The call phrases: the list, the draft the user types into, and the hint that tells why an entry
// was refused, what of a paste did not fit, or that a phrase added cannot be heard. Knows the
// limits and which phrases listening uses; stores nothing. Main thread only; every
// published value notifies on each assignment, changed or not.
class PhraseBook : public QObject {
    Q_OBJECT

public:
    // Limits that keep listening light: the list takes at most this many phrases of at most this
    // many characters each. Stored phrases beyond them are kept; listening then uses the first
    // phrases within the limits that are in a language it hears.
    static constexpr int maximumCount = 50;
    static constexpr int maximumLength = 100;
    // The draft holds at most this many UTF-16 code units, so that a pasted text cannot freeze the
    // panel.
    static constexpr int maximumDraftLength = 500;

    using QObject::QObject;

    // Split at the separators a draft is split at (commas, semicolons, line breaks, tabs and other
    // control characters), trimmed, without blanks and without repeats of an earlier phrase's
    // tokens.
    static QStringList normalized(const QStringList& phrases);
    // Whether listening hears phrases in Hangul: only with a multilingual model of the accurate
    // recogniser, which AppModel follows. Heard until told otherwise (while the model loads). Which
    // phrases listening uses follows, and phrasesChanged says so.
    void setKoreanHeard(bool heard);
    // Why listening cannot hear a phrase of the list: too long, in a script no recogniser knows, or
    // Korean while it is not heard; nothing when it can.
    std::optional<QString> whyNotHeard(const QString& phrase) const;

    const QStringList& phrases() const { return phrases_; }
    // Takes the phrases normalized.
    void setPhrases(const QStringList& phrases);
    // The list without the phrases that are `phrase` but for case, spacing and punctuation.
    QStringList without(const QString& phrase) const;
    // The phrases listening uses: the first ones within the limits, in a language it hears.
    std::vector<std::string> listened() const;
    // Those within the length limit and in a language listening hears, all of them.
    std::vector<std::string> hearable() const;
    // How many phrases of the list are in a language listening hears.
    int inHeardLanguageCount() const;
    // The languages the phrases of the list are in (listeningLanguagesOf), heard or not.
    std::vector<AppLocale> languages() const;

    const QString& draft() const { return draft_; }
    // A change of the draft clears the hint.
    void setDraft(const QString& draft);
    // Puts pasted text into the draft in place of `replacedLength` code units at `position`. Text
    // that would make the draft longer than its maximum is cut before a separator, never inside a
    // phrase: the phrases that fit go in, and the hint tells how many did and which did not.
    void paste(const QString& pasted, int position, int replacedLength = 0);
    // Whether the draft holds anything to add.
    bool canAdd() const;

    // What adding the draft brings: the pieces between its separators that the list takes, and the
    // hint, empty when there is nothing to say. A piece is taken unless the list has it already,
    // it has no letter or number, it is too long or the list is full; the first refusal, or the
    // first piece taken in a language listening does not hear, becomes the hint, after how many
    // were added when more than one was. Repeats within the draft go quietly.
    struct Addition {
        QStringList added;
        QString hint;
    };
    Addition additionFromDraft() const;

    const QString& hint() const { return hint_; }
    void setHint(const QString& hint);
    // Clears a hint that is there.
    void clearHint();

signals:
    void phrasesChanged();
    void draftChanged();
    void hintChanged();
    void canAddChanged();

private:
    // Why listening does not hear the phrase's language; nothing when it does.
    std::optional<QString> whyLanguageNotHeard(const QString& phrase) const;

    bool isKoreanHeard_ = true;
    QStringList phrases_;
    QString draft_;
    QString hint_;
};

} // namespace harkwell
