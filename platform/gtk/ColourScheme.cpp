// Follows the desktop's light or dark preference from the Settings portal, for the application's
// own windows and, through GTK's settings, for the pages' prefers-color-scheme.
#include <gtk/gtk.h>

#include <cstring>
#include <optional>

#include "platform/Desktop.h"
#include "platform/glib/Portal.h"

namespace platform {
namespace {

constexpr const char* settingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* appearance = "org.freedesktop.appearance";
constexpr const char* colourSchemeKey = "color-scheme";

// GTK's own preference as the process started, used when the portal states none.
bool gtkPrefersDark = false;

// 1 asks for dark, 2 for light, 0 (or anything else) states no preference. The value may come
// wrapped in variants, once or twice depending on the call.
std::optional<bool> prefersDark(GVariant* value) {
    GVariant* inner = g_variant_ref(value);
    while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    std::optional<bool> dark;
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) {
        const guint32 scheme = g_variant_get_uint32(inner);
        if (scheme == 1) dark = true;
        if (scheme == 2) dark = false;
    }
    g_variant_unref(inner);
    return dark;
}

void apply(GVariant* value) {
    const bool dark = prefersDark(value).value_or(gtkPrefersDark);
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", gboolean(dark), nullptr);
}

void onSettingChanged(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                      gpointer) {
    const char* group = nullptr;
    const char* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &group, &key, &value);
    if (std::strcmp(group, appearance) == 0 && std::strcmp(key, colourSchemeKey) == 0) apply(value);
    g_variant_unref(value);
}

void onRead(GObject* source, GAsyncResult* result, gpointer) {
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply == nullptr) return;  // no portal: GTK's own setting stays in effect
    GVariant* value = g_variant_get_child_value(reply, 0);
    apply(value);
    g_variant_unref(value);
    g_variant_unref(reply);
}

}  // namespace

void followDesktopColourScheme() {
    static bool following = false;
    GtkSettings* settings = gtk_settings_get_default();
    if (following || settings == nullptr) return;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return;
    following = true;
    gboolean dark = FALSE;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &dark, nullptr);
    gtkPrefersDark = dark;
    g_dbus_connection_signal_subscribe(bus, portal::busName, settingsInterface, "SettingChanged", portal::objectPath, appearance,
                                       G_DBUS_SIGNAL_FLAGS_NONE, onSettingChanged, nullptr, nullptr);
    // "Read" rather than the newer "ReadOne", which older portals lack.
    g_dbus_connection_call(bus, portal::busName, portal::objectPath, settingsInterface, "Read",
                           g_variant_new("(ss)", appearance, colourSchemeKey), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, onRead, nullptr);
}

}  // namespace platform
