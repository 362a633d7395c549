// lantoric-check --ecu's output for people: each wake-up tried, each step's
// bytes and timing against its window, then the diagnosis and its fix, as
// the K-line checks print theirs.
#pragma once

#include "check/ecu/ecu_check.h"
#include "check/line/adapter_testing.h"

#include <cstdio>
#include <string>

// One port's ECU check: the port as print_test heads it (or why it was not
// tested), the rate, every attempt's steps, and the diagnosis with its fix;
// for an ECU that answered, its protocol, address, key bytes and what they
// mean, and its rate.
void print_ecu_test(const AdapterTest& port, const EcuCheck& ecu, std::FILE* out);

// One step's timing for one line: "W1 at least 61.0 ms, at most 63.2 ms;
// window 60-300 ms: yes".
std::string step_timing_text(const StepTiming& timing);

// The line for standard error when the port was not tested or no wake-up was
// tried; empty otherwise.
std::string ecu_trouble(const AdapterTest& port, const EcuCheck& ecu);

// An ECU address as the options take it: "0x33".
std::string address_text(int address);
