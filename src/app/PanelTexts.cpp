#include "app/PanelTexts.h"

#include <QCoreApplication>

namespace harkwell {

namespace {
constexpr const char* context = "harkwell::panelTexts";
}

QString PanelText::text() const { return QCoreApplication::translate(context, source, disambiguation); }

QString PanelText::text(AppLocale locale) const { return translatedText(locale, context, source, disambiguation); }

} // namespace harkwell
