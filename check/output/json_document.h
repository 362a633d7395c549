// lantoric-check's output for scripts: one JSON document made with json-glib.
// Every string in it is valid UTF-8: a path that is not also comes as
// "path_bytes", the list of its byte values; received bytes come as hex, and
// as the text the window shows (zero bytes add nothing) with each byte read as
// the ISO-8859-1 character of that value.
#pragma once

#include "check/ecu/ecu_check.h"
#include "check/line/adapter_testing.h"
#include "check/port/port_listing.h"

#include <string>
#include <vector>

std::string listing_json(const PortListing& listing, int exit_status);
// With --ecu, ecu_checks holds the ECU check of each test, in the same order:
// each test then has an object "ecu" instead of its runs, and its exit
// status is the ECU check's.
std::string tests_json(const std::vector<AdapterTest>& tests, int exit_status,
                       const std::vector<EcuCheck>& ecu_checks = {});
// The program and its version, for --json --version.
std::string version_json();
