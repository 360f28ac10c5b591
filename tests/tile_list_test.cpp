// Tile lists and World::NewMap: the parser against the C library's fscanf,
// the fresh map NewMap builds, and the lists it refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "test_support.h"
#include "tile_list.h"
#include "world.h"

namespace {

// What fscanf makes of a tile list file: the count read with "%i", then as
// many names as that count asks for, read with "%s".
struct ScanfResult {
    bool countRead = false;
    int count = 0;
    std::vector<std::string> names;  // with any NUL bytes they hold
    long end = 0;                    // file position after the last read
};

ScanfResult ScanWithFscanf(const std::string& path)
{
    ScanfResult result;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw std::runtime_error("cannot open " + path);
    result.countRead = std::fscanf(file, "%i", &result.count) == 1;
    result.end = std::ftell(file);
    // The inputs here are short; the width only guards the buffer.
    static char name[4096];
    for (int k = 0; result.countRead && k < result.count; k++) {
        int start = 0, stop = 0;
        if (std::fscanf(file, " %n%4095s%n", &start, name, &stop) != 1)
            break;
        result.names.emplace_back(name, static_cast<size_t>(stop - start));
        result.end = std::ftell(file);
    }
    std::fclose(file);
    return result;
}

std::string Names(int count, const std::string& separator = " ")
{
    std::string text;
    for (int k = 0; k < count; k++)
        text += separator + "n" + std::to_string(k);
    return text;
}

}  // namespace

// Every list here means the same to fscanf and to the parser: where fscanf
// reads a count from 0 to 100 and that many names of at most 127 characters
// without a NUL, the parser gives the same count, names and end; otherwise it
// refuses.
TEST(TileListParser, AgreesWithFscanf)
{
    const std::string longest(127, 'L');
    const std::vector<std::string> inputs = {
        "3 a b c",
        " \t\r\n\v\f3\r\na\r\nb\r\nc\r\n",
        "3 a\tb\vc\fd",
        "010" + Names(16),
        "0x10" + Names(16),
        "0X1f" + Names(31, "\n"),
        "10" + Names(16),
        "12abc b c d e f g h i j k l",
        "08 a b",
        "0x1g h",
        "0x1G",
        "007 a b c d e f g h",
        "+2 a b",
        "-0 a",
        "-0x0",
        "0",
        "00",
        "000\n",
        "2 a",
        "2 a\n\n\n",
        "2 a  b  c",
        "2 a\xA0" "b \xC3\xA9t\xC3\xA9.bmp",
        "2 dir\\a.bmp ../b.bmp",
        std::string("1\na\0b", 5),
        "1 " + longest,
        "1 " + longest + "M",
        "2 " + longest + " " + longest,
        "100" + Names(100),
        "0x64" + Names(100),
        "0144" + Names(100),
        "101" + Names(101),
        "0x65" + Names(101),
        "-1 a",
        "-0x10 a",
        "+-5 a",
        "- 5 a",
        "+",
        "-",
        "",
        "   \n\t",
        "abc",
        "x5 a",
        "9z",
        "3",
    };
    ScratchDir dir;
    for (size_t i = 0; i < inputs.size(); i++) {
        const std::string& input = inputs[i];
        SCOPED_TRACE("input " + std::to_string(i) + ": " + input.substr(0, 60));
        WriteBytes("list.txt", Bytes(input.begin(), input.end()));
        const ScanfResult expected = ScanWithFscanf("list.txt");

        bool fits = expected.countRead && expected.count >= 0 && expected.count <= MaxTiles &&
                    static_cast<int>(expected.names.size()) == expected.count;
        for (const std::string& name : expected.names)
            fits = fits && name.size() <= 127 && name.find('\0') == std::string::npos;

        TileList parsed;
        std::string error;
        const bool ok = ParseTileList(input.data(), input.size(), "list.txt", parsed, error);
        ASSERT_EQ(ok, fits) << error;
        if (ok) {
            EXPECT_EQ(parsed.Count, expected.count);
            EXPECT_EQ(parsed.Names, expected.names);
            EXPECT_EQ(parsed.End, static_cast<size_t>(expected.end));
        } else {
            EXPECT_EQ(error.rfind("list.txt: ", 0), 0u) << error;
        }
    }
}

// Where the parser parts from glibc's fscanf on purpose.
TEST(TileListParser, RefusesWhatFscanfWouldMisread)
{
    struct Case {
        std::string input;
        std::string message;
    };
    const std::vector<Case> cases = {
        // glibc reads a bare 0x as the count 0, other C libraries refuse it.
        {"0x a b", "list.txt: the tile count \"0x\" has no hexadecimal digit after its 0x"},
        {"0Xg", "list.txt: the tile count \"0X\" has no hexadecimal digit after its 0x"},
        {"-0x", "list.txt: the tile count \"-0x\" has no hexadecimal digit after its 0x"},
        // fscanf cuts an overflowing count to the bits of an int: 4294967297 is 1.
        {"4294967297 a", "list.txt: the tile count 4294967297 is above 100, the most a map holds"},
        {"-4294967295 a", "list.txt: the tile count -4294967295 is below 0"},
        {"0x100000001 a", "list.txt: the tile count 0x100000001 is above 100, the most a map holds"},
        {"99999999999999999999999999 a",
         "list.txt: the tile count 99999999999999999999999999 is above 100, the most a map holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        TileList parsed;
        std::string error;
        EXPECT_FALSE(ParseTileList(c.input.data(), c.input.size(), "list.txt", parsed, error));
        EXPECT_EQ(error, c.message);
    }
}

TEST(TileListParser, RefusalsNameTheFaultWithItsNumbers)
{
    struct Case {
        std::string input;
        std::string message;
    };
    const std::string tooLong(130, 'q');
    const std::vector<Case> cases = {
        {"", "t.lst: no tile count at the start, found an empty file"},
        {" \r\n", "t.lst: no tile count at the start, found only white space"},
        {"  tiles: 3\n", "t.lst: no tile count at the start, found \"tiles:\""},
        {"+-5", "t.lst: no tile count at the start, found \"+-5\""},
        {"-3 a b c", "t.lst: the tile count -3 is below 0"},
        {"-0x10", "t.lst: the tile count -0x10 (-16) is below 0"},
        {"101", "t.lst: the tile count 101 is above 100, the most a map holds"},
        {"0145", "t.lst: the tile count 0145 (101) is above 100, the most a map holds"},
        {"0x200", "t.lst: the tile count 0x200 (512) is above 100, the most a map holds"},
        {"3", "t.lst: the tile count is 3 but no name follows"},
        {"3 a", "t.lst: the tile count is 3 but only 1 name follows"},
        {"0x10 a b c d e f g h i j k l m n o",
         "t.lst: the tile count is 16 but only 15 names follow"},
        {"3 a " + tooLong + " c",
         "t.lst: the name of tile 1, \"" + std::string(40, 'q') +
             "\"..., has 130 characters; a name holds at most 127"},
        {std::string("2 a b\0c", 7), "t.lst: the name of tile 1, \"b\\x00c\", holds a NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 40));
        TileList parsed;
        parsed.Count = 7;
        parsed.Names = {"kept"};
        std::string error;
        EXPECT_FALSE(ParseTileList(c.input.data(), c.input.size(), "t.lst", parsed, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(parsed.Count, 7);
        EXPECT_EQ(parsed.Names, std::vector<std::string>{"kept"});
    }
}

TEST(TileListParser, NeverLooksPastTheLastCountedName)
{
    // Whatever follows, even bytes that would be refused in a name, is ignored.
    const std::string input = std::string("2 a b ") + std::string(300, 'z') + std::string("\0\0", 2);
    TileList parsed;
    std::string error;
    ASSERT_TRUE(ParseTileList(input.data(), input.size(), "l", parsed, error)) << error;
    EXPECT_EQ(parsed.Names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(parsed.End, 5u);
    // A count of 0 reads no name at all.
    ASSERT_TRUE(ParseTileList("0 \0\0\0", 5, "l", parsed, error)) << error;
    EXPECT_EQ(parsed.Count, 0);
    EXPECT_TRUE(parsed.Names.empty());
}
