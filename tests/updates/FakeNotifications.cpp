// A stand-in for the desktop's notification service (org.freedesktop.Notifications) on the test's
// private session bus. It records each Notify as one line "Notify <app name>|<summary>|<body>" in
// the log file, answers with a fresh id, and writes "ready" once it owns the name.
//
//   fake-notifications LOG
#include <gio/gio.h>

#include <fstream>
#include <string>

namespace {

constexpr const char* objectPath = "/org/freedesktop/Notifications";
constexpr const char* introspection = R"xml(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)xml";

std::string logFile;
guint32 lastId = 0;

void record(const std::string& line) { std::ofstream(logFile, std::ios::app) << line << "\n" << std::flush; }

void onCall(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
            GDBusMethodInvocation* invocation, gpointer) {
    const std::string name = method;
    if (name == "Notify") {
        const char *application = nullptr, *summary = nullptr, *body = nullptr;
        g_variant_get_child(parameters, 0, "&s", &application);
        g_variant_get_child(parameters, 3, "&s", &summary);
        g_variant_get_child(parameters, 4, "&s", &body);
        record(std::string("Notify ") + application + "|" + summary + "|" + body);
        return g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++lastId));
    }
    if (name == "GetCapabilities") {
        const char* capabilities[] = {"body", nullptr};
        return g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    }
    if (name == "GetServerInformation") {
        return g_dbus_method_invocation_return_value(invocation,
                                                     g_variant_new("(ssss)", "fake-notifications", "tests", "1", "1.2"));
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);  // CloseNotification
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    logFile = argv[1];
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (connection == nullptr) return 1;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, &error);
    const GDBusInterfaceVTable vtable{onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection, objectPath, node->interfaces[0], &vtable, nullptr, nullptr, nullptr);
    g_bus_own_name_on_connection(
        connection, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const char*, gpointer) { record("ready"); }, nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, false));
}
