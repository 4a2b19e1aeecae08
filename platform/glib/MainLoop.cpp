#include "platform/MainLoop.h"

#include <glib.h>

#include <cmath>

namespace platform {
namespace {

using Work = std::function<void()>;

guint milliseconds(double seconds) { return static_cast<guint>(std::llround(std::max(0.0, seconds) * 1000.0)); }

gboolean runOnce(gpointer data) {
    (*static_cast<Work*>(data))();
    return G_SOURCE_REMOVE;
}

gboolean runRepeatedly(gpointer data) {
    (*static_cast<Work*>(data))();
    return G_SOURCE_CONTINUE;
}

void deleteWork(gpointer data) { delete static_cast<Work*>(data); }

// The work of a one-shot timer with the state its handle sees.
struct Shot {
    Work work;
    std::shared_ptr<Timer::State> state;
};

gboolean runShot(gpointer data) {
    auto* shot = static_cast<Shot*>(data);
    // Marked as run first: the work may drop or replace the handle, whose source GLib removes anyway.
    shot->state->pending = false;
    shot->work();
    return G_SOURCE_REMOVE;
}

void deleteShot(gpointer data) { delete static_cast<Shot*>(data); }

Timer timerOf(guint sourceId) {
    auto state = std::make_shared<Timer::State>();
    state->remove = [sourceId] { g_source_remove(sourceId); };
    return Timer(std::move(state));
}

}  // namespace

void runAfter(double seconds, std::function<void()> work) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runOnce, new Work(std::move(work)), deleteWork);
}

Timer runOnceAfter(double seconds, std::function<void()> work) {
    auto state = std::make_shared<Timer::State>();
    const guint sourceId = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runShot,
                                              new Shot{std::move(work), state}, deleteShot);
    state->remove = [sourceId] { g_source_remove(sourceId); };
    return Timer(std::move(state));
}

Timer repeatEvery(double seconds, std::function<void()> work) {
    return timerOf(g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runRepeatedly,
                                      new Work(std::move(work)), deleteWork));
}

}  // namespace platform
