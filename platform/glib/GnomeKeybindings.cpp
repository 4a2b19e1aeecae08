// GNOME's custom keyboard shortcuts through GSettings, with the schemas GNOME's settings daemon
// installs.
#include "platform/GnomeKeybindings.h"

#include <gio/gio.h>

#include <algorithm>

#include "core/Environment.h"
#include "platform/glib/GObjectPtr.h"

namespace platform {
namespace {

constexpr const char* listSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* listKey = "custom-keybindings";
constexpr const char* entrySchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

GSettingsSchema* lookUpSchema(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return source == nullptr ? nullptr : g_settings_schema_source_lookup(source, id, true);
}

// GSettings aborts on a malformed relocatable path; a list edited by hand may hold one.
bool isSettingsPath(const std::string& path) {
    return path.size() > 1 && path.front() == '/' && path.back() == '/' && path.find("//") == std::string::npos;
}

std::string stringOf(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string text = value;
    g_free(value);
    return text;
}

class GSettingsKeybindings final : public GnomeKeybindings {
public:
    GSettingsKeybindings(GSettingsSchema* list, GSettingsSchema* entry, std::function<void()> changed)
        : list_(g_settings_new_full(list, nullptr, nullptr)), entrySchema_(entry), changed_(std::move(changed)) {
        g_settings_schema_unref(list);
        if (!changed_) return;
        g_signal_connect(list_.get(), "changed", G_CALLBACK(&GSettingsKeybindings::onListChanged), this);
        watchEntries();
    }

    ~GSettingsKeybindings() override {
        g_signal_handlers_disconnect_by_data(list_.get(), this);
        for (auto& watched : watchedEntries_) g_signal_handlers_disconnect_by_data(watched.get(), this);
        g_settings_schema_unref(entrySchema_);
    }

    std::vector<GnomeKeybinding> entries() const override {
        std::vector<GnomeKeybinding> found;
        for (const auto& path : paths()) {
            if (!isSettingsPath(path)) continue;
            GObjectPtr<GSettings> entry(openEntry(path));
            found.push_back({path, stringOf(entry.get(), "name"), stringOf(entry.get(), "command"),
                             stringOf(entry.get(), "binding")});
        }
        return found;
    }

    bool add(const GnomeKeybinding& wanted) override {
        if (!isSettingsPath(wanted.path)) return false;
        GObjectPtr<GSettings> entry(openEntry(wanted.path));
        bool stored = g_settings_set_string(entry.get(), "name", wanted.name.c_str()) &&
                      g_settings_set_string(entry.get(), "command", wanted.command.c_str()) &&
                      g_settings_set_string(entry.get(), "binding", wanted.binding.c_str());
        auto list = paths();
        list.push_back(wanted.path);
        stored = stored && storePaths(list);
        g_settings_sync();
        return stored;
    }

    bool remove(const std::string& path) override {
        auto list = paths();
        std::erase(list, path);
        const bool stored = storePaths(list);
        if (isSettingsPath(path)) {
            GObjectPtr<GSettings> entry(openEntry(path));
            for (const char* key : {"name", "command", "binding"}) g_settings_reset(entry.get(), key);
        }
        g_settings_sync();
        return stored;
    }

private:
    GSettings* openEntry(const std::string& path) const {
        return g_settings_new_full(entrySchema_, nullptr, path.c_str());
    }

    std::vector<std::string> paths() const {
        gchar** values = g_settings_get_strv(list_.get(), listKey);
        std::vector<std::string> list;
        for (gchar** value = values; *value != nullptr; ++value) list.emplace_back(*value);
        g_strfreev(values);
        return list;
    }

    bool storePaths(const std::vector<std::string>& list) {
        std::vector<const char*> values;
        for (const auto& path : list) values.push_back(path.c_str());
        values.push_back(nullptr);
        return g_settings_set_strv(list_.get(), listKey, values.data());
    }

    // Each entry of the list is watched, so that a binding changed in GNOME's settings is followed.
    void watchEntries() {
        for (auto& watched : watchedEntries_) g_signal_handlers_disconnect_by_data(watched.get(), this);
        watchedEntries_.clear();
        for (const auto& path : paths()) {
            if (!isSettingsPath(path)) continue;
            GObjectPtr<GSettings> entry(openEntry(path));
            g_signal_connect(entry.get(), "changed", G_CALLBACK(&GSettingsKeybindings::onEntryChanged), this);
            // GSettings reports changes only for keys read since the object was made.
            for (const char* key : {"name", "command", "binding"}) g_variant_unref(g_settings_get_value(entry.get(), key));
            watchedEntries_.push_back(std::move(entry));
        }
    }

    static void onListChanged(GSettings*, const char*, gpointer data) {
        auto* self = static_cast<GSettingsKeybindings*>(data);
        self->watchEntries();
        self->changed_();
    }

    static void onEntryChanged(GSettings*, const char*, gpointer data) {
        static_cast<GSettingsKeybindings*>(data)->changed_();
    }

    GObjectPtr<GSettings> list_;
    GSettingsSchema* entrySchema_;
    std::function<void()> changed_;
    std::vector<GObjectPtr<GSettings>> watchedEntries_;
};

}  // namespace

std::unique_ptr<GnomeKeybindings> openGnomeKeybindings(std::function<void()> changed) {
    GSettingsSchema* list = lookUpSchema(listSchema);
    GSettingsSchema* entry = lookUpSchema(entrySchema);
    if (list == nullptr || entry == nullptr) {
        if (list != nullptr) g_settings_schema_unref(list);
        if (entry != nullptr) g_settings_schema_unref(entry);
        return nullptr;
    }
    auto keybindings = std::make_unique<GSettingsKeybindings>(list, entry, std::move(changed));
    // The list is read once, so that its changes are reported from now on.
    keybindings->entries();
    return keybindings;
}

bool isGnomeSession() {
    const std::string desktops = core::environmentValue("XDG_CURRENT_DESKTOP").value_or("");
    std::size_t start = 0;
    while (start <= desktops.size()) {
        const auto end = std::min(desktops.find(':', start), desktops.size());
        if (desktops.compare(start, end - start, "GNOME") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace platform
