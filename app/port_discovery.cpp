#include "app/port_discovery.h"

#include "app/core/port_candidates.h"
#include "base/text_decoding.h"
#include "gui/text_encoding.h"
#include "serial/serial_probe.h"

#include <cstring>
#include <string>

namespace {

// The test opens the chooser's text, which went to the toolkit and back; a
// path that would come back changed would open another entry, so it is not
// offered at all.
bool survives_the_chooser(const std::string& path) {
    ToolkitText shown = text_to_toolkit(path.c_str());
    return std::strcmp(text_from_toolkit(shown.get()), path.c_str()) == 0;
}

} // namespace

void discover_ports(TextList& port_list) {
    // Every name is collected and the listing finished before any device is
    // touched, so opening a node never meets an open listing of /dev.
    TextList candidate_paths;
    for (const std::string& path : port_candidates(PORT_FOLDER, {USB_PORT_PATTERN})) {
        candidate_paths.add(path);
    }

    candidate_paths.reset();
    while (candidate_paths.next()) {
        const std::string& path = candidate_paths.current();
        // Only whether the node opens counts. The probe changes nothing on it,
        // so a port another program is using keeps its settings and its input.
        if (survives_the_chooser(path) && serial_probe(path.c_str()) != 0) {
            port_list.add(path);
        }
    }
}
