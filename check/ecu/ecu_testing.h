// Whether a car's ECU answers through the adapter at a path: the port looked
// at as every test looks at it (who holds it, does it open), then one opening
// at 10400 for the wake-up handshakes, and the close that puts the line back.
// The loopback text is never sent onto a car's bus: the adapter's echo is
// judged from the handshake's own bytes.
#pragma once

#include "check/ecu/ecu_check.h"
#include "check/line/adapter_testing.h"

#include <string>

struct EcuTest {
    // The port as a test sees it: its identity, whether it opened, who holds
    // it, the rate the line read back; its exit status the check's.
    AdapterTest port;
    EcuCheck ecu;
};

// Checks the ECU behind the path as the request asks. A port others have
// open is left alone unless forced. Main thread; interruption_install first.
EcuTest test_ecu(const std::string& path, const EcuRequest& request, bool force);
