#include "quicksave/QuickSaveShortcut.h"

#include <algorithm>

namespace QuickSaveShortcut {

bool shouldAskPortal(bool x11KeyHeld, bool waylandSession) { return !x11KeyHeld && waylandSession; }

std::optional<std::string> triggerInEffect(bool x11KeyHeld, const std::optional<std::string>& portalTrigger) {
    if (x11KeyHeld) return std::string(x11Trigger);
    if (!portalTrigger) return std::nullopt;
    const bool blank = std::all_of(portalTrigger->begin(), portalTrigger->end(),
                                   [](unsigned char c) { return c == ' ' || c == '\t' || c == '\n'; });
    if (blank) return std::nullopt;
    return portalTrigger;
}

Texts texts(const std::optional<std::string>& trigger) {
    if (!trigger) {
        return {.statusMenuTitle = "Save Current Page…",
                .bookmarksMenuTitle = "Quick Save Current Page…",
                .tooltip = "Tolvar — “Save Current Page…” saves the page you're reading",
                .hint = "Paste a link, or bind a keyboard shortcut to “tolvar --quick-save”."};
    }
    return {.statusMenuTitle = "Save Current Page…  " + *trigger,
            .bookmarksMenuTitle = "Quick Save Current Page…  " + *trigger,
            .tooltip = "Tolvar — " + *trigger + " saves the page you're reading",
            .hint = "Paste a link, or press " + *trigger + " while a browser page is in front."};
}

}  // namespace QuickSaveShortcut
