#pragma once

#include "app/PanelParts.h"

#include <QWidget>

#include <QList>
#include <QStringList>

namespace harkwell {

// The call phrases: their count, the field that holds the model's draft with the add button and
// the hint under them, and the list, whose rows scroll within visibleRows of them. The field holds
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
    // Fits the list's area to its rows, up to visibleRows of them.
    void fitScrollArea();
    void refreshEntry(); // the field, the add button and the hint under them
    void refreshList();

    QVBoxLayout* rowsLayout_ = nullptr;
    QList<PanelPhraseRow> rows_;
    QStringList shownPhrases_;
};

} // namespace harkwell
