#include "app/ShellServices.h"

#include <utility>

namespace {

ShellServices& current() {
    static ShellServices inPlace;
    return inPlace;
}

}  // namespace

const ShellServices& shellServices() { return current(); }

void setShellServices(ShellServices replacement) { current() = std::move(replacement); }
