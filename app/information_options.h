// The two options the tester answers itself, before the toolkit starts, so
// that they work without a display: --help and --version. Every other argument
// is left for the toolkit's own options.
#pragma once

#include <cstdio>

// Looks through the arguments up to a lone "--" for "--help" or "--version"
// and prints the first one found to `out`. Returns true when it printed (the
// program then ends with status 0), false when neither is there.
bool print_information_option(int argument_count, char** argument_vector, std::FILE* out);
