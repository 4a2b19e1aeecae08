#include "platform/Services.h"

#include <utility>

namespace platform {
namespace {

Services& current() {
    static Services inPlace;
    return inPlace;
}

}  // namespace

const Services& services() { return current(); }

void setServices(Services replacement) { current() = std::move(replacement); }

}  // namespace platform
