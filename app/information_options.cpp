#include "app/information_options.h"

#include <cstring>

namespace {

constexpr const char* HELP_TEXT =
    "Usage: lantoric [TOOLKIT-OPTION...]\n"
    "Tells in one click whether a USB K-line diagnostic adapter works: choose\n"
    "its /dev/ttyUSB* port, press Test and read the verdict in the status line.\n"
    "\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Every other option goes to the toolkit, for example --display=DISPLAY.\n"
    "Checks without a display, and why a port is missing: lantoric-check --help.\n"
    "Verdicts and their meaning: man lantoric\n";

} // namespace

bool print_information_option(int argument_count, char** argument_vector, std::FILE* out) {
    for (int index = 1; index < argument_count; ++index) {
        const char* argument = argument_vector[index];
        if (std::strcmp(argument, "--") == 0) {
            return false;
        }
        if (std::strcmp(argument, "--help") == 0) {
            std::fputs(HELP_TEXT, out);
            return true;
        }
        if (std::strcmp(argument, "--version") == 0) {
            std::fputs("lantoric " LANTORIC_VERSION "\n", out);
            return true;
        }
    }
    return false;
}
