#pragma once

#include <QAbstractButton>

namespace harkwell {

// An on/off switch: a rounded track with a sliding knob, filled with the accent colour when on.
// A click toggles it and emits clicked(checked) like any checkable button.
class SwitchButton : public QAbstractButton {
public:
    explicit SwitchButton(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
};

} // namespace harkwell
