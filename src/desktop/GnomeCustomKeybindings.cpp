// GIO first: Qt's keyword macros (signals) would otherwise rewrite its structures.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include "desktop/CustomKeybindings.h"

#include "core/Log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>

#include <cstring>
#include <vector>

namespace harkwell {
namespace {

constexpr const char* listSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* entrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* listKey = "custom-keybindings";
constexpr const char* harkwellPath = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/harkwell/";

template <typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPointer = std::unique_ptr<T, GObjectDeleter<T>>;

bool hasSchema(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
    if (schema) {
        g_settings_schema_unref(schema);
    }
    return schema != nullptr;
}

// Without dconf GIO keeps settings in memory, and GNOME would never see them: why not, or nothing.
std::optional<QString> whyNotKept() {
    GSettingsBackend* backend = g_settings_backend_get_default();
    const bool inMemory = std::strcmp(G_OBJECT_TYPE_NAME(backend), "GMemorySettingsBackend") == 0;
    g_object_unref(backend);
    if (!inMemory) {
        return std::nullopt;
    }
    qCWarning(logDesktop) << "GSettings has no backend that keeps settings (dconf-gsettings-backend)";
    return QCoreApplication::translate("harkwell::GnomeCustomKeybindings",
                                       "GNOME's settings store (dconf) is not installed.");
}

// Puts Harkwell's entry in GNOME's list of custom keybindings, or takes it out; the other entries
// stay in their order. Why not, or nothing.
std::optional<QString> list(bool listed) {
    const GObjectPointer<GSettings> settings(g_settings_new(listSchema));
    gchar** stored = g_settings_get_strv(settings.get(), listKey);
    QList<QByteArray> paths;
    for (gchar** path = stored; *path; ++path) {
        paths << QByteArray(*path);
    }
    g_strfreev(stored);
    bool isWritten = true;
    if (paths.contains(harkwellPath) != listed) {
        if (listed) {
            paths << QByteArray(harkwellPath);
        } else {
            paths.removeAll(QByteArray(harkwellPath));
        }
        std::vector<const gchar*> strings;
        for (const QByteArray& path : paths) {
            strings.push_back(path.constData());
        }
        strings.push_back(nullptr);
        isWritten = g_settings_set_strv(settings.get(), listKey, strings.data());
    }
    g_settings_sync();
    if (!isWritten) {
        qCWarning(logDesktop) << "GNOME's list of custom keybindings is not writable";
        return QCoreApplication::translate("harkwell::GnomeCustomKeybindings",
                                           "GNOME's keyboard shortcuts cannot be changed.");
    }
    return std::nullopt;
}

class GnomeCustomKeybindings : public CustomKeybindings {
public:
    std::optional<QString> write(const CustomKeybinding& keybinding) override {
        if (auto why = whyNotKept()) {
            return why;
        }
        const GObjectPointer<GSettings> entry(g_settings_new_with_path(entrySchema, harkwellPath));
        g_settings_delay(entry.get());
        g_settings_set_string(entry.get(), "name", keybinding.name.toUtf8().constData());
        g_settings_set_string(entry.get(), "command", keybinding.command.toUtf8().constData());
        g_settings_set_string(entry.get(), "binding", keybinding.binding.toUtf8().constData());
        g_settings_apply(entry.get());
        qCDebug(logDesktop) << "GNOME's custom keybinding" << harkwellPath << "runs" << keybinding.command << "at"
                            << keybinding.binding;
        // The entry first, then the list that points GNOME to it.
        return list(true);
    }

    std::optional<QString> remove() override {
        if (auto why = whyNotKept()) {
            return why;
        }
        auto why = list(false);
        const GObjectPointer<GSettings> entry(g_settings_new_with_path(entrySchema, harkwellPath));
        for (const char* key : {"name", "command", "binding"}) {
            g_settings_reset(entry.get(), key);
        }
        g_settings_sync();
        qCDebug(logDesktop) << "GNOME's custom keybinding" << harkwellPath << "removed";
        return why;
    }
};

} // namespace

std::unique_ptr<CustomKeybindings> makeGnomeCustomKeybindings() {
    if (!hasSchema(listSchema) || !hasSchema(entrySchema)) {
        qCDebug(logDesktop) << "GNOME's media-keys settings schemas are not installed";
        return nullptr;
    }
    return std::make_unique<GnomeCustomKeybindings>();
}

} // namespace harkwell
