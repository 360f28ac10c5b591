// boardtool's own help: every command listed once, in the one order the
// command table gives, whatever order the program was linked in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

TEST(BoardtoolHelp, ListsEveryCommandOnceInTheTablesOrder)
{
    const CommandResult result = RunCommand(Boardtool("--help"));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> order = {"info",   "check",  "map",   "render",       "new",            "set",
                                            "import", "export", "bench", "image-folder", "tiled-extension"};
    size_t from = result.out.find("Subcommands:");
    ASSERT_NE(from, std::string::npos) << result.out;
    for (const std::string& name : order) {
        // A command's line starts with two spaces and its name.
        const std::string line = "\n  " + name + " ";
        const size_t at = result.out.find(line, from);
        ASSERT_NE(at, std::string::npos) << name << " missing or out of order in:\n" << result.out;
        EXPECT_EQ(result.out.find(line, at + 1), std::string::npos) << name << " listed twice";
        from = at + line.size();
    }
}

TEST(BoardtoolHelp, NamesTheCommandsWhenOneIsUnknown)
{
    const CommandResult result = RunCommand(Boardtool("frobnicate"));
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("unknown command 'frobnicate'; the commands are info, check, map, render, new, set, "
                              "import, export, bench, image-folder, tiled-extension"),
              std::string::npos)
        << result.err;
}
