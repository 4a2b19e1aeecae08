// A stand-in for the desktop portal's GlobalShortcuts interface on the test's private session bus.
// It owns org.freedesktop.portal.Desktop, answers as the portal documents (each call returns a
// Request object path and the answer follows as that object's Response signal), records every call
// as one line in the log file, and remembers the bound shortcut for as long as it runs.
//
//   fake-shortcuts-portal LOG MODE TRIGGER
//   MODE: "bind" (binds with trigger description TRIGGER), "refuse" (the user cancels the binding),
//   "silent" (never answers the binding).
//   SIGUSR1 emits Activated for "quick-save"; SIGUSR2 emits ShortcutsChanged with the trigger
//   "Ctrl+Shift+S". Each is sent for another program's session (with "Ctrl+Alt+X") first. The
//   interface is version 2, which answers ConfigureShortcuts.
// It also answers the Settings interface's org.freedesktop.appearance color-scheme: the number in
// FAKE_PORTAL_COLOR_SCHEME (0 when unset); SIGHUP switches between dark (1) and light (2) and
// emits SettingChanged.
#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* introspection = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/>
      <arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="ListShortcuts"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/>
      <arg type="o" direction="out"/></method>
    <method name="ConfigureShortcuts"><arg type="o" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/></method>
    <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{sv}"/></signal>
    <signal name="ShortcutsChanged"><arg type="o"/><arg type="a(sa{sv})"/></signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
  </interface>
  <interface name="org.freedesktop.host.portal.Registry">
    <method name="Register"><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/></method>
  </interface>
</node>)xml";

struct State {
    std::string log;
    std::string mode;
    std::string trigger;
    GDBusConnection* connection = nullptr;
    std::string session;       // the last session created
    std::string boundTrigger;  // empty while nothing is bound
    guint32 colourScheme = 0;
};
State state;
const std::string otherSession = std::string(portalPath) + "/session/1_999/another_program";

void record(const std::string& line) { std::ofstream(state.log, std::ios::app) << line << "\n" << std::flush; }

std::string escapedSender(const char* sender) {
    std::string name = sender + 1;  // without the colon
    for (char& c : name) {
        if (c == '.') c = '_';
    }
    return name;
}

// "id|description|preferred trigger" for each shortcut of an a(sa{sv}) list, space-separated.
std::string describe(GVariant* shortcuts) {
    std::string text;
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* id = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
        const char* description = "";
        const char* preferred = "";
        g_variant_lookup(properties, "description", "&s", &description);
        g_variant_lookup(properties, "preferred_trigger", "&s", &preferred);
        text += std::string(" ") + id + "|" + description + "|" + preferred;
        g_variant_unref(properties);
    }
    return text;
}

std::string token(GVariant* options, const char* key, const char* fallback) {
    const char* value = nullptr;
    return g_variant_lookup(options, key, "&s", &value) ? value : fallback;
}

GVariant* shortcutList() {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    if (!state.boundTrigger.empty()) {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string("Save the current page to Tolvar"));
        g_variant_builder_add(&properties, "{sv}", "trigger_description",
                              g_variant_new_string(state.boundTrigger.c_str()));
        g_variant_builder_add(&list, "(sa{sv})", "quick-save", &properties);
    }
    return g_variant_builder_end(&list);
}

// Answers a call with its Request path, then its Response (unless `answer` is false).
void respond(GDBusMethodInvocation* invocation, const std::string& request, guint32 code, GVariant* results,
             bool answer = true) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    if (!answer) {
        g_variant_unref(g_variant_ref_sink(results));
        return;
    }
    g_dbus_connection_emit_signal(state.connection, nullptr, request.c_str(), "org.freedesktop.portal.Request",
                                  "Response", g_variant_new("(u@a{sv})", code, results), nullptr);
}

GVariant* results(const char* key, GVariant* value) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
    if (key != nullptr) g_variant_builder_add(&builder, "{sv}", key, value);
    return g_variant_builder_end(&builder);
}

void onCall(GDBusConnection*, const char* sender, const char*, const char*, const char* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer) {
    const std::string requests = std::string(portalPath) + "/request/" + escapedSender(sender) + "/";
    if (std::string(method) == "Register") {
        const char* id = nullptr;
        g_variant_get_child(parameters, 0, "&s", &id);
        record(std::string("Register ") + id);
        return g_dbus_method_invocation_return_value(invocation, nullptr);
    }
    if (std::string(method) == "Read") {
        const char* group = nullptr;
        const char* key = nullptr;
        g_variant_get(parameters, "(&s&s)", &group, &key);
        if (std::string(group) != "org.freedesktop.appearance" || std::string(key) != "color-scheme") {
            return g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                                              "Requested setting not found");
        }
        return g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(state.colourScheme))));
    }
    if (std::string(method) == "ConfigureShortcuts") {
        const char* session = nullptr;
        g_variant_get_child(parameters, 0, "&o", &session);
        record(std::string("ConfigureShortcuts") + (session == state.session ? "" : " for another session"));
        return g_dbus_method_invocation_return_value(invocation, nullptr);
    }
    if (std::string(method) == "CreateSession") {
        GVariant* options = g_variant_get_child_value(parameters, 0);
        state.session = std::string(portalPath) + "/session/" + escapedSender(sender) + "/" +
                        token(options, "session_handle_token", "t");
        // Portals of this form ignore the "shortcuts" option; it is recorded to show it was sent.
        GVariant* offered = g_variant_lookup_value(options, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
        record("CreateSession" + (offered != nullptr ? describe(offered) : std::string()));
        if (offered != nullptr) g_variant_unref(offered);
        respond(invocation, requests + token(options, "handle_token", "t"), 0,
                results("session_handle", g_variant_new_string(state.session.c_str())));
        return g_variant_unref(options);
    }
    GVariant* options = g_variant_get_child_value(parameters, g_variant_n_children(parameters) - 1);
    const std::string request = requests + token(options, "handle_token", "t");
    g_variant_unref(options);
    if (std::string(method) == "ListShortcuts") {
        record("ListShortcuts");
        return respond(invocation, request, 0, results("shortcuts", shortcutList()));
    }
    // BindShortcuts: record what was asked, then bind, refuse or stay silent.
    GVariant* shortcuts = g_variant_get_child_value(parameters, 1);
    record("BindShortcuts" + describe(shortcuts));
    g_variant_unref(shortcuts);
    if (state.mode == "bind") state.boundTrigger = state.trigger;
    respond(invocation, request, state.mode == "refuse" ? 1 : 0, results("shortcuts", shortcutList()),
            state.mode != "silent");
}

GVariant* onProperty(GDBusConnection*, const char*, const char*, const char*, const char*, GError**, gpointer) {
    return g_variant_new_uint32(2);
}

// Like the real portal, it sends its signals to every listener: another program's session gets
// its own first.
void emitActivated(const std::string& session) {
    g_dbus_connection_emit_signal(
        state.connection, nullptr, portalPath, "org.freedesktop.portal.GlobalShortcuts", "Activated",
        g_variant_new("(ost@a{sv})", session.c_str(), "quick-save", guint64(0),
                      results("activation_token", g_variant_new_string("fake-activation-token"))),
        nullptr);
}

gboolean onActivate(gpointer) {
    record("emit Activated");
    emitActivated(otherSession);
    emitActivated(state.session);
    return G_SOURCE_CONTINUE;
}

void emitShortcutsChanged(const std::string& session) {
    g_dbus_connection_emit_signal(state.connection, nullptr, portalPath, "org.freedesktop.portal.GlobalShortcuts",
                                  "ShortcutsChanged", g_variant_new("(o@a(sa{sv}))", session.c_str(), shortcutList()),
                                  nullptr);
}

gboolean onChange(gpointer) {
    record("emit ShortcutsChanged");
    state.boundTrigger = "Ctrl+Alt+X";
    emitShortcutsChanged(otherSession);
    state.boundTrigger = "Ctrl+Shift+S";
    emitShortcutsChanged(state.session);
    return G_SOURCE_CONTINUE;
}

gboolean onColourSchemeSwitch(gpointer) {
    state.colourScheme = state.colourScheme == 1 ? 2 : 1;
    record("emit SettingChanged color-scheme " + std::to_string(state.colourScheme));
    g_dbus_connection_emit_signal(state.connection, nullptr, portalPath, "org.freedesktop.portal.Settings",
                                  "SettingChanged",
                                  g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme",
                                                g_variant_new_uint32(state.colourScheme)),
                                  nullptr);
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    state = {argv[1], argv[2], argv[3]};
    if (const char* scheme = g_getenv("FAKE_PORTAL_COLOR_SCHEME")) state.colourScheme = guint32(std::atoi(scheme));
    GError* error = nullptr;
    state.connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (state.connection == nullptr) return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, &error);
    const GDBusInterfaceVTable vtable{onCall, onProperty, nullptr, {}};
    for (int i = 0; node->interfaces[i] != nullptr; ++i) {
        g_dbus_connection_register_object(state.connection, portalPath, node->interfaces[i], &vtable, nullptr, nullptr,
                                          nullptr);
    }
    g_unix_signal_add(SIGUSR1, onActivate, nullptr);
    g_unix_signal_add(SIGUSR2, onChange, nullptr);
    g_unix_signal_add(SIGHUP, onColourSchemeSwitch, nullptr);
    g_bus_own_name_on_connection(
        state.connection, "org.freedesktop.portal.Desktop", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const char*, gpointer) { record("ready"); }, nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, false));
}
