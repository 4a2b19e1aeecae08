// The global shortcut through the desktop portal (org.freedesktop.portal.GlobalShortcuts) over
// GDBus. Every portal call that asks something of the user answers through a Request object: its
// path is known in advance from this connection's unique name and a token of ours, so the Response
// signal is subscribed to before the call is made and cannot be missed.
#include <gio/gio.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/DesktopIntegration.h"
#include "platform/glib/GObjectPtr.h"
#include "platform/glib/Portal.h"

namespace platform {
namespace {

constexpr const char* shortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* registryInterface = "org.freedesktop.host.portal.Registry";

using Results = GVariant*;  // a{sv}, borrowed for the length of the handler

// The same every run: desktops that keep the user's binding per session (KDE names its component
// after it) find it again at the next start.
constexpr const char* sessionHandleToken = "tolvar_quick_save";

// The description of the shortcut's trigger in an a(sa{sv}) list of shortcuts, or nothing when the
// shortcut is not in it or has no description.
std::optional<std::string> triggerOf(GVariant* shortcuts, const std::string& id) {
    if (shortcuts == nullptr || !g_variant_is_of_type(shortcuts, G_VARIANT_TYPE("a(sa{sv})"))) return std::nullopt;
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* shortcutId = nullptr;
    GVariant* properties = nullptr;
    std::optional<std::string> trigger;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &shortcutId, &properties)) {
        const char* description = nullptr;
        if (id == shortcutId && g_variant_lookup(properties, "trigger_description", "&s", &description)) {
            trigger = description;
        }
        g_variant_unref(properties);
    }
    return trigger;
}

// The shortcut's presence in a list of shortcuts.
bool listsShortcut(GVariant* shortcuts, const std::string& id) {
    if (shortcuts == nullptr || !g_variant_is_of_type(shortcuts, G_VARIANT_TYPE("a(sa{sv})"))) return false;
    GVariantIter iter;
    g_variant_iter_init(&iter, shortcuts);
    const char* shortcutId = nullptr;
    GVariant* properties = nullptr;
    bool found = false;
    while (g_variant_iter_next(&iter, "(&s@a{sv})", &shortcutId, &properties)) {
        found = found || id == shortcutId;
        g_variant_unref(properties);
    }
    return found;
}

class Session final : public std::enable_shared_from_this<Session> {
public:
    Session(PortalShortcutRequest request, PortalShortcutEvents events)
        : request_(std::move(request)), events_(std::move(events)) {}

    ~Session() {
        if (!connection_) return;
        for (const guint id : {activatedSubscription_, changedSubscription_, responseSubscription_}) {
            if (id != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), id);
        }
    }

    void start() {
        g_bus_get(G_BUS_TYPE_SESSION, nullptr, &Session::onBus, weakSelf());
    }

    // ConfigureShortcuts came with version 2 of the interface.
    bool offersSettings() const { return version_ >= 2 && !sessionHandle_.empty(); }

    // The portal answers nothing: the desktop shows its settings, and ShortcutsChanged follows a change.
    void openSettings() {
        if (!offersSettings()) return;
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_dbus_connection_call(connection_.get(), portal::busName, portal::objectPath, shortcutsInterface, "ConfigureShortcuts",
                               g_variant_new("(osa{sv})", sessionHandle_.c_str(), "", &options), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }

private:
    using Weak = std::weak_ptr<Session>;

    gpointer weakSelf() { return new Weak(weak_from_this()); }

    // The session behind a callback's user data, or nothing when it is gone; frees the data.
    static std::shared_ptr<Session> take(gpointer data) {
        auto* weak = static_cast<Weak*>(data);
        auto self = weak->lock();
        delete weak;
        return self;
    }

    static void onBus(GObject*, GAsyncResult* result, gpointer data) {
        GObjectPtr<GDBusConnection> connection(g_bus_get_finish(result, nullptr));
        auto self = take(data);
        if (!self || !connection) {
            if (self) self->settle(std::nullopt);
            return;
        }
        self->connection_ = std::move(connection);
        self->subscribeToShortcuts();
        self->registerApplication();
    }

    void subscribeToShortcuts() {
        activatedSubscription_ = subscribe(portal::objectPath, shortcutsInterface, "Activated", &Session::onActivated);
        changedSubscription_ = subscribe(portal::objectPath, shortcutsInterface, "ShortcutsChanged", &Session::onChanged);
    }

    guint subscribe(const std::string& path, const char* interface, const char* member, GDBusSignalCallback callback) {
        return g_dbus_connection_signal_subscribe(connection_.get(), portal::busName, interface, member, path.c_str(), nullptr,
                                                  G_DBUS_SIGNAL_FLAGS_NONE, callback, new Weak(weak_from_this()),
                                                  [](gpointer data) { delete static_cast<Weak*>(data); });
    }

    static std::shared_ptr<Session> peek(gpointer data) { return static_cast<Weak*>(data)->lock(); }

    // A program outside a sandbox names itself to the portal before anything else, so that the
    // desktop's confirmation shows its name and icon. Portals without the registry answer an error,
    // which changes nothing.
    void registerApplication() {
        if (access("/.flatpak-info", F_OK) == 0) return readVersion();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_dbus_connection_call(connection_.get(), portal::busName, portal::objectPath, registryInterface, "Register",
                               g_variant_new("(sa{sv})", request_.applicationId.c_str(), &options), nullptr,
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &Session::onRegistered, weakSelf());
    }

    static void onRegistered(GObject* source, GAsyncResult* result, gpointer data) {
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        if (reply != nullptr) g_variant_unref(reply);
        if (auto self = take(data)) self->readVersion();
    }

    void readVersion() {
        g_dbus_connection_call(connection_.get(), portal::busName, portal::objectPath, "org.freedesktop.DBus.Properties", "Get",
                               g_variant_new("(ss)", shortcutsInterface, "version"), G_VARIANT_TYPE("(v)"),
                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &Session::onVersion, weakSelf());
    }

    static void onVersion(GObject* source, GAsyncResult* result, gpointer data) {
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        auto self = take(data);
        if (self && reply != nullptr) {
            GVariant* version = nullptr;
            g_variant_get(reply, "(v)", &version);
            if (g_variant_is_of_type(version, G_VARIANT_TYPE_UINT32)) self->version_ = g_variant_get_uint32(version);
            g_variant_unref(version);
        }
        if (reply != nullptr) g_variant_unref(reply);
        if (!self) return;
        if (reply == nullptr) return self->settle(std::nullopt);  // no GlobalShortcuts portal here
        self->createSession();
    }

    // The shortcut goes along in the options: portals of the interface's earlier form (Plasma 5.27)
    // register shortcuts only from there and answer them in the results; the others ignore it.
    void createSession() {
        const std::string token = nextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(sessionHandleToken));
        g_variant_builder_add(&options, "{sv}", "shortcuts", wantedShortcuts());
        askPortal(token, "CreateSession", g_variant_new("(a{sv})", &options), [](Session& self, Results results) {
            const char* handle = nullptr;
            if (!g_variant_lookup(results, "session_handle", "&s", &handle) &&
                !g_variant_lookup(results, "session_handle", "&o", &handle)) {
                return self.settle(std::nullopt);
            }
            self.sessionHandle_ = handle;
            if (self.settleIfListed(results)) return;
            self.listShortcuts();
        });
    }

    // The portal remembers a binding between runs; only a shortcut it does not know is bound, so the
    // user is not asked again on every start.
    void listShortcuts() {
        const std::string token = nextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        askPortal(token, "ListShortcuts", g_variant_new("(oa{sv})", sessionHandle_.c_str(), &options),
                  [](Session& self, Results results) {
                      if (self.settleIfListed(results)) return;
                      if (!self.request_.mayAskToBind) return self.settle(std::nullopt);
                      self.bindShortcut();
                  });
    }

    // Settles on the shortcut's trigger when the results' "shortcuts" list it; false when they do not.
    bool settleIfListed(Results results) {
        GVariant* shortcuts = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
        const bool known = listsShortcut(shortcuts, request_.shortcutId);
        const auto trigger = triggerOf(shortcuts, request_.shortcutId);
        if (shortcuts != nullptr) g_variant_unref(shortcuts);
        if (known) settle(trigger);
        return known;
    }

    // The one shortcut, as CreateSession's options and BindShortcuts take it (a floating a(sa{sv})).
    GVariant* wantedShortcuts() const {
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&properties, "{sv}", "description", g_variant_new_string(request_.description.c_str()));
        g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                              g_variant_new_string(request_.preferredTrigger.c_str()));
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
        g_variant_builder_add(&shortcuts, "(sa{sv})", request_.shortcutId.c_str(), &properties);
        return g_variant_builder_end(&shortcuts);
    }

    void bindShortcut() {
        if (events_.bindingAsked) events_.bindingAsked();
        const std::string token = nextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        askPortal(token, "BindShortcuts",
                  g_variant_new("(o@a(sa{sv})sa{sv})", sessionHandle_.c_str(), wantedShortcuts(), "", &options),
                  [](Session& self, Results results) {
                      GVariant* bound = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
                      self.settle(triggerOf(bound, self.request_.shortcutId));
                      if (bound != nullptr) g_variant_unref(bound);
                  });
    }

    using ResponseHandler = void (*)(Session& self, Results results);

    // Calls a portal method whose answer comes as a Response on the Request object named by
    // `token`. A refusal, a cancellation or a failed call leaves the shortcut unbound.
    void askPortal(const std::string& token, const char* method, GVariant* parameters, ResponseHandler handler) {
        if (responseSubscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), responseSubscription_);
        pendingResponse_ = handler;
        responseSubscription_ =
            subscribe(requestPath(token), "org.freedesktop.portal.Request", "Response", &Session::onResponse);
        g_dbus_connection_call(connection_.get(), portal::busName, portal::objectPath, shortcutsInterface, method, parameters,
                               G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &Session::onRequestMade,
                               weakSelf());
    }

    static void onRequestMade(GObject* source, GAsyncResult* result, gpointer data) {
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        auto self = take(data);
        if (reply != nullptr) return g_variant_unref(reply);
        if (!self) return;
        self->endRequest();
        self->settle(std::nullopt);
    }

    static void onResponse(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                           gpointer data) {
        auto self = peek(data);
        if (!self || !self->pendingResponse_ || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
        const ResponseHandler handler = self->pendingResponse_;
        self->endRequest();
        guint32 code = 2;
        GVariant* results = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &code, &results);
        if (code == 0) handler(*self, results);
        else self->settle(std::nullopt);
        g_variant_unref(results);
    }

    void endRequest() {
        pendingResponse_ = nullptr;
        if (responseSubscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), responseSubscription_);
        responseSubscription_ = 0;
    }

    // Request objects live under the sender's unique name without its colon, dots made underscores.
    std::string requestPath(const std::string& token) const {
        std::string sender = g_dbus_connection_get_unique_name(connection_.get());
        if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
        for (char& c : sender) {
            if (c == '.') c = '_';
        }
        return std::string(portal::objectPath) + "/request/" + sender + "/" + token;
    }

    std::string nextToken() { return "tolvar" + std::to_string(++tokens_); }

    bool ours(GVariant* parameters) const {
        const char* session = nullptr;
        g_variant_get_child(parameters, 0, "&o", &session);
        return !sessionHandle_.empty() && session != nullptr && sessionHandle_ == session;
    }

    static void onActivated(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                            gpointer data) {
        auto self = peek(data);
        if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})")) || !self->ours(parameters)) return;
        const char* id = nullptr;
        GVariant* options = nullptr;
        g_variant_get(parameters, "(&o&st@a{sv})", nullptr, &id, nullptr, &options);
        const char* token = "";
        g_variant_lookup(options, "activation_token", "&s", &token);
        if (self->request_.shortcutId == id && self->events_.activated) self->events_.activated(token);
        g_variant_unref(options);
    }

    static void onChanged(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                          gpointer data) {
        auto self = peek(data);
        if (!self || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(oa(sa{sv}))")) || !self->ours(parameters)) {
            return;
        }
        GVariant* shortcuts = g_variant_get_child_value(parameters, 1);
        self->settle(triggerOf(shortcuts, self->request_.shortcutId));
        g_variant_unref(shortcuts);
    }

    void settle(const std::optional<std::string>& trigger) {
        if (events_.triggerChanged) events_.triggerChanged(trigger);
    }

    PortalShortcutRequest request_;
    PortalShortcutEvents events_;
    GObjectPtr<GDBusConnection> connection_;
    guint activatedSubscription_ = 0;
    guint changedSubscription_ = 0;
    guint responseSubscription_ = 0;
    ResponseHandler pendingResponse_ = nullptr;
    std::string sessionHandle_;
    guint32 version_ = 0;
    unsigned tokens_ = 0;
};

class PortalShortcutHandle final : public PortalShortcut {
public:
    explicit PortalShortcutHandle(std::shared_ptr<Session> session) : session_(std::move(session)) {}
    bool offersSettings() const override { return session_->offersSettings(); }
    void openSettings() override { session_->openSettings(); }

private:
    std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<PortalShortcut> bindPortalShortcut(const PortalShortcutRequest& request, PortalShortcutEvents events) {
    auto session = std::make_shared<Session>(request, std::move(events));
    session->start();
    return std::make_unique<PortalShortcutHandle>(std::move(session));
}

}  // namespace platform
