#pragma once

#include <QString>
#include <QWidget>

namespace harkwell {

// One line of text that never grows its layout: when it does not fit, it is cut at the tail
// with an ellipsis. The full text stays the accessible name.
class ElidedLabel : public QWidget {
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    // The text as it is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

} // namespace harkwell
