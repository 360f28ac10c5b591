// Runs the unit tests with Allegro started once, without a display, and the
// angle tables built, as every tool that links the world library does.
#include <gtest/gtest.h>

#include <string>

#include "world.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    std::string error;
    if (!StartAllegroHeadless(error)) {
        fprintf(stderr, "cannot start Allegro: %s\n", error.c_str());
        return 1;
    }
    BuildTables();
    return RUN_ALL_TESTS();
}
