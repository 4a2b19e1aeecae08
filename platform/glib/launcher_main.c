/* bin/tolvar: the command that users, desktop entries and the updater run. It starts the
 * application (libexec/tolvar-app, which links GTK and WebKit) in its own process by exec, so the
 * process, its arguments and its name stay those of the launch.
 *
 * "tolvar --quick-save" is usually bound to a key, so it must open the panel of a running Tolvar
 * within a frame or so. Loading the whole application only to hand its command line to the running
 * instance costs far more than that; this program links only GIO and asks the running instance for
 * its "quick-save" action over the session bus itself (org.freedesktop.Application). When no
 * instance answers, the application starts as for any other launch and handles the option itself.
 *
 * Written in C against GIO alone so that the extra step costs every launch as little as possible. */

#include <gio/gio.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#define APPLICATION_ID "app.tolvar.desktop"
#define APPLICATION_PATH "/app/tolvar/desktop"
#define QUICK_SAVE_OPTION "--quick-save"
#define QUICK_SAVE_ACTION "quick-save"

/* The full application beside this program in the bundle: <bundle>/libexec/tolvar-app. */
static gchar *application_path(void) {
    gchar *self = g_file_read_link("/proc/self/exe", NULL);
    if (self == NULL) return NULL;
    gchar *bin = g_path_get_dirname(self);
    gchar *bundle = g_path_get_dirname(bin);
    gchar *application = g_build_filename(bundle, "libexec", "tolvar-app", NULL);
    g_free(bundle);
    g_free(bin);
    g_free(self);
    return application;
}

/* What the desktop handed this launch for focus and startup notification, passed on as GApplication
 * passes it for a forwarded command line, so the running instance may raise the panel. */
static GVariant *platform_data(void) {
    GVariantBuilder data;
    g_variant_builder_init(&data, G_VARIANT_TYPE_VARDICT);
    const char *startup_id = g_getenv("DESKTOP_STARTUP_ID");
    if (startup_id != NULL && g_utf8_validate(startup_id, -1, NULL)) {
        g_variant_builder_add(&data, "{sv}", "desktop-startup-id", g_variant_new_string(startup_id));
    }
    const char *activation_token = g_getenv("XDG_ACTIVATION_TOKEN");
    if (activation_token != NULL && g_utf8_validate(activation_token, -1, NULL)) {
        g_variant_builder_add(&data, "{sv}", "activation-token", g_variant_new_string(activation_token));
    }
    return g_variant_builder_end(&data);
}

/* Asks a running Tolvar to open its quick-save panel; false when none answered (none runs, there is
 * no session bus, or an older one without the action), and the application must start. */
static gboolean quick_save_in_running_instance(void) {
    GDBusConnection *bus = g_bus_get_sync(G_BUS_TYPE_SESSION, NULL, NULL);
    if (bus == NULL) return FALSE;
    /* No auto-start: a missing instance must be started as an application, not by the bus. */
    GVariant *reply = g_dbus_connection_call_sync(
        bus, APPLICATION_ID, APPLICATION_PATH, "org.freedesktop.Application", "ActivateAction",
        g_variant_new("(s@av@a{sv})", QUICK_SAVE_ACTION, g_variant_new_array(G_VARIANT_TYPE_VARIANT, NULL, 0),
                      platform_data()),
        NULL, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, NULL, NULL);
    g_object_unref(bus);
    if (reply == NULL) return FALSE;
    g_variant_unref(reply);
    return TRUE;
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], QUICK_SAVE_OPTION) == 0 && quick_save_in_running_instance()) return 0;

    gchar *application = application_path();
    if (application == NULL) {
        fprintf(stderr, "tolvar: cannot find the running program: %s\n", strerror(errno));
        return 127;
    }
    execv(application, argv);
    fprintf(stderr, "tolvar: cannot start %s: %s\n", application, strerror(errno));
    g_free(application);
    return 127;
}
