#pragma once

#include "app/PanelParts.h"

#include <QWidget>

#include <QList>
#include <QStringList>

class QStackedLayout;

namespace harkwell {

// The call phrases: their count, the field that holds the model's draft with the add button and
// the hint under them, and the list, whose area is visibleRows rows tall and whose rows scroll
// within it. The field holds
// at most maximumWakePhraseDraftLength characters: an edit that would make it longer (a paste of
// a long list) goes to the model, which fits it in at its commas.
class PhraseSection : public panel::Section {
    Q_OBJECT

public:
    static constexpr int visibleRows = 3;

    PhraseSection(AppModel& model, PanelParts& parts, QWidget* parent = nullptr);

    // In the model's order.
    const QList<PanelPhraseRow>& rows() const { return rows_; }

private:
    void rebuildRows();
    PanelPhraseRow makeRow(const QString& phrase);
    void refreshEntry(); // the field, the add button and the hint under them
    void refreshList();

    QStackedLayout* listStack_ = nullptr; // the text that there are none, or the rows
    QVBoxLayout* rowsLayout_ = nullptr;
    QList<PanelPhraseRow> rows_;
    QStringList shownPhrases_;
};

} // namespace harkwell
