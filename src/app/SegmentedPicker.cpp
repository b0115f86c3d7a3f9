#include "app/SegmentedPicker.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace harkwell {

SegmentedPicker::SegmentedPicker(const QList<Segment>& segments, QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int index = 0; index < segments.size(); ++index) {
        auto* button = new QToolButton(this);
        button->setCheckable(true);
        button->setIcon(segments[index].icon);
        button->setText(segments[index].label);
        button->setAccessibleName(segments[index].label);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setIconSize(QSize(14, 14));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setMinimumHeight(26);
        const bool first = index == 0;
        const bool last = index == segments.size() - 1;
        // Outer corners rounded, neighbours sharing one border line.
        button->setStyleSheet(
            QStringLiteral("QToolButton { border: 1px solid palette(mid); border-left-width: %1px;"
                           " border-top-left-radius: %2px; border-bottom-left-radius: %2px;"
                           " border-top-right-radius: %3px; border-bottom-right-radius: %3px;"
                           " background: palette(button); color: palette(button-text); padding: 2px 6px; }"
                           " QToolButton:checked { background: palette(highlight); color: palette(highlighted-text); }"
                           " QToolButton:disabled { color: palette(mid); }")
                .arg(first ? 1 : 0)
                .arg(first ? 6 : 0)
                .arg(last ? 6 : 0));
        connect(button, &QToolButton::clicked, this, [this, index] {
            showSelection();
            if (onChosen) {
                onChosen(index);
            }
        });
        row->addWidget(button);
        buttons_.append(button);
    }
}

void SegmentedPicker::setSelectedIndex(int index) {
    selectedIndex_ = index;
    showSelection();
}

void SegmentedPicker::showSelection() {
    for (int index = 0; index < buttons_.size(); ++index) {
        buttons_[index]->setChecked(index == selectedIndex_);
    }
}

} // namespace harkwell
