#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QToolButton;

namespace harkwell {

// A row of joined segments, one of them selected. A click on a segment reports the choice
// through onChosen and changes nothing by itself: the selection moves only through
// setSelectedIndex, so that it always shows the state of whoever owns it.
class SegmentedPicker : public QWidget {
public:
    struct Segment {
        QIcon icon;
        QString label;
    };

    explicit SegmentedPicker(const QList<Segment>& segments, QWidget* parent = nullptr);

    void setSelectedIndex(int index);
    int selectedIndex() const { return selectedIndex_; }
    QToolButton& segment(int index) const { return *buttons_.at(index); }
    int count() const { return static_cast<int>(buttons_.size()); }

    std::function<void(int index)> onChosen;

private:
    void showSelection();

    QList<QToolButton*> buttons_;
    int selectedIndex_ = -1;
};

} // namespace harkwell
