#include "app/ContentView.h"

#include "app/Icons.h"
#include "app/ModeShortcutSection.h"
#include "app/PanelTexts.h"
#include "app/PermissionPage.h"
#include "app/StartupSection.h"
#include "app/Style.h"
#include "model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace harkwell {

using namespace panel;

ContentView::ContentView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedSize(fixedSize);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setFocusPolicy(Qt::ClickFocus); // holds the focus when no control has it

    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(18, 18, 18, 18);
    screens_ = new QStackedLayout;
    body->addLayout(screens_);
    parts_.permissionSetup = buildPermissionSetup();
    parts_.mainControls = buildMainControls();
    screens_->addWidget(parts_.permissionSetup);
    screens_->addWidget(parts_.mainControls);

    follow(model_, this, &ContentView::refreshScreen, {&AppModel::isPermissionSetupCompleteChanged});
    follow(model_, this, &ContentView::refreshErrorBanners, {&AppModel::errorMessageChanged});
}

const QList<ContentView::PhraseRow>& ContentView::phraseRows() const { return phrases_->rows(); }

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    detection_->setPanelShown(true);
}

void ContentView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    detection_->setPanelShown(false);
    model_.panelDidClose();
}

QWidget* ContentView::buildHeader(int screen) {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(label(QStringLiteral("Harkwell"), style::systemFont(22, QFont::DemiBold), header));
    row->addLayout(titles);
    row->addStretch();

    auto* quit = new QToolButton(header);
    quit->setAutoRaise(true);
    quit->setIcon(icons::icon("power", palette().color(QPalette::WindowText)));
    quit->setIconSize(QSize(16, 16));
    quit->setToolTip(panelTexts::quit.text());
    quit->setAccessibleName(quit->toolTip());
    connect(quit, &QToolButton::clicked, this, &ContentView::quitRequested);
    row->addWidget(quit);
    parts_.quitButtons[screen] = quit;
    return header;
}

QLabel* ContentView::buildErrorBanner(int screen) {
    auto* banner = label(QString(), style::calloutFont(), nullptr);
    banner->setWordWrap(true);
    banner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    banner->setTextInteractionFlags(Qt::TextSelectableByMouse);
    banner->hide();
    parts_.errorBanners[screen] = banner;
    return banner;
}

QWidget* ContentView::buildPermissionSetup() {
    auto* screen = new QWidget;
    auto* layout = column(screen, 18);
    layout->addWidget(buildHeader(0));
    layout->addWidget(new PermissionPage(model_, parts_, screen));
    layout->addWidget(buildErrorBanner(0));
    layout->addStretch();
    return screen;
}

QWidget* ContentView::buildMainControls() {
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    parts_.scrollArea = scroll;

    auto* controls = new QWidget;
    controls->setAutoFillBackground(false);
    auto* layout = column(controls, 14);
    layout->addWidget(buildHeader(1));
    detection_ = new DetectionSection(model_, parts_, controls);
    phrases_ = new PhraseSection(model_, parts_, controls);
    layout->addWidget(detection_);
    layout->addWidget(phrases_);
    layout->addWidget(new ModeShortcutSection(model_, parts_, controls));
    layout->addWidget(new StartupSection(model_, parts_, controls));
    layout->addWidget(buildErrorBanner(1));
    layout->addStretch();
    scroll->setWidget(controls);
    return scroll;
}

void ContentView::refreshScreen() { screens_->setCurrentIndex(model_.isPermissionSetupComplete() ? 1 : 0); }

void ContentView::refreshErrorBanners() {
    const auto& error = model_.errorMessage();
    // Red for a fault, the text colour for good news.
    const QColor bannerColor = model_.bannerKind() == AppModel::BannerKind::error
                                   ? style::errorColor(palette())
                                   : palette().color(QPalette::WindowText);
    for (QLabel* banner : parts_.errorBanners) {
        banner->setText(error.value_or(QString()));
        QPalette bannerPalette = banner->palette();
        bannerPalette.setColor(QPalette::WindowText, bannerColor);
        banner->setPalette(bannerPalette);
        banner->setVisible(error.has_value());
    }
}

} // namespace harkwell
