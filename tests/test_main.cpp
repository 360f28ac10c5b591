// Runs the unit tests with Allegro started once, without a display, and the
// angle tables built, as every tool that links the world library does, and
// Allegro's PNG reader registered as the image tests' reference.
#include <gtest/gtest.h>

#include <string>

#include "core/world.h"

#include <loadpng.h>  // Required for: register_png_file_type(); needs allegro.h first

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    Error error;
    if (!StartAllegroHeadless(error)) {
        fprintf(stderr, "cannot start Allegro: %s\n", error.Message().c_str());
        return 1;
    }
    BuildTables();
    // Allegro's own PNG reader, which the image tests hold ours to.
    register_png_file_type();
    return RUN_ALL_TESTS();
}
