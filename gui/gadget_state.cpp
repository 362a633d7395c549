#include "gui/gadget_state.h"

#include "base/thread_area.h"

#include <cstring>
#include <mutex>

namespace {

std::size_t state_offset = 0;
std::once_flag state_registered;

void clear_state(void* area) {
    std::memset(area, 0, sizeof(GadgetState));
}

} // namespace

void gadget_state_register() {
    std::call_once(state_registered, [] {
        state_offset = thread_area_register(sizeof(GadgetState), clear_state, nullptr);
    });
}

GadgetState* gadget_state() {
    gadget_state_register();
    return thread_area_get_as<GadgetState>(state_offset);
}
