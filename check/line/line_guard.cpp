#include "check/line/line_guard.h"

#include "check/common/byte_text.h"
#include "serial/serial_port.h"

#include <cstdio>

namespace {

// A line left low or in this program's settings misleads the next program
// that uses it, and no verdict covers it: said at once.
void tell_line_not_put_back(const std::string& path, const char* what_ran) {
    std::fprintf(stderr,
                 "lantoric-check: %s: the line could not be put back as it was after %s; "
                 "unplug the adapter and plug it in again\n",
                 escaped(path).c_str(), what_ran);
}

} // namespace

LineGuard::LineGuard(const PortRequest& request, AfterStop after_stop, const char* what_ran)
    : path_(request.path), what_ran_(what_ran) {
    // From the moment the opening takes the hold until the interruption
    // knows the port.
    SignalsDeferred deferred;
    stops_ = StoppedSince();
    opening_ = port_open(request);
    opened_ = static_cast<bool>(opening_.port);
    if (opened_) {
        interruption_watch(opening_.port.descriptor(), opening_.port.saved(), after_stop);
    }
}

object_number LineGuard::adopt() {
    if (!opened_ || adopted_ != 0) {
        return adopted_;
    }
    // The descriptor stays the one the interruption watches.
    adopted_ = serial_adopt(OBJECT_ANY, std::move(opening_.port));
    if (adopted_ == 0) {
        // The table let the port go as it came.
        SignalsDeferred deferred;
        opened_ = false;
        interruption_clear();
    }
    return adopted_;
}

void LineGuard::give_back() {
    if (!opened_) {
        return;
    }
    // From the close until the interruption forgets the port.
    SignalsDeferred deferred;
    const bool put_back = adopted_ != 0 ? serial_close(adopted_) : opening_.port.close_now();
    if (!put_back) {
        tell_line_not_put_back(path_, what_ran_);
    }
    opened_ = false;
    interruption_clear();
}
