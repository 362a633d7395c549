// Lantoric: tells whether a USB K-line adapter echoes what it sends.
#include "app/startup.h"

int main(int argc, char** argv) {
    run_tester(argc, argv);
}
