#include "platform/Settings.h"

#include <glib.h>
#include <glib/gstdio.h>

namespace platform {
namespace {

constexpr const char* group = "defaults";

GKeyFile* loadKeyFile() {
    GKeyFile* file = g_key_file_new();
    // A missing file is an empty one; so is an unreadable one, whose keys count as absent.
    g_key_file_load_from_file(file, settingsFile().c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
    return file;
}

}  // namespace

std::filesystem::path settingsFile() {
    return std::filesystem::path(g_get_user_config_dir()) / "tolvar" / "defaults.ini";
}

std::optional<std::string> readSetting(const std::string& key) {
    GKeyFile* file = loadKeyFile();
    gchar* value = g_key_file_get_string(file, group, key.c_str(), nullptr);
    std::optional<std::string> result;
    if (value != nullptr) result = value;
    g_free(value);
    g_key_file_free(file);
    return result;
}

bool writeSetting(const std::string& key, const std::string& value) {
    const auto path = settingsFile();
    if (g_mkdir_with_parents(path.parent_path().c_str(), 0700) != 0) return false;
    GKeyFile* file = loadKeyFile();
    g_key_file_set_string(file, group, key.c_str(), value.c_str());
    gsize length = 0;
    gchar* text = g_key_file_to_data(file, &length, nullptr);
    // Written to a temporary file, flushed and renamed over the old one.
    const bool written = g_file_set_contents_full(path.c_str(), text, static_cast<gssize>(length),
                                                  G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
    g_free(text);
    g_key_file_free(file);
    return written;
}

}  // namespace platform
