// lantoric-check's output for people: one fact per line.
#pragma once

#include "check/line/adapter_testing.h"
#include "check/port/port_listing.h"

#include <cstdio>
#include <string>

void print_listing(const PortListing& listing, std::FILE* out);

// A port's USB identity, one fact per line; nothing when it has none.
void print_usb(const PortIdentity& port, std::FILE* out);

// One port's test: with one run its verdict, bytes and timing; with several
// also a summary, and the details of the first run that failed.
// A port another process has open is not tested: its holders are named
// instead. Every text from others (paths, process names, USB strings) is
// printed escaped.
void print_test(const AdapterTest& test, std::FILE* out);

// The first lines of print_test: the port and its rate, whether a program
// this user cannot see may have it open, and, for a port that was not tested,
// why. False when it was not tested (nothing more to print then).
bool print_test_heading(const AdapterTest& test, std::FILE* out);

// The last lines of print_test: who else has the tested port open.
void print_test_holders(const AdapterTest& test, std::FILE* out);

// Why a port whose echo came back cannot do what was asked (the rate, a
// K-line check), one line; empty when nothing failed.
std::string cannot_do_reason(const AdapterTest& test);

// Why the K-line checks leave a port whose echo came back without a pass,
// one line: it went away, it did not open again, or a check could not tell;
// empty otherwise.
std::string kline_trouble(const AdapterTest& test);

// The runs that did not succeed, by outcome: ", timeout: 2, the port went
// away: 1"; empty when all did.
std::string failed_run_counts(const AdapterTest& test);

// Who has a port open that was left alone, for one line: "process 12
// (cat), process 13 (sh)", or the sign of a program this user cannot see.
std::string holders_named(const PortHolders& holders);

// One holder of a port as every line names it: "process 12 (cat)", its
// command escaped.
std::string holder_named(const PortHolder& holder);

// What to do about a port another process has open.
std::string held_fix(const AdapterTest& test);
