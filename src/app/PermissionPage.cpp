#include "app/PermissionPage.h"

#include "app/Icons.h"
#include "app/PanelTexts.h"
#include "app/Style.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace harkwell {

using namespace panel;

PermissionPage::PermissionPage(AppModel& model, PanelParts& parts, QWidget* parent) : Section(model, parts, parent) {
    QWidget* screen = this;
    auto* layout = column(screen, 18);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(10);
    parts_.permissionTitle = label(panelTexts::permissionTitle.text(), style::headlineFont(), screen);
    parts_.permissionExplanation = label(panelTexts::permissionExplanation.text(), style::calloutFont(), screen);
    parts_.permissionExplanation->setWordWrap(true);
    useSecondaryColor(parts_.permissionExplanation);
    texts->addWidget(parts_.permissionTitle);
    texts->addWidget(parts_.permissionExplanation);
    layout->addLayout(texts);

    auto* button = new QPushButton(screen);
    button->setIcon(icons::icon("shield-check", palette().color(QPalette::HighlightedText)));
    button->setIconSize(QSize(16, 16));
    button->setMinimumWidth(140);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The prominent style: the accent colour, faded while a check runs.
    const QColor accent = style::accentColor(palette());
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: palette(highlight); color: palette(highlighted-text);"
                       " border: none; border-radius: 6px; padding: 6px 14px; font-weight: 600; }"
                       " QPushButton:disabled { background: rgba(%1, %2, %3, 55%); }")
            .arg(accent.red())
            .arg(accent.green())
            .arg(accent.blue()));
    connect(button, &QPushButton::clicked, this, [this] { model_.preparePermissions(); });
    parts_.permissionButton = button;
    layout->addWidget(button, 0, Qt::AlignLeft);
    follow(model_, this, &PermissionPage::refresh,
           {&AppModel::permissionStatusTextChanged, &AppModel::isCommandRunningChanged});
}

void PermissionPage::refresh() {
    const bool running = model_.isCommandRunning();
    parts_.permissionButton->setText(running ? model_.permissionStatusText() : panelTexts::permissionButton.text());
    parts_.permissionButton->setEnabled(!running);
}

} // namespace harkwell
