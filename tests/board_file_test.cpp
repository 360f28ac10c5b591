// Board files: the layout byte for byte, load and save round trips, and every
// refused input or failed write leaving the World and the file as they were.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "board/board_file.h"
#include "files/write_faults.h"
#include "test_support.h"
#include "world_state.h"

namespace {

void Put32(Bytes& out, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(uint8_t(value >> (8 * i)));
}

// Distinct, sign-exercising values for the cell stored in record r.
MapCell ExpectedCell(int r)
{
    MapCell cell{};
    cell.ExtraA = r * 100003 - 200000000;
    cell.ExtraB = static_cast<int32_t>(0xF0000000u | static_cast<uint32_t>(r));
    cell.ExtraC = uint8_t(r * 7);
    cell.Delay = static_cast<int8_t>(uint8_t(r * 11));
    cell.ExtraD = uint8_t(r >> 3);
    cell.Tick = static_cast<int8_t>(uint8_t(r * 13));
    cell.Flags = uint8_t(r);
    cell.LastFrame = uint8_t(r * 17);
    cell.Tile = uint8_t(r % 5);
    return cell;
}

// Record r written field by field as the format lays it out; Frame is never
// stored.
void AppendRecord(Bytes& out, const MapCell& c)
{
    Put32(out, static_cast<uint32_t>(c.ExtraA));
    Put32(out, static_cast<uint32_t>(c.ExtraB));
    out.insert(out.end(), {c.ExtraC, static_cast<uint8_t>(c.Delay), c.ExtraD, static_cast<uint8_t>(c.Tick), c.Flags,
                           c.LastFrame, c.Tile});
}

// A name slot: the name, its NUL, then `filler` to the end of the slot.
void AppendSlot(Bytes& out, const std::string& name, uint8_t filler)
{
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
    out.insert(out.end(), NameSlotSize - name.size() - 1, filler);
}

// A board file built by hand, independently of the code under test.
struct Board {
    uint8_t header = 0;
    int32_t offset = 5;
    uint8_t gapByte = 0xEE;
    std::vector<std::string> tiles{"grass.bmp", "water.bmp"};
    int32_t animDelay = 3;
    int32_t animLastFrame = 2;
    uint32_t floatBits = 0x3F000000;  // 0.5
    std::string sky = "sky.bmp";
    uint8_t slotFiller = 0;  // bytes after each name's NUL
    Bytes trailing;

    int64_t BodyEnd() const { return offset + 61584 + 128 * int64_t(tiles.size()); }
    int64_t SkySlot() const { return BodyEnd() - 128; }

    Bytes Build() const
    {
        Bytes out{header};
        Put32(out, static_cast<uint32_t>(offset));
        out.insert(out.end(), static_cast<size_t>(offset - 5), gapByte);
        for (int r = 0; r < 4096; r++)
            AppendRecord(out, ExpectedCell(r));
        Put32(out, static_cast<uint32_t>(tiles.size()));
        for (const std::string& name : tiles)
            AppendSlot(out, name, slotFiller);
        Put32(out, static_cast<uint32_t>(animDelay));
        Put32(out, static_cast<uint32_t>(animLastFrame));
        Put32(out, floatBits);
        AppendSlot(out, sky, slotFiller);
        out.insert(out.end(), trailing.begin(), trailing.end());
        return out;
    }
};

// The default board with other tiles and another sky.
Board BoardNaming(const std::vector<std::string>& tiles, const std::string& sky)
{
    Board board;
    board.tiles = tiles;
    board.sky = sky;
    return board;
}

bool SameCell(const MapCell& a, const MapCell& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Writes images for the default Board's names: two tiles and a sky.
void WriteImages()
{
    SaveImage("grass.bmp", MakeSolidBitmap(64, 32, 0x07E0).get());
    SaveImage("water.bmp", MakeSolidBitmap(32, 32, 0x001F).get());
    SaveImage("sky.bmp", MakeSolidBitmap(2880, 101, 0x7BEF).get());
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Runs `test` in a child process as the user nobody when this one is root,
// since root may read and write any file; true when `test` returned true.
template <class Test>
bool AsNobody(Test test)
{
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(test() ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The layout

TEST(BoardFile, LoadsEveryFieldFromItsPlace)
{
    ScratchDir dir;
    WriteImages();
    Board board;
    board.animDelay = -7;
    board.animLastFrame = 300;
    board.floatBits = 0xC0490FDB;  // -3.14159274
    WriteBytes("a.brd", board.Build());

    World world;
    ASSERT_EQ(world.LoadMap("a.brd"), 0) << world.LastError().Message();
    // Record 1 is cell (1, 0), record 64 cell (0, 1), record 4095 cell (63, 63).
    EXPECT_TRUE(SameCell(world.Cells[1][0], ExpectedCell(1)));
    EXPECT_TRUE(SameCell(world.Cells[0][1], ExpectedCell(64)));
    EXPECT_TRUE(SameCell(world.Cells[63][63], ExpectedCell(4095)));
    for (int r = 0; r < 4096; r++)
        ASSERT_TRUE(SameCell(world.Cells[r % 64][r / 64], ExpectedCell(r))) << "record " << r;
    EXPECT_EQ(world.TileCount, 2);
    EXPECT_STREQ(world.TileNames[0], "grass.bmp");
    EXPECT_STREQ(world.TileNames[1], "water.bmp");
    EXPECT_EQ(world.AnimDelay, -7);
    EXPECT_EQ(world.AnimLastFrame, 300);
    EXPECT_EQ(world.ExtraFloat, -3.14159274f);
    EXPECT_STREQ(world.SkyName, "sky.bmp");
    // The images named are loaded, in 16 bits.
    ASSERT_EQ(world.Tiles.size(), 2u);
    EXPECT_EQ(world.Tiles[0]->w, 64);
    EXPECT_EQ(PixelAt(world.Tiles[0].get(), 63, 31), 0x07E0);
    EXPECT_EQ(PixelAt(world.Tiles[1].get(), 0, 0), 0x001F);
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(PixelAt(world.Sky.get(), 100, 100), 0x7BEF);
    // Not in the file, so as constructed.
    EXPECT_EQ(world.ColumnBase, 160);
    EXPECT_EQ(world.AnimFrame, 0);
    EXPECT_EQ(world.AnimTick, 0);
}

TEST(BoardFile, SmallestFileHasNoTilesAndIs61589Bytes)
{
    ScratchDir dir;
    World empty;
    std::strcpy(empty.SkyName, "s.bmp");
    empty.ExtraFloat = 0.5f;
    ASSERT_EQ(empty.CreateMap("small.brd"), 0) << empty.LastError().Message();
    const Bytes bytes = ReadBytes("small.brd");
    ASSERT_EQ(bytes.size(), 61589u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(Bytes(bytes.begin() + 1, bytes.begin() + 5), (Bytes{5, 0, 0, 0}));
    // The tile count, then the delay directly after it.
    EXPECT_EQ(Bytes(bytes.begin() + 5 + 61440, bytes.begin() + 5 + 61444), (Bytes{0, 0, 0, 0}));
    // 0.5 is stored as 00 00 00 3F; the last 128 bytes are the sky slot.
    EXPECT_EQ(Bytes(bytes.end() - 132, bytes.end() - 128), (Bytes{0x00, 0x00, 0x00, 0x3F}));
    Bytes sky(128, 0);
    std::memcpy(sky.data(), "s.bmp", 5);
    EXPECT_EQ(Bytes(bytes.end() - 128, bytes.end()), sky);

    Board board;
    board.tiles.clear();
    board.animDelay = 0x11223344;
    WriteBytes("n0.brd", board.Build());
    World world;
    ASSERT_EQ(world.LoadMap("n0.brd"), 0) << world.LastError().Message();
    EXPECT_EQ(world.TileCount, 0);
    EXPECT_TRUE(world.Tiles.empty());
    EXPECT_EQ(world.AnimDelay, 0x11223344);
    EXPECT_EQ(world.AnimLastFrame, 2);
}

TEST(BoardFile, SavedRecordsFollowTheFileOrder)
{
    ScratchDir dir;
    World world;
    world.Cells[1][0].ExtraA = 0x0A0B0C0D;
    world.Cells[0][1].Tile = 0x41;
    world.Cells[63][63].LastFrame = 0x99;
    world.Cells[63][63].Frame = 0x77;  // never stored
    world.Cells[5][6].Delay = -1;
    ASSERT_EQ(world.CreateMap("order.brd"), 0) << world.LastError().Message();
    const Bytes bytes = ReadBytes("order.brd");
    const size_t body = 5;
    EXPECT_EQ(Bytes(bytes.begin() + body + 15, bytes.begin() + body + 19), (Bytes{0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(bytes[body + 64 * 15 + 14], 0x41);
    EXPECT_EQ(bytes[body + 4095 * 15 + 13], 0x99);
    EXPECT_EQ(bytes[body + (6 * 64 + 5) * 15 + 9], 0xFF);
    for (size_t i = body; i < body + 61440; i++)
        ASSERT_NE(bytes[i], 0x77) << "a Frame was written at byte " << i;
}

// ---------------------------------------------------------------------------
// Round trips

struct RoundTripCase {
    const char* what;
    uint8_t header;
    int32_t offset;
    size_t tiles;
    size_t trailing;
};

void PrintTo(const RoundTripCase& c, std::ostream* out)
{
    *out << c.what;
}

class BoardRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(BoardRoundTrip, LoadThenSaveGivesTheSameBytes)
{
    const RoundTripCase& c = GetParam();
    ScratchDir dir;
    WriteImages();
    Board board;
    board.header = c.header;
    board.offset = c.offset;
    board.tiles.clear();
    for (size_t k = 0; k < c.tiles; k++)
        board.tiles.push_back(k % 2 ? "grass.bmp" : "gone/missing.bmp");
    board.slotFiller = 0xA5;  // garbage after each NUL
    for (size_t i = 0; i < c.trailing; i++)
        board.trailing.push_back(uint8_t(i * 31 + 1));
    const Bytes original = board.Build();
    WriteBytes("b.brd", original);

    World world;
    ASSERT_EQ(world.LoadMap("b.brd"), 0) << world.LastError().Message();
    ASSERT_EQ(world.SaveMap("b.brd"), 0) << world.LastError().Message();
    const Bytes saved = ReadBytes("b.brd");

    // Everything is as it was but the sky slot after its NUL, which holds
    // what SkyName held there: zeros in a fresh World.
    Bytes expected = original;
    const size_t afterSkyNul = static_cast<size_t>(board.SkySlot()) + board.sky.size() + 1;
    std::fill(expected.begin() + afterSkyNul, expected.begin() + board.BodyEnd(), 0);
    ASSERT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected);

    // And it loads to the same World.
    World again;
    ASSERT_EQ(again.LoadMap("b.brd"), 0) << again.LastError().Message();
    WorldState first = Snapshot(world);
    WorldState second = Snapshot(again);
    first.tiles.clear();  // different bitmaps, of course
    second.tiles.clear();
    first.sky = second.sky = BitmapState{};
    EXPECT_EQ(Difference(first, second), "");
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BoardRoundTrip,
    testing::Values(RoundTripCase{"plain", 0x00, 5, 2, 0}, RoundTripCase{"gap", 0x7F, 40, 3, 0},
                    RoundTripCase{"odd header", 0xFF, 6, 1, 0}, RoundTripCase{"trailing", 0x80, 5, 2, 777},
                    RoundTripCase{"gap and trailing", 0x01, 1000, 100, 13},
                    RoundTripCase{"no tiles", 0x42, 5, 0, 5}),
    [](const testing::TestParamInfo<RoundTripCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

TEST(BoardFile, MissingImageKeepsItsNameAndIsWrittenBack)
{
    ScratchDir dir;
    const Board board = BoardNaming({"nowhere\\tile.bmp"}, "nosky.bmp");
    WriteBytes("m.brd", board.Build());
    World world;
    ASSERT_EQ(world.LoadMap("m.brd"), 0) << world.LastError().Message();
    ASSERT_EQ(world.Tiles.size(), 1u);
    EXPECT_EQ(world.Tiles[0]->w, 32);
    EXPECT_EQ(world.Tiles[0]->h, 32);
    EXPECT_STREQ(world.TileNames[0], "nowhere\\tile.bmp");
    EXPECT_EQ(world.Sky->w, 2880);
    EXPECT_EQ(world.Sky->h, 101);
    EXPECT_STREQ(world.SkyName, "nosky.bmp");
    ASSERT_EQ(world.SaveMap("m.brd"), 0) << world.LastError().Message();
    EXPECT_TRUE(ReadBytes("m.brd") == board.Build());
}

TEST(BoardFile, SaveStoresTheCurrentTickButNeverTheFrame)
{
    ScratchDir dir;
    WriteBytes("t.brd", Board().Build());
    World world;
    ASSERT_EQ(world.LoadMap("t.brd"), 0) << world.LastError().Message();
    world.Cells[3][4].Tick = -42;
    world.Cells[3][4].Frame = 7;
    ASSERT_EQ(world.SaveMap("t.brd"), 0) << world.LastError().Message();
    World fresh;
    ASSERT_EQ(fresh.LoadMap("t.brd"), 0) << fresh.LastError().Message();
    EXPECT_EQ(fresh.Cells[3][4].Tick, -42);
    EXPECT_EQ(fresh.Cells[3][4].Frame, 0);
}

TEST(BoardFile, AShorterBodyLeavesTheOldBytesAfterIt)
{
    ScratchDir dir;
    Board board;
    board.tiles = {"a.bmp", "b.bmp", "c.bmp"};
    const Bytes original = board.Build();
    WriteBytes("s.brd", original);
    World world;
    ASSERT_EQ(world.LoadMap("s.brd"), 0) << world.LastError().Message();
    world.TileCount = 1;
    world.Tiles.resize(1);
    ASSERT_EQ(world.SaveMap("s.brd"), 0) << world.LastError().Message();
    const Bytes saved = ReadBytes("s.brd");
    ASSERT_EQ(saved.size(), original.size());
    const size_t newEnd = 5 + 61584 + 128;
    EXPECT_TRUE(std::equal(saved.begin() + newEnd, saved.end(), original.begin() + newEnd));
    World again;
    ASSERT_EQ(again.LoadMap("s.brd"), 0) << again.LastError().Message();
    EXPECT_EQ(again.TileCount, 1);
    EXPECT_STREQ(again.SkyName, "sky.bmp");
    EXPECT_EQ(again.AnimLastFrame, 2);
}

TEST(BoardFile, ALongerBodyGrowsTheFile)
{
    ScratchDir dir;
    Board board;
    board.tiles = {"a.bmp"};
    board.trailing = {1, 2, 3};
    WriteBytes("g.brd", board.Build());
    World world;
    ASSERT_EQ(world.LoadMap("g.brd"), 0) << world.LastError().Message();
    world.TileCount = 2;
    std::strcpy(world.TileNames[1], "b.bmp");
    world.Tiles.push_back(MakeTilePlaceholder());
    ASSERT_EQ(world.SaveMap("g.brd"), 0) << world.LastError().Message();
    // The new body runs over the three trailing bytes, and no further.
    EXPECT_EQ(ReadBytes("g.brd").size(), size_t(5 + 61584 + 256));
    World again;
    ASSERT_EQ(again.LoadMap("g.brd"), 0) << again.LastError().Message();
    EXPECT_STREQ(again.TileNames[1], "b.bmp");
}

TEST(BoardFile, ASecondLoadKeepsTheRunningAnimationAndReplacesTheImages)
{
    ScratchDir dir;
    WriteImages();
    WriteBytes("one.brd", Board().Build());
    const Board other = BoardNaming({"water.bmp"}, "elsewhere.bmp");
    WriteBytes("two.brd", other.Build());

    World world;
    ASSERT_EQ(world.LoadMap("one.brd"), 0) << world.LastError().Message();
    world.Cells[9][9].Frame = 3;
    world.AnimFrame = 5;
    world.AnimTick = 2;
    world.ColumnBase = 161;
    ASSERT_EQ(world.LoadMap("two.brd"), 0) << world.LastError().Message();
    EXPECT_EQ(world.Cells[9][9].Frame, 3);
    EXPECT_EQ(world.AnimFrame, 5);
    EXPECT_EQ(world.AnimTick, 2);
    EXPECT_EQ(world.ColumnBase, 161);
    EXPECT_EQ(world.TileCount, 1);
    ASSERT_EQ(world.Tiles.size(), 1u);
    EXPECT_EQ(PixelAt(world.Tiles[0].get(), 0, 0), 0x001F);
    EXPECT_STREQ(world.SkyName, "elsewhere.bmp");
    EXPECT_EQ(world.Sky->h, 101);  // the placeholder
    // Slot 1 is no longer in use; a save writes only slot 0.
    EXPECT_TRUE(SameCell(world.Cells[0][0], ExpectedCell(0)));
}

TEST(BoardFile, AReadOnlyBoardFileLoads)
{
    ScratchDir dir;
    WriteBytes("ro.brd", Board().Build());
    ASSERT_EQ(chmod("ro.brd", 0444), 0);
    ASSERT_EQ(chmod(".", 0555), 0);
    EXPECT_TRUE(AsNobody([] {
        World world;
        return world.LoadMap("ro.brd") == 0 && world.TileCount == 2;
    }));
    chmod(".", 0700);  // so that the scratch directory can be removed
}

TEST(BoardFile, SaveKeepsPermissionBitsAndRefusesSymbolicLinks)
{
    ScratchDir dir;
    WriteBytes("p.brd", Board().Build());
    ASSERT_EQ(chmod("p.brd", 0640), 0);
    World world;
    ASSERT_EQ(world.LoadMap("p.brd"), 0) << world.LastError().Message();
    world.AnimDelay = 99;
    ASSERT_EQ(world.SaveMap("p.brd"), 0) << world.LastError().Message();
    EXPECT_EQ(ModeOf("p.brd"), 0640u);

    // Root can give the file back to its owner; others cannot, and need not.
    if (geteuid() == 0) {
        ASSERT_EQ(chown("p.brd", 1234, 4321), 0);
        ASSERT_EQ(world.SaveMap("p.brd"), 0) << world.LastError().Message();
        struct stat owned;
        ASSERT_EQ(stat("p.brd", &owned), 0);
        EXPECT_EQ(owned.st_uid, 1234u);
        EXPECT_EQ(owned.st_gid, 4321u);
        EXPECT_EQ(ModeOf("p.brd"), 0640u);
    }

    // Nothing is written through a link: the save is refused, both stay.
    ASSERT_EQ(symlink("p.brd", "link.brd"), 0);
    world.AnimDelay = 98;
    ASSERT_NE(world.SaveMap("link.brd"), 0);
    struct stat info;
    ASSERT_EQ(lstat("link.brd", &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    World again;
    ASSERT_EQ(again.LoadMap("p.brd"), 0);
    EXPECT_NE(again.AnimDelay, 98);
    EXPECT_EQ(ModeOf("p.brd"), 0640u);
}

// ---------------------------------------------------------------------------
// Refused input

struct BadBoard {
    const char* what;
    Bytes bytes;
    const char* message;  // after "bad.brd: "
};

static Bytes Patched(Bytes bytes, size_t at, Bytes with)
{
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<long>(at));
    return bytes;
}

static Bytes Cut(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

TEST(BoardFile, EveryMalformedFileIsRefusedAndChangesNothing)
{
    ScratchDir dir;
    WriteImages();
    const Bytes good = Board().Build();  // 2 tiles: 61845 bytes
    const size_t count = 5 + 61440;
    Bytes noNul = good;
    std::fill(noNul.begin() + count + 4 + 128, noNul.begin() + count + 4 + 256, 'x');
    Bytes skyNoNul = good;
    std::fill(skyNoNul.end() - 128, skyNoNul.end(), 'y');

    const std::vector<BadBoard> cases = {
        {"empty", {}, "0 bytes, the header needs 5"},
        {"header cut", {0, 5, 0, 0}, "4 bytes, the header needs 5"},
        {"offset 4", Patched(good, 1, {4, 0, 0, 0}), "body offset 4 is below 5: the body would overlap the header"},
        // The offset is unsigned: the largest ones lie far past any file, not below the header.
        {"offset 0xFFFFFFFF", Patched(good, 1, {0xFF, 0xFF, 0xFF, 0xFF}),
         "body offset 4294967295 lies past the end of the file (61845 bytes)"},
        {"offset 0x80000000", Patched(good, 1, {0x00, 0x00, 0x00, 0x80}),
         "body offset 2147483648 lies past the end of the file (61845 bytes)"},
        {"offset past the end", Patched(good, 1, {0x00, 0x00, 0x01, 0x00}),
         "body offset 65536 lies past the end of the file (61845 bytes)"},
        {"cut in the cells", Cut(good, 30000), "30000 bytes, the cells and tile count of a body at offset 5 need 61449"},
        {"cut in the count", Cut(good, count + 3), "61448 bytes, the cells and tile count of a body at offset 5 need 61449"},
        {"count -1", Patched(good, count, {0xFF, 0xFF, 0xFF, 0xFF}), "tile count -1 is below 0"},
        {"count 101", Patched(good, count, {101, 0, 0, 0}), "tile count 101 is above 100"},
        {"count huge", Patched(good, count, {0xFF, 0xFF, 0xFF, 0x7F}), "tile count 2147483647 is above 100"},
        {"count above the file", Patched(good, count, {3, 0, 0, 0}),
         "61845 bytes, a body with 3 tiles at offset 5 needs 61973"},
        {"last byte missing", Cut(good, good.size() - 1), "61844 bytes, a body with 2 tiles at offset 5 needs 61845"},
        {"tile slot without NUL", noNul, "tile name slot 1 has no terminating NUL"},
        {"sky slot without NUL", skyNoNul, "the sky name slot has no terminating NUL"},
    };

    World world;
    ASSERT_EQ(world.LoadMap("ok.brd") != 0, true);  // nothing there yet
    WriteBytes("ok.brd", good);
    ASSERT_EQ(world.LoadMap("ok.brd"), 0) << world.LastError().Message();
    world.Cells[2][2].Frame = 1;
    world.AnimFrame = 1;
    const WorldState before = Snapshot(world);

    for (const BadBoard& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("bad.brd", c.bytes);
        EXPECT_NE(world.LoadMap("bad.brd"), 0);
        EXPECT_EQ(world.LastError().Message(), std::string("bad.brd: ") + c.message);
        EXPECT_TRUE(Unchanged(before, world));
    }

    // Only a file over 2 GiB holds a body at offset 2^31; the offset is
    // still refused, as more than a board's offset holds. The gap is sparse.
    WriteBytes("huge.brd", {0, 0x00, 0x00, 0x00, 0x80});
    if (truncate("huge.brd", (int64_t(1) << 31) + 61589) == 0) {
        EXPECT_NE(world.LoadMap("huge.brd"), 0);
        EXPECT_EQ(world.LastError().Message(), "huge.brd: body offset 2147483648 is above 2147483647, the "
                                               "farthest a body may start");
        EXPECT_TRUE(Unchanged(before, world));
    }
    unlink("huge.brd");

    ASSERT_EQ(mkdir("folder.brd", 0755), 0);
    EXPECT_NE(world.LoadMap("folder.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "folder.brd: is a directory, not a regular file");
    EXPECT_NE(world.LoadMap("none/x.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "none/x.brd: cannot open: No such file or directory");
    EXPECT_NE(world.LoadMap("/dev/zero"), 0);
    EXPECT_EQ(world.LastError().Message(), "/dev/zero: is a device, not a regular file");
    EXPECT_TRUE(Unchanged(before, world));
}

TEST(BoardFile, TheParserWorksOnBytesAlone)
{
    const Bytes good = Board().Build();
    auto board = std::make_unique<BoardFile>();
    Error error;
    ASSERT_TRUE(ParseBoard(good.data(), good.size(), "mem", *board, error)) << error;
    EXPECT_EQ(board->BodyOffset, 5);
    EXPECT_EQ(board->FileSize, good.size());
    EXPECT_EQ(board->BodyEnd(), int64_t(good.size()));
    // Every prefix is refused, never read past.
    for (size_t size = 0; size < good.size(); size += size < 64 ? 1 : 997) {
        Bytes prefix(good.begin(), good.begin() + static_cast<long>(size));
        prefix.shrink_to_fit();
        ASSERT_FALSE(ParseBoard(prefix.data(), prefix.size(), "mem", *board, error)) << size;
        ASSERT_EQ(error.Message().rfind("mem: ", 0), 0u) << error;
    }
}

// ---------------------------------------------------------------------------
// Refused and failed saves

TEST(BoardFile, ARefusedSaveLeavesTheFileAsItWas)
{
    ScratchDir dir;
    World world;
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{}, "short.brd: 0 bytes, the header needs 5; not saved"},
        {{9, 5, 0}, "short.brd: 3 bytes, the header needs 5; not saved"},
        {{0, 4, 0, 0, 0, 1, 2, 3},
         "short.brd: body offset 4 is below 5: the body would overlap the header; not saved"},
        {{0, 0, 0, 0, 0x80, 1}, "short.brd: body offset 2147483648 lies past the end of the file (6 bytes); not saved"},
        // What LoadMap refuses is no board to save into: a save never
        // grows a file up to a far body offset, nor writes a body that the
        // file did not hold.
        {{0x33, 20, 0, 0, 0, 0xAA}, "short.brd: body offset 20 lies past the end of the file (6 bytes); not saved"},
        {{0, 0, 0, 0, 0x10, 1, 2, 3, 4, 5},
         "short.brd: body offset 268435456 lies past the end of the file (10 bytes); not saved"},
        {{0, 5, 0, 0, 0, 1, 2, 3, 4, 5},
         "short.brd: 10 bytes, the cells and tile count of a body at offset 5 need 61449; not saved"},
    };
    for (const auto& [bytes, message] : cases) {
        WriteBytes("short.brd", bytes);
        EXPECT_NE(world.SaveMap("short.brd"), 0);
        EXPECT_EQ(world.LastError().Message(), message);
        EXPECT_TRUE(ReadBytes("short.brd") == bytes);
    }
    EXPECT_NE(world.SaveMap("absent.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "absent.brd: cannot open for writing: No such file or directory");
    EXPECT_FALSE(FileExists("absent.brd"));

    // A map that could not be read back is not written.
    WriteBytes("ok.brd", Board().Build());
    world.TileCount = 101;
    EXPECT_NE(world.SaveMap("ok.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "ok.brd: not saved: the map's tile count 101 is outside 0..100");
    world.TileCount = 1;
    std::memset(world.TileNames[0], 'z', NameSlotSize);
    EXPECT_NE(world.SaveMap("ok.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "ok.brd: not saved: the map's tile name slot 0 has no terminating NUL");
    EXPECT_TRUE(ReadBytes("ok.brd") == Board().Build());
    EXPECT_EQ(FilesHere(), (std::set<std::string>{"short.brd", "ok.brd"}));
}

TEST(BoardFile, SaveRefusesAFileItMayNotWrite)
{
    ScratchDir dir;
    WriteBytes("ro.brd", Board().Build());
    ASSERT_EQ(chmod("ro.brd", 0444), 0);
    ASSERT_EQ(chmod(".", 0777), 0);  // even the directory is open to all
    const Bytes before = ReadBytes("ro.brd");

    EXPECT_TRUE(AsNobody([] {
        World world;
        return world.SaveMap("ro.brd") != 0 &&
               world.LastError().Message() == "ro.brd: cannot open for writing: Permission denied";
    }));
    EXPECT_TRUE(ReadBytes("ro.brd") == before);
    EXPECT_EQ(FilesHere(), std::set<std::string>{"ro.brd"});
}

// Runs `attempt` once with no fault to count the steps, then once with each
// step failing in turn; after every failure `check` runs.
template <class Attempt, class Check>
static int FailEachStep(Attempt attempt, Check check)
{
    std::vector<std::string> steps;
    SetWriteFaultHook([&](const char* step) {
        steps.push_back(step);
        return false;
    });
    attempt(true);
    for (size_t failing = 0; failing < steps.size(); failing++) {
        size_t seen = 0;
        SetWriteFaultHook([&](const char*) { return seen++ == failing; });
        SCOPED_TRACE("step " + std::to_string(failing) + ": " + steps[failing]);
        attempt(false);
        check(steps[failing]);
    }
    SetWriteFaultHook(nullptr);
    return static_cast<int>(steps.size());
}

TEST(BoardFile, AFailureAtAnyStepOfASaveLeavesTheFileByteIdentical)
{
    ScratchDir dir;
    Board board;
    board.offset = 9;
    board.trailing = {7, 7, 7};
    const Bytes original = board.Build();
    WriteBytes("f.brd", original);
    ASSERT_EQ(chmod("f.brd", 0604), 0);
    const std::set<std::string> files = FilesHere();
    World world;
    ASSERT_EQ(world.LoadMap("f.brd"), 0) << world.LastError().Message();
    world.AnimDelay = 1234;

    const int steps = FailEachStep(
        [&](bool succeeds) {
            if (succeeds) {
                // Count on a copy, so that the real file stays for the failures.
                WriteBytes("count.brd", original);
                ASSERT_EQ(world.SaveMap("count.brd"), 0) << world.LastError().Message();
                ASSERT_EQ(unlink("count.brd"), 0);
            } else {
                EXPECT_NE(world.SaveMap("f.brd"), 0);
            }
        },
        [&](const std::string& step) {
            EXPECT_TRUE(ReadBytes("f.brd") == original);
            EXPECT_EQ(ModeOf("f.brd"), 0604u);
            EXPECT_EQ(FilesHere(), files) << "a temporary file was left behind";
            EXPECT_EQ(world.LastError().Message().rfind("f.brd: not saved, the file is unchanged: ", 0), 0u)
                << world.LastError().Message();
            EXPECT_TRUE(Contains(world.LastError().Message(), "Input/output error")) << step << ": " << world.LastError().Message();
        });
    // create, 4 chunks of a 61845-byte file, fsync, chmod, close, rename.
    EXPECT_EQ(steps, 9);

    ASSERT_EQ(world.SaveMap("f.brd"), 0) << world.LastError().Message();
    World again;
    ASSERT_EQ(again.LoadMap("f.brd"), 0);
    EXPECT_EQ(again.AnimDelay, 1234);
    EXPECT_EQ(ModeOf("f.brd"), 0604u);
}

TEST(BoardFile, ASaveBeyondTheFileSizeLimitFailsCleanly)
{
    ScratchDir dir;
    Board board;
    board.tiles.clear();
    const Bytes original = board.Build();
    WriteBytes("big.brd", original);
    const std::set<std::string> files = FilesHere();

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The new body is longer than the limit allows.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{40000, 40000};
        setrlimit(RLIMIT_FSIZE, &limit);
        World world;
        world.TileCount = 0;
        const int result = world.SaveMap("big.brd");
        const bool named = world.LastError().Message().find("big.brd: not saved, the file is unchanged: "
                                                  "cannot write the new file: File too large") == 0;
        _exit(result != 0 && named ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save did not fail as it should";
    EXPECT_TRUE(ReadBytes("big.brd") == original);
    EXPECT_EQ(FilesHere(), files);
}

// ---------------------------------------------------------------------------
// Creating

TEST(BoardFile, CreateNeverReplacesAFile)
{
    ScratchDir dir;
    World world;
    WriteBytes("there.brd", Bytes{1, 2, 3});
    EXPECT_NE(world.CreateMap("there.brd"), 0);
    EXPECT_EQ(world.LastError().Message(), "there.brd: not created: already exists; it is not replaced");
    EXPECT_TRUE(ReadBytes("there.brd") == (Bytes{1, 2, 3}));
    EXPECT_EQ(FilesHere(), std::set<std::string>{"there.brd"});

    EXPECT_NE(world.CreateMap("no/such/dir.brd"), 0);
    EXPECT_TRUE(Contains(world.LastError().Message(), "no/such/dir.brd: not created: cannot create a temporary file"))
        << world.LastError().Message();

    ASSERT_EQ(world.CreateMap("new.brd"), 0) << world.LastError().Message();
    EXPECT_EQ(ModeOf("new.brd"), 0666u & ~[] { mode_t m = umask(0); umask(m); return m; }());
    EXPECT_EQ(world.LoadMap("new.brd"), 0) << world.LastError().Message();
}

TEST(BoardFile, AFailureAtAnyStepOfACreateLeavesNoFile)
{
    ScratchDir dir;
    World world;
    const int steps = FailEachStep(
        [&](bool succeeds) {
            if (succeeds) {
                ASSERT_EQ(world.CreateMap("count.brd"), 0) << world.LastError().Message();
                ASSERT_EQ(unlink("count.brd"), 0);
            } else {
                EXPECT_NE(world.CreateMap("c.brd"), 0);
            }
        },
        [&](const std::string&) {
            EXPECT_EQ(FilesHere(), std::set<std::string>{});
            EXPECT_EQ(world.LastError().Message().rfind("c.brd: not created: ", 0), 0u) << world.LastError().Message();
        });
    // create, 4 chunks of 61589 bytes, fsync, close, link.
    EXPECT_EQ(steps, 8);
    ASSERT_EQ(world.CreateMap("c.brd"), 0) << world.LastError().Message();
    EXPECT_EQ(ReadBytes("c.brd").size(), 61589u);
}

TEST(BoardFile, ABackslashInTheBoardFileNameSeparatesDirectories)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir("data", 0755), 0);
    World world;
    world.AnimDelay = 5;
    ASSERT_EQ(world.CreateMap("data\\test.brd"), 0) << world.LastError().Message();
    EXPECT_TRUE(FileExists("data/test.brd"));
    world.AnimDelay = 6;
    ASSERT_EQ(world.SaveMap("data\\test.brd"), 0) << world.LastError().Message();
    World again;
    ASSERT_EQ(again.LoadMap("data\\test.brd"), 0) << again.LastError().Message();
    EXPECT_EQ(again.AnimDelay, 6);
    // Messages name the file as it was opened.
    EXPECT_NE(again.LoadMap("data\\none.brd"), 0);
    EXPECT_EQ(again.LastError().Message(), "data/none.brd: cannot open: No such file or directory");
}
