#include "locale/AppLanguage.h"

#include "core/Log.h"
#include "locale/AppMetadata.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include <atomic>

namespace harkwell {

namespace {

std::atomic<AppLocale::Value>& spokenLocale() {
    static std::atomic<AppLocale::Value> locale{AppLocale::english};
    return locale;
}

// The Korean translations, compiled into the binary's resources from harkwell_ko.ts.
QTranslator& koreanTranslator() {
    static QTranslator* const translator = [] {
        auto* loaded = new QTranslator;
        if (!loaded->load(QStringLiteral(":/i18n/harkwell_ko.qm"))) {
            qCWarning(logApp) << "The Korean translations are missing from the resources";
        }
        return loaded;
    }();
    return *translator;
}

} // namespace

AppLocale chooseAppLocale(std::optional<std::string_view> buildLocale, const QStringList& uiLanguages) {
    if (buildLocale && *buildLocale != "system") {
        return *buildLocale == "en-US" ? AppLocale::english : AppLocale::korean;
    }
    const bool koreanFirst = !uiLanguages.isEmpty() && QLocale(uiLanguages.front()).language() == QLocale::Korean;
    return koreanFirst ? AppLocale::korean : AppLocale::english;
}

AppLocale useDesktopAppLocale() {
    const std::optional<std::string> buildLocale = appMetadataValue("HarkwellLocale");
    const QStringList uiLanguages = QLocale::system().uiLanguages();
    const AppLocale locale = chooseAppLocale(buildLocale, uiLanguages);
    qCDebug(logApp) << "Interface language" << locale.rawValue().data() << "from the build's"
                    << buildLocale.value_or("(none)").c_str() << "and the desktop's" << uiLanguages;
    useAppLocale(locale);
    return locale;
}

void useAppLocale(AppLocale locale) {
    spokenLocale() = locale;
    // Without an application tr() speaks English whatever is chosen. Removing the translator
    // removes every copy installed.
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    if (locale == AppLocale::korean) {
        QCoreApplication::installTranslator(&koreanTranslator());
    } else {
        QCoreApplication::removeTranslator(&koreanTranslator());
    }
}

AppLocale currentAppLocale() { return spokenLocale().load(); }

QString translatedText(AppLocale locale, const char* context, const char* source, const char* disambiguation) {
    if (locale == AppLocale::korean) {
        if (QString korean = koreanTranslator().translate(context, source, disambiguation); !korean.isEmpty()) {
            return korean;
        }
    }
    return QString::fromUtf8(source);
}

} // namespace harkwell
