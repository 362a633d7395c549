// Main of the GUI test programs: the process starts like the program does
// (locale, text storage, toolkit with the main thread holding the GUI lock),
// under the virtual display that the test command provides.
#include "base/text_storage.h"
#include "gui/toolkit.h"
#include "tests/support/toolkit_checks.h"

#include <cstring>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    }
    if (!listing) {
        program_argument_count = argc;
        program_argument_vector = argv;
        locale_init();
        text_storage_key_create();
        text_storage_create().release();
        install_toolkit_log_checks();
        toolkit_start();
    }
    return RUN_ALL_TESTS();
}
