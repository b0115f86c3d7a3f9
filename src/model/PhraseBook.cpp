#include "model/PhraseBook.h"

#include "core/Log.h"
#include "matching/PhraseLanguage.h"
#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace harkwell {

namespace {

QString normalizedText(const QString& text) { return QString::fromStdString(normalizedWakeText(text.toStdString())); }

QString trimmed(const QString& text) { return QString::fromStdString(unicode::trimmed(text.toStdString())); }

int characterCount(const QString& text) { return unicode::characterCount(text.toStdString()); }

std::vector<std::string> utf8Strings(const QStringList& texts) {
    std::vector<std::string> strings;
    strings.reserve(static_cast<size_t>(texts.size()));
    for (const QString& text : texts) {
        strings.push_back(text.toStdString());
    }
    return strings;
}

QString tooManyPhrasesText() { return PhraseBook::tr("You can add up to 50 call phrases."); }
QString phraseTooLongText() { return PhraseBook::tr("A call phrase can be at most 100 characters long."); }
QString noLettersText() { return PhraseBook::tr("A call phrase needs at least one letter or number."); }
// A phrase quoted in a sentence, isolated (first-strong isolate ... pop directional isolate) so
// that one in Hebrew or Arabic neither turns the sentence's direction nor takes the quotes with it.
QString isolated(const QString& phrase) { return QChar(0x2068) + phrase + QChar(0x2069); }

QString alreadyListedText(const QString& phrase) {
    return PhraseBook::tr("“%1” is already in the list.").arg(isolated(phrase));
}
QString unheardScriptText(const QString& phrase) {
    return PhraseBook::tr("“%1” cannot be heard: write call phrases in Latin letters or Hangul.").arg(isolated(phrase));
}
QString koreanNotHeardText(const QString& phrase) {
    return PhraseBook::tr("“%1” cannot be heard: Korean needs the accurate recognition model.").arg(isolated(phrase));
}

// What separates phrases in a draft or in a stored list: commas (ASCII, ideographic and
// full-width), semicolons (ASCII and full-width), and line breaks, tabs and every other control
// character (names pasted from a spreadsheet's column come one a line), which no phrase keeps.
bool isPhraseSeparator(QChar c) {
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return c == u',' || c == u';' || c == QChar(0x3001) || c == QChar(0xFF0C) || c == QChar(0xFF1B);
    }
}

// The pieces of a draft between its separators, trimmed, blanks left out.
QStringList draftPieces(const QString& draft) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype index = 0; index <= draft.size(); ++index) {
        if (index == draft.size() || isPhraseSeparator(draft[index])) {
            if (QString kept = trimmed(draft.mid(start, index - start)); !kept.isEmpty()) {
                pieces.append(kept);
            }
            start = index + 1;
        }
    }
    return pieces;
}

// What the hint says of a paste cut short: `pasted` of `total` phrases went in, `left` did not.
QString pasteCutShortText(qsizetype pasted, qsizetype total, const QStringList& left) {
    constexpr qsizetype namesShown = 3;
    constexpr int longestNameShown = 30;
    QStringList names;
    for (const QString& name : left.mid(0, namesShown)) {
        QString shown = name.left(longestNameShown);
        if (shown.size() < name.size()) {
            if (shown.back().isHighSurrogate()) {
                shown.chop(1);
            }
            shown += QChar(0x2026);
        }
        names.append(shown);
    }
    QString notPasted = names.join(", ");
    if (left.size() > namesShown) {
        notPasted = PhraseBook::tr("%1 and %2 more").arg(notPasted, QString::number(left.size() - namesShown));
    }
    return PhraseBook::tr("Pasted %1 of %2 phrases: the field holds %3 characters. Not pasted: %4.")
        .arg(QString::number(pasted), QString::number(total), QString::number(PhraseBook::maximumDraftLength),
             notPasted);
}

} // namespace

QStringList PhraseBook::normalized(const QStringList& phrases) {
    QStringList pieces; // a phrase stored with a separator inside (by hand, or by an older Harkwell)
    for (const QString& phrase : phrases) {
        pieces += draftPieces(phrase);
    }
    QStringList list;
    for (const auto& phrase : normalizedWakePhrases(utf8Strings(pieces))) {
        list.append(QString::fromStdString(phrase));
    }
    return list;
}

void PhraseBook::setKoreanHeard(bool heard) {
    isKoreanHeard_ = heard;
    emit phrasesChanged();
}

std::optional<QString> PhraseBook::whyLanguageNotHeard(const QString& phrase) const {
    const auto language = listeningLanguageOf(phrase.toStdString());
    if (!language) {
        return unheardScriptText(phrase);
    }
    if (*language == AppLocale::korean && !isKoreanHeard_) {
        return koreanNotHeardText(phrase);
    }
    return std::nullopt;
}

std::optional<QString> PhraseBook::whyNotHeard(const QString& phrase) const {
    if (characterCount(phrase) > maximumLength) {
        return phraseTooLongText();
    }
    return whyLanguageNotHeard(phrase);
}

void PhraseBook::setPhrases(const QStringList& phrases) {
    phrases_ = normalized(phrases);
    emit phrasesChanged();
    emit canAddChanged();
}

QStringList PhraseBook::without(const QString& phrase) const {
    const QString key = normalizedText(phrase);
    QStringList kept;
    for (const auto& listed : phrases_) {
        if (normalizedText(listed) != key) {
            kept.append(listed);
        }
    }
    return kept;
}

std::vector<std::string> PhraseBook::listened() const {
    std::vector<std::string> listened = hearable();
    listened.resize(std::min(listened.size(), static_cast<size_t>(maximumCount)));
    return listened;
}

std::vector<std::string> PhraseBook::hearable() const {
    std::vector<std::string> hearable;
    for (const QString& phrase : phrases_) {
        if (!whyNotHeard(phrase)) {
            hearable.push_back(phrase.toStdString());
        }
    }
    return hearable;
}

int PhraseBook::inHeardLanguageCount() const {
    return int(std::count_if(phrases_.begin(), phrases_.end(),
                             [this](const QString& phrase) { return !whyLanguageNotHeard(phrase); }));
}

std::vector<AppLocale> PhraseBook::languages() const { return listeningLanguagesOf(utf8Strings(phrases_)); }

void PhraseBook::setDraft(const QString& draft) {
    const bool changed = draft != draft_;
    draft_ = draft;
    emit draftChanged();
    emit canAddChanged();
    if (changed) {
        clearHint();
    }
}

void PhraseBook::paste(const QString& pasted, int position, int replacedLength) {
    position = std::clamp(position, 0, int(draft_.size()));
    replacedLength = std::clamp(replacedLength, 0, int(draft_.size()) - position);
    const qsizetype room = maximumDraftLength - (draft_.size() - replacedLength);
    // All of it, or up to the last comma that leaves it within the room.
    qsizetype fits = pasted.size();
    if (fits > room) {
        fits = 0;
        for (qsizetype index = 0; index <= room && index < pasted.size(); ++index) {
            if (isPhraseSeparator(pasted[index])) {
                fits = index;
            }
        }
    }
    setDraft(QString(draft_).replace(position, replacedLength, pasted.left(fits)));
    if (const QStringList left = draftPieces(pasted.mid(fits)); !left.isEmpty()) {
        const qsizetype taken = draftPieces(pasted.left(fits)).size();
        qCDebug(logModel) << "paste cut short:" << left.size() << "phrases left out";
        setHint(pasteCutShortText(taken, taken + left.size(), left));
    }
}

bool PhraseBook::canAdd() const { return !trimmed(draft_).isEmpty(); }

PhraseBook::Addition PhraseBook::additionFromDraft() const {
    QHash<QString, QString> listed; // identity to the phrase as listed
    for (const QString& phrase : phrases_) {
        listed.insert(normalizedText(phrase), phrase);
    }
    QSet<QString> addedKeys;
    Addition addition;
    QString& hint = addition.hint;
    for (const QString& piece : draftPieces(draft_)) {
        const QString key = normalizedText(piece);
        QString pieceHint;
        if (key.isEmpty()) {
            pieceHint = noLettersText();
        } else if (characterCount(piece) > maximumLength) {
            pieceHint = phraseTooLongText();
        } else if (listed.contains(key)) {
            pieceHint = alreadyListedText(listed.value(key));
        } else if (addedKeys.contains(key)) {
            continue;
        } else if (phrases_.size() + addition.added.size() >= maximumCount) {
            if (hint.isEmpty()) {
                hint = tooManyPhrasesText();
            }
            break;
        } else {
            addedKeys.insert(key);
            addition.added.append(piece);
            pieceHint = whyLanguageNotHeard(piece).value_or(QString());
        }
        if (hint.isEmpty()) {
            hint = pieceHint;
        }
    }
    if (hint.isEmpty() && addition.added.isEmpty()) {
        hint = noLettersText(); // only separators
    }
    if (addition.added.size() > 1) { // a pasted list: the count alone changing says little
        const QString added = tr("Added %1 call phrases.").arg(addition.added.size());
        hint = hint.isEmpty() ? added : added + ' ' + hint;
    }
    return addition;
}

void PhraseBook::setHint(const QString& hint) {
    hint_ = hint;
    emit hintChanged();
}

void PhraseBook::clearHint() {
    if (!hint_.isEmpty()) {
        setHint(QString());
    }
}

} // namespace harkwell
