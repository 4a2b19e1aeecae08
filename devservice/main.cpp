// tolvar-devservice: a local stand-in for the Tolvar service host, for development, demos and
// end-to-end tests. See devservice/README.md.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include <glib-unix.h>

#include "devservice/Options.h"
#include "devservice/Service.h"
#include "devservice/SoupFrontEnd.h"
#include "devservice/SoupTitleFetcher.h"
#include "devservice/Store.h"

namespace {

constexpr const char* demoUserName = "demo";
constexpr const char* demoPassword = "tolvar-demo";

gboolean quitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

// A served folder may appear later (files are looked up on every request); until then its routes
// answer 404. Say so, in case the name is a typing error.
void warnIfNotAFolder(const std::optional<std::filesystem::path>& folder, const char* option) {
    std::error_code error;
    if (folder && !std::filesystem::is_directory(*folder, error)) {
        std::fprintf(stderr, "tolvar-devservice: %s %s is not a folder (yet); its files answer 404\n", option,
                     folder->c_str());
    }
}

void prepareDataFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (std::filesystem::create_directories(folder, error)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
    }
    if (!std::filesystem::is_directory(folder, error)) {
        throw std::runtime_error("--data: cannot create the folder " + folder.string());
    }
}

int run(const devservice::Options& options) {
    warnIfNotAFolder(options.releases, "--releases");
    warnIfNotAFolder(options.pages, "--pages");
    prepareDataFolder(options.dataDir);

    devservice::Store store(options.dataDir / "tolvar.sqlite3");
    const auto demo = store.ensureUser(demoUserName, demoPassword);
    if (options.demoSession) store.plantSession(demo.id, *options.demoSession);

    devservice::SoupTitleFetcher fetcher({std::chrono::seconds(options.fetchTimeoutSeconds), 2 * 1024 * 1024, 3});
    devservice::Service service(store, fetcher, {options.releases, options.pages});
    devservice::SoupFrontEnd frontEnd(service, options.clientTimeoutSeconds);
    const int port = frontEnd.listen(options.port);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, quitLoop, loop);
    g_unix_signal_add(SIGINT, quitLoop, loop);

    std::printf("http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    std::fprintf(stderr, "tolvar-devservice: listening on http://127.0.0.1:%d (data in %s)\n", port,
                 options.dataDir.c_str());

    g_main_loop_run(loop);
    fetcher.cancelAll();
    frontEnd.stop();
    g_main_loop_unref(loop);
    std::fprintf(stderr, "tolvar-devservice: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = devservice::parseOptions(arguments);
    if (std::holds_alternative<devservice::ShowHelp>(parsed)) {
        std::fputs(devservice::usage().c_str(), stdout);
        return 0;
    }
    if (const auto* error = std::get_if<devservice::OptionsError>(&parsed)) {
        std::fprintf(stderr, "tolvar-devservice: %s\n\n%s", error->message.c_str(), devservice::usage().c_str());
        return 2;
    }
    try {
        return run(std::get<devservice::Options>(parsed));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tolvar-devservice: %s\n", e.what());
        return 1;
    }
}
