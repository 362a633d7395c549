// lantoric-check's output for people: one fact per line.
#pragma once

#include "check/adapter_test.h"
#include "check/port_listing.h"

#include <cstdio>

void print_listing(const PortListing& listing, std::FILE* out);

// One port's test: with one run its verdict, bytes and timing; with several
// also a summary, and the details of the first run that failed.
void print_test(const AdapterTest& test, std::FILE* out);
