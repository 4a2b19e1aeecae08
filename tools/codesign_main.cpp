// tolvar-codesign: signs Tolvar.app bundles and checks their signatures.
//
//   tolvar-codesign --sign KEYFILE BUNDLE           sign with an Ed25519 private key (PEM)
//   tolvar-codesign --verify [--deep] [--strict] BUNDLE
//   tolvar-codesign -dv BUNDLE                      describe the signature on standard error
//   tolvar-codesign --generate-key KEYFILE          make a new private key (mode 0600)
//   tolvar-codesign --team-of-key KEYFILE           print the team identifier of a key
//
// Exit status 0 means success; everything a person should read goes to standard error.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/BundleSignature.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: tolvar-codesign --sign KEYFILE BUNDLE\n"
                 "       tolvar-codesign --verify [--deep] [--strict] BUNDLE\n"
                 "       tolvar-codesign -dv BUNDLE\n"
                 "       tolvar-codesign --generate-key KEYFILE\n"
                 "       tolvar-codesign --team-of-key KEYFILE\n");
    return 2;
}

int describe(const std::string& bundle) {
    // The team comes first, so no value read from the bundle can print a line ahead of it.
    const auto team = bundlesig::claimedTeam(bundle);
    std::fprintf(stderr, "TeamIdentifier=%s\n", team ? team->c_str() : "not set");
    const auto executable = bundlesig::infoValue(bundle, "CFBundleExecutable");
    const auto identifier = bundlesig::infoValue(bundle, "CFBundleIdentifier");
    std::fprintf(stderr, "Executable=%s\n",
                 bundlesig::printable(bundle + "/" + (executable ? *executable : std::string("?"))).c_str());
    std::fprintf(stderr, "Identifier=%s\n", bundlesig::printable(identifier ? *identifier : "?").c_str());
    std::fprintf(stderr, "Format=bundle\n");
    if (!team) {
        std::fprintf(stderr, "%s: code object is not signed at all\n", bundlesig::printable(bundle).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "--sign") {
        const auto result = bundlesig::sign(args[2], args[1]);
        if (!result.ok) {
            std::fprintf(stderr, "%s: %s\n", bundlesig::printable(args[2]).c_str(), result.text.c_str());
            return 1;
        }
        std::fprintf(stderr, "%s: signed bundle, TeamIdentifier=%s\n", bundlesig::printable(args[2]).c_str(),
                     result.text.c_str());
        return 0;
    }
    if (!args.empty() && args[0] == "--verify") {
        std::vector<std::string> bundles;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--deep" || args[i] == "--strict") continue;  // checks are always deep and strict
            if (args[i].starts_with("-")) return usage();
            bundles.push_back(args[i]);
        }
        if (bundles.size() != 1) return usage();
        const auto result = bundlesig::verify(bundles[0]);
        const auto shown = bundlesig::printable(bundles[0]);
        if (!result.ok) {
            std::fprintf(stderr, "%s: %s\n", shown.c_str(), bundlesig::printable(result.text).c_str());
            return 1;
        }
        std::fprintf(stderr, "%s: valid on disk\n%s: satisfies its Designated Requirement\n", shown.c_str(),
                     shown.c_str());
        return 0;
    }
    if (args.size() == 2 && (args[0] == "-dv" || args[0] == "-d")) return describe(args[1]);
    if (args.size() == 2 && args[0] == "--generate-key") {
        const auto result = bundlesig::generateKey(args[1]);
        if (!result.ok) {
            std::fprintf(stderr, "tolvar-codesign: %s\n", result.text.c_str());
            return 1;
        }
        std::printf("%s\n", result.text.c_str());
        return 0;
    }
    if (args.size() == 2 && args[0] == "--team-of-key") {
        const auto result = bundlesig::teamOfKey(args[1]);
        if (!result.ok) {
            std::fprintf(stderr, "tolvar-codesign: %s\n", result.text.c_str());
            return 1;
        }
        std::printf("%s\n", result.text.c_str());
        return 0;
    }
    return usage();
}
