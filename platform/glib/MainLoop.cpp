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

}  // namespace

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        cancel();
        sourceId_ = std::exchange(other.sourceId_, 0);
    }
    return *this;
}

void Timer::cancel() {
    if (sourceId_ != 0) g_source_remove(std::exchange(sourceId_, 0));
}

void runAfter(double seconds, std::function<void()> work) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runOnce, new Work(std::move(work)), deleteWork);
}

Timer repeatEvery(double seconds, std::function<void()> work) {
    return Timer(g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runRepeatedly,
                                    new Work(std::move(work)), deleteWork));
}

}  // namespace platform
