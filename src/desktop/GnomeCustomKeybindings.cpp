// GIO first: Qt's keyword macros (signals) would otherwise rewrite its structures.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include "desktop/CustomKeybindings.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstring>

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

class GnomeCustomKeybindings : public CustomKeybindings {
public:
    std::optional<QString> write(const CustomKeybinding& keybinding) override {
        // Without dconf GIO keeps settings in memory, and GNOME would never see them.
        GSettingsBackend* backend = g_settings_backend_get_default();
        const bool inMemory = std::strcmp(G_OBJECT_TYPE_NAME(backend), "GMemorySettingsBackend") == 0;
        g_object_unref(backend);
        if (inMemory) {
            qCWarning(logDesktop) << "GSettings has no backend that keeps settings (dconf-gsettings-backend)";
            return QCoreApplication::translate("harkwell::GnomeCustomKeybindings",
                                               "GNOME's settings store (dconf) is not installed.");
        }

        const GObjectPointer<GSettings> entry(g_settings_new_with_path(entrySchema, harkwellPath));
        g_settings_delay(entry.get());
        g_settings_set_string(entry.get(), "name", keybinding.name.toUtf8().constData());
        g_settings_set_string(entry.get(), "command", keybinding.command.toUtf8().constData());
        g_settings_set_string(entry.get(), "binding", keybinding.binding.toUtf8().constData());
        g_settings_apply(entry.get());

        // The entry first, then the list that points GNOME to it.
        const GObjectPointer<GSettings> list(g_settings_new(listSchema));
        gchar** paths = g_settings_get_strv(list.get(), listKey);
        const bool isListed = g_strv_contains(paths, harkwellPath);
        if (!isListed) {
            const guint count = g_strv_length(paths);
            paths = static_cast<gchar**>(g_realloc_n(paths, count + 2, sizeof(gchar*)));
            paths[count] = g_strdup(harkwellPath);
            paths[count + 1] = nullptr;
        }
        const bool isWritten = isListed || g_settings_set_strv(list.get(), listKey, paths);
        g_strfreev(paths);
        g_settings_sync();
        if (!isWritten) {
            qCWarning(logDesktop) << "GNOME's list of custom keybindings is not writable";
            return QCoreApplication::translate("harkwell::GnomeCustomKeybindings",
                                               "GNOME's keyboard shortcuts cannot be changed.");
        }
        qCDebug(logDesktop) << "GNOME's custom keybinding" << harkwellPath << "runs" << keybinding.command << "at"
                            << keybinding.binding;
        return std::nullopt;
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
