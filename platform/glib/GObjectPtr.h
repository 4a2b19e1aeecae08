#pragma once

#include <glib-object.h>

#include <memory>

namespace platform {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// Holds one reference to a GObject and drops it when the holder goes. Construct it from a reference
// the caller owns: a _new() or _finish() result, or anything else returned with full transfer.
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// A holder of a new reference to `object`, which the caller keeps its own reference to.
template <typename T>
GObjectPtr<T> sharedGObject(T* object) {
    return GObjectPtr<T>(static_cast<T*>(g_object_ref(object)));
}

}  // namespace platform
