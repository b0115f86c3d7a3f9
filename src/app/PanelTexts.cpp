#include "app/PanelTexts.h"

namespace harkwell {

QString PanelText::text() const { return QString::fromStdString(appText(korean, english)); }

QString PanelText::text(AppLocale locale) const {
    const std::string_view chosen = locale == AppLocale::english ? english : korean;
    return QString::fromUtf8(chosen.data(), qsizetype(chosen.size()));
}

} // namespace harkwell
