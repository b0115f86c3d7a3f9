#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace harkwell {

class ElidedLabel;

// The call panel's content: an ear badge, "Someone called you, {phrase}!" on one line and
// "Transparency turned on", on a translucent capsule with a soft shadow. 340 x 72 pixels.
// The texts are English in every interface language.
class CallDetectionHUDView : public QWidget {
public:
    explicit CallDetectionHUDView(QWidget* parent = nullptr);

    // The configured call phrase that was detected.
    void setTargetPhrase(const QString& phrase);
    const QString& targetPhrase() const { return targetPhrase_; }

    static QString titleText(const QString& phrase);
    static QString subtitleText();
    static QString accessibleText(const QString& phrase);

    const ElidedLabel& title() const { return *title_; }
    const QLabel& subtitle() const { return *subtitle_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString targetPhrase_;
    QLabel* badge_;
    ElidedLabel* title_;
    QLabel* subtitle_;
};

} // namespace harkwell
