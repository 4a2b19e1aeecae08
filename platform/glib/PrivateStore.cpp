#include "platform/PrivateStore.h"

#include <glib.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view sqliteHeader{"SQLite format 3\0", 16};

bool isStoreName(const fs::path& file) {
    const auto extension = file.extension();
    return extension == ".sqlite" || extension == ".sqlite3" || extension == ".db" || extension == ".localstorage";
}

// An empty file is a database SQLite will fill; anything else must start with its header.
bool isDamaged(const fs::path& file) {
    std::error_code error;
    if (fs::file_size(file, error) == 0 || error) return false;
    std::array<char, sqliteHeader.size()> start{};
    std::ifstream in(file, std::ios::binary);
    in.read(start.data(), start.size());
    return in.gcount() != std::streamsize(start.size()) || std::string_view(start.data(), start.size()) != sqliteHeader;
}

// An application bundle installed among the data (Tolvar.app, or a copy staged beside it for an
// update) keeps its own modes: its signature covers them.
bool isBundle(const fs::directory_entry& entry, std::error_code& error) {
    const std::string name = entry.path().filename().string();
    const bool bundleName = name.ends_with(".app") || (name.starts_with(".") && name.find(".app.") != std::string::npos);
    return bundleName && entry.is_directory(error) && !entry.is_symlink(error);
}

fs::path unusedName(const fs::path& file, const std::string& stamp) {
    fs::path candidate = file.string() + ".damaged-" + stamp;
    for (int n = 2; fs::exists(fs::symlink_status(candidate)); ++n) {
        candidate = file.string() + ".damaged-" + stamp + "-" + std::to_string(n);
    }
    return candidate;
}

}  // namespace

std::vector<fs::path> applicationFolders(const std::string& applicationName) {
    return {fs::path(g_get_user_data_dir()) / applicationName, fs::path(g_get_user_cache_dir()) / applicationName,
            fs::path(g_get_user_config_dir()) / applicationName};
}

void makePrivate(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(fs::symlink_status(folder, error))) return;
    constexpr auto shared = fs::perms::group_all | fs::perms::others_all;
    fs::permissions(folder, shared, fs::perm_options::remove, error);
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_symlink(error)) continue;
        if (isBundle(*it, error)) {
            it.disable_recursion_pending();
            continue;
        }
        fs::permissions(it->path(), shared, fs::perm_options::remove, error);
        error.clear();
    }
}

std::vector<fs::path> setAsideDamagedStores(const fs::path& folder, const std::string& stamp) {
    std::vector<fs::path> damaged;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (isBundle(*it, error)) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(error) && !it->is_symlink(error) && isStoreName(it->path()) && isDamaged(it->path())) {
            damaged.push_back(it->path());
        }
    }
    std::vector<fs::path> setAside;
    for (const auto& file : damaged) {
        const auto target = unusedName(file, stamp);
        if (std::rename(file.c_str(), target.c_str()) != 0) continue;
        setAside.push_back(target);
        // A journal left beside a damaged database belongs to it, not to the fresh one.
        for (const char* suffix : {"-wal", "-shm", "-journal"}) {
            const fs::path companion = file.string() + suffix;
            if (fs::exists(fs::symlink_status(companion, error))) {
                std::rename(companion.c_str(), (target.string() + suffix).c_str());
            }
        }
    }
    return setAside;
}

std::string fileTimeStamp() {
    GDateTime* now = g_date_time_new_now_local();
    gchar* text = g_date_time_format(now, "%Y%m%d-%H%M%S");
    std::string stamp = text != nullptr ? text : "unknown-time";
    g_free(text);
    g_date_time_unref(now);
    return stamp;
}

}  // namespace platform
