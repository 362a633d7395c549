// --watch: tests each USB serial adapter as it is plugged in, for a workshop
// testing a box of cables one after the other. Sleeps in poll on inotify
// when nothing happens: no timer wakes it while it waits.
#pragma once

#include "check/line/adapter_testing.h"
#include "check/output/block_output.h"
#include "check/command_line/options.h"

#include <string>
#include <vector>

// How long a new node closed to this user may wait for udev to open it (its
// group, then its mode, each an attribute change) before it is tested as it is.
inline constexpr std::chrono::seconds UDEV_SETUP_WAIT{5};

// Watches the folder for ttyUSB* and ttyACM* nodes until a signal asks it to
// stop. Ports there at the start are listed, and tested only with --all;
// each new one is tested as options say (--baud, --count, --kline, --force)
// and printed as one block with its USB identity; an unplugged one is said.
// Ends with a tally; returns the highest exit status of the tests (0 when
// none ran), and at least EXIT_NOT_OPENED when the folder could not be
// watched (said in the output) or its watch failed (said on standard error).
// Changes the kernel could not queue are found by looking at the folder
// again. With --json the tests run are added to tests, for the document.
int watch_ports(const CheckOptions& options, BlockOutput& output, std::vector<AdapterTest>& tests,
                const std::string& folder = "/dev");
