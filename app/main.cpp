// Lantoric: tells whether a USB K-line adapter echoes what it sends.
#include "app/information_options.h"
#include "app/startup.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (print_information_option(argc, argv, stdout)) {
        return 0;
    }
    run_tester(argc, argv);
}
