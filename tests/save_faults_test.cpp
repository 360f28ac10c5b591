// Saving under faults. A failure at each step of a save in turn, for new
// bodies shorter than, as long as and longer than the one in the file, and
// the process dying at each step: the board file stays byte for byte what it
// was, and the next save writes exactly what a save without faults writes.
// The same for the file layer's writer, for single files and sets of them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "board/board_file.h"
#include "files/write_faults.h"
#include "test_support.h"

namespace {

// A map with `tiles` named tiles and cells that differ from each other.
void FillWorld(World& world, int tiles, int seed)
{
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++) {
            MapCell& cell = world.Cells[tx][ty];
            cell.ExtraA = seed * 1000003 + tx * 64 + ty;
            cell.Tile = static_cast<uint8_t>((tx + ty + seed) % (tiles + 1));
            cell.Flags = static_cast<uint8_t>(ty & 4);
        }
    world.TileCount = tiles;
    for (int k = 0; k < tiles; k++)
        std::snprintf(world.TileNames[k], NameSlotSize, "tile-%d-%d.bmp", seed, k);
    std::snprintf(world.SkyName, NameSlotSize, "sky-%d.bmp", seed);
    world.AnimDelay = seed;
}

// A board file holding a map of `tiles` tiles, its body `gap` bytes after
// the header, and `trailing` after the body.
Bytes BoardFileWith(int tiles, int gap, const Bytes& trailing)
{
    World world;
    FillWorld(world, tiles, 1);
    EXPECT_EQ(world.CreateMap("made.brd"), 0) << world.LastError().Message();
    Bytes bytes = ReadBytes("made.brd");
    unlink("made.brd");
    bytes.insert(bytes.begin() + BoardHeaderSize, static_cast<size_t>(gap), 0xEE);
    bytes[1] = static_cast<uint8_t>(BoardHeaderSize + gap);
    bytes.insert(bytes.end(), trailing.begin(), trailing.end());
    return bytes;
}

void PutFile(const char* path, const Bytes& bytes, mode_t mode)
{
    unlink(path);
    WriteBytes(path, bytes);
    ASSERT_EQ(chmod(path, mode), 0);
}

// The steps a save of `world` into a copy of `original` takes without
// faults, and the bytes it leaves.
std::vector<std::string> SaveWithoutFaults(World& world, const Bytes& original, Bytes& saved)
{
    std::vector<std::string> steps;
    WriteBytes("reference.brd", original);
    SetWriteFaultHook([&](const char* step) {
        steps.push_back(step);
        return false;
    });
    EXPECT_EQ(world.SaveMap("reference.brd"), 0) << world.LastError().Message();
    SetWriteFaultHook(nullptr);
    saved = ReadBytes("reference.brd");
    unlink("reference.brd");
    return steps;
}

struct SaveShape {
    const char* name;
    int fileTiles, gap;
    Bytes trailing;
    int worldTiles;
};

mode_t UsualMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

const char* ModeName(WriteMode mode)
{
    return mode == WriteMode::CreateOnly ? "create-only" : "replace";
}

// Clears the hook however a test ends.
struct HookGuard {
    ~HookGuard() { SetWriteFaultHook(nullptr); }
};

}  // namespace

TEST(SaveFaults, EveryStepFailsCleanlyAndTheNextSaveSucceeds)
{
    const SaveShape shapes[] = {
        {"shorter body, trailing bytes kept", 3, 0, {1, 2, 3}, 0},
        {"same length, a gap", 2, 11, {}, 2},
        {"longer body over several chunks", 0, 4, {9}, MaxTiles},
    };
    for (const SaveShape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        ScratchDir dir;
        const Bytes original = BoardFileWith(shape.fileTiles, shape.gap, shape.trailing);
        World world;
        FillWorld(world, shape.worldTiles, 2);
        Bytes expected;
        const std::vector<std::string> steps = SaveWithoutFaults(world, original, expected);
        ASSERT_NE(expected, original);
        // Every chunk of the new file is a step of its own.
        const size_t chunks = (expected.size() + WriteChunkSize - 1) / WriteChunkSize;
        ASSERT_EQ(steps.size(), chunks + 5) << "create, the writes, fsync, chmod, close, rename";
        ASSERT_EQ(steps.back(), "rename");

        PutFile("f.brd", original, 0640);
        for (size_t failing = 0; failing < steps.size(); failing++) {
            SCOPED_TRACE("failing step " + std::to_string(failing) + ": " + steps[failing]);
            size_t seen = 0;
            SetWriteFaultHook([&](const char*) { return seen++ == failing; });
            EXPECT_NE(world.SaveMap("f.brd"), 0);
            SetWriteFaultHook(nullptr);
            EXPECT_EQ(world.LastError().Message().rfind("f.brd: not saved, the file is unchanged: ", 0), 0u)
                << world.LastError().Message();
            EXPECT_TRUE(ReadBytes("f.brd") == original);
            EXPECT_EQ(ModeOf("f.brd"), 0640u);
            EXPECT_EQ(FilesHere(), std::set<std::string>{"f.brd"}) << "something was left beside the file";

            // Nothing of the failure lingers: the next save is complete.
            ASSERT_EQ(world.SaveMap("f.brd"), 0) << world.LastError().Message();
            EXPECT_TRUE(ReadBytes("f.brd") == expected);
            EXPECT_EQ(ModeOf("f.brd"), 0640u);
            EXPECT_EQ(FilesHere(), std::set<std::string>{"f.brd"});
            PutFile("f.brd", original, 0640);
        }
    }
}

// Runs `operation` in a child process that dies, without any clean-up, at
// step `dying` of its write; returns how the child ended.
template <class Operation>
int DieAtStep(size_t dying, Operation operation)
{
    const pid_t child = fork();
    if (child == 0) {
        size_t seen = 0;
        SetWriteFaultHook([&](const char*) {
            if (seen++ == dying)
                _exit(42);
            return false;
        });
        operation();
        _exit(1);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Names beside `name` that a dead writer may leave: its hidden temporary.
bool OnlyTemporariesBeside(const std::set<std::string>& files, const std::string& name)
{
    for (const std::string& file : files)
        if (file != name && file.rfind("." + name + ".tmp", 0) != 0)
            return false;
    return true;
}

TEST(SaveFaults, DyingAtAnyStepLeavesTheFileAsItWas)
{
    ScratchDir dir;
    const Bytes original = BoardFileWith(2, 3, {7, 7});
    World world;
    FillWorld(world, 5, 3);
    Bytes expected;
    const size_t steps = SaveWithoutFaults(world, original, expected).size();

    for (size_t dying = 0; dying < steps; dying++) {
        SCOPED_TRACE("dying at step " + std::to_string(dying));
        PutFile("f.brd", original, 0600);
        ASSERT_EQ(DieAtStep(dying, [&] { world.SaveMap("f.brd"); }), 42);
        EXPECT_TRUE(ReadBytes("f.brd") == original);
        EXPECT_EQ(ModeOf("f.brd"), 0600u);
        // A temporary file may stay behind; it is hidden and stands in no
        // one's way.
        const std::set<std::string> files = FilesHere();
        EXPECT_EQ(files.count("f.brd"), 1u);
        EXPECT_TRUE(OnlyTemporariesBeside(files, "f.brd"));
        ASSERT_EQ(world.SaveMap("f.brd"), 0) << world.LastError().Message();
        EXPECT_TRUE(ReadBytes("f.brd") == expected);
        // The next save removes what the dead one left.
        EXPECT_EQ(FilesHere(), std::set<std::string>{"f.brd"});
    }
}

TEST(SaveFaults, DyingAtAnyStepOfACreateLeavesNoBoardFile)
{
    ScratchDir dir;
    World world;
    FillWorld(world, 4, 5);
    std::vector<std::string> steps;
    SetWriteFaultHook([&](const char* step) {
        steps.push_back(step);
        return false;
    });
    ASSERT_EQ(world.CreateMap("reference.brd"), 0) << world.LastError().Message();
    SetWriteFaultHook(nullptr);
    const Bytes expected = ReadBytes("reference.brd");
    unlink("reference.brd");
    ASSERT_EQ(steps.back(), "link");

    for (size_t dying = 0; dying < steps.size(); dying++) {
        SCOPED_TRACE("dying at step " + std::to_string(dying) + ": " + steps[dying]);
        ASSERT_EQ(DieAtStep(dying, [&] { world.CreateMap("c.brd"); }), 42);
        const std::set<std::string> files = FilesHere();
        EXPECT_EQ(files.count("c.brd"), 0u) << "a half-made board file has the name";
        EXPECT_TRUE(OnlyTemporariesBeside(files, "c.brd"));
        ASSERT_EQ(world.CreateMap("c.brd"), 0) << world.LastError().Message();
        EXPECT_TRUE(ReadBytes("c.brd") == expected);
        for (const std::string& file : files)
            unlink(file.c_str());
        unlink("c.brd");
    }
}

// ---------------------------------------------------------------------------
// The writer itself: its two modes against every kind of file a name can
// hold, sets of files failing at each step in turn, and names that change
// hands while a write is under way.

TEST(FileWriter, RefusesLinksAndEverythingButARegularFileInBothModes)
{
    ScratchDir dir;
    const Bytes victim = {'v'};
    WriteBytes("victim", victim);
    ASSERT_EQ(symlink("victim", "link"), 0);
    ASSERT_EQ(symlink("nowhere", "dangling"), 0);
    ASSERT_EQ(mkdir("folder", 0755), 0);
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "socket");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const bool device = mknod("device", S_IFCHR | 0666, makedev(1, 3)) == 0;  // /dev/null's numbers

    struct Case {
        const char* name;
        std::string replaceReason, createReason;
    };
    const std::string linkReason = "is a symbolic link; nothing is written through it";
    std::vector<Case> cases = {
        {"link", linkReason, linkReason},
        {"dangling", linkReason, linkReason},
        {"folder", "is a directory, only a regular file is replaced", "is a directory, only a regular file is replaced"},
        {"fifo", "is a FIFO, only a regular file is replaced", "is a FIFO, only a regular file is replaced"},
        {"socket", "is a socket, only a regular file is replaced", "is a socket, only a regular file is replaced"},
        {"victim", "", AlreadyExistsReason},
    };
    if (device)
        cases.push_back({"device", "is a device, only a regular file is replaced", "is a device, only a regular file is replaced"});
    const std::set<std::string> before = FilesHere(".");
    for (const Case& c : cases)
        for (WriteMode mode : {WriteMode::Replace, WriteMode::CreateOnly}) {
            const std::string& reason = mode == WriteMode::Replace ? c.replaceReason : c.createReason;
            if (reason.empty())
                continue;
            SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
            Error error;
            EXPECT_FALSE(WriteWholeFile(c.name, {'n', 'e', 'w'}, mode, error));
            EXPECT_EQ(error.Message(), std::string(c.name) + ": " + reason);
            // In a set, the good file before it is not written either.
            EXPECT_FALSE(WriteFileSet({{"good", {'g'}}, {c.name, {'n'}}}, mode, error));
            EXPECT_EQ(error.Message(), std::string(c.name) + ": " + reason);
            EXPECT_TRUE(ReadBytes("victim") == victim);
            EXPECT_EQ(FilesHere("."), before);
        }
    close(sock);
}

TEST(FileWriter, ASetFailingAtAnyStepLeavesEveryFileAsItWas)
{
    ScratchDir dir;
    HookGuard guard;
    ASSERT_EQ(mkdir("sub", 0755), 0);
    const Bytes oldA = {'a'}, oldC(3 * WriteChunkSize / 2, 'c');
    const std::vector<FileToWrite> set = {
        {"a", Bytes(WriteChunkSize + 1, 'A')}, {"sub/b", {'B'}}, {"c", {'C'}}};
    auto reset = [&] {
        WriteBytes("a", oldA);
        ASSERT_EQ(chmod("a", 0640), 0);
        WriteBytes("c", oldC);
        ASSERT_EQ(chmod("c", 0604), 0);
        unlink("sub/b");
    };
    reset();
    const std::set<std::string> here = FilesHere("."), inSub = FilesHere("sub");

    std::vector<std::string> steps;
    SetWriteFaultHook([&](const char* step) {
        steps.push_back(step);
        return false;
    });
    Error error;
    ASSERT_TRUE(WriteFileSet(set, WriteMode::Replace, error)) << error;
    // Staged: create, the chunks (2, 1, 1), fsync, chmod, close; a second
    // name kept of each of the 2 old files; then the 3 renames.
    EXPECT_EQ(steps.size(), 6u + 5 + 5 + 2 + 3) << ::testing::PrintToString(steps);
    EXPECT_EQ(steps.back(), "rename");
    EXPECT_TRUE(ReadBytes("a") == set[0].Bytes && ReadBytes("sub/b") == set[1].Bytes && ReadBytes("c") == set[2].Bytes);
    EXPECT_EQ(ModeOf("a"), 0640u);
    EXPECT_EQ(ModeOf("sub/b"), UsualMode());
    EXPECT_EQ(ModeOf("c"), 0604u);

    for (size_t failing = 0; failing < steps.size(); failing++) {
        SCOPED_TRACE("failing step " + std::to_string(failing) + ": " + steps[failing]);
        reset();
        size_t seen = 0;
        SetWriteFaultHook([&](const char*) { return seen++ == failing; });
        EXPECT_FALSE(WriteFileSet(set, WriteMode::Replace, error));
        SetWriteFaultHook(nullptr);
        EXPECT_NE(error.Reason.find("Input/output error"), std::string::npos) << error;
        EXPECT_TRUE(ReadBytes("a") == oldA);
        EXPECT_TRUE(ReadBytes("c") == oldC);
        EXPECT_FALSE(FileExists("sub/b"));
        EXPECT_EQ(ModeOf("a"), 0640u);
        EXPECT_EQ(ModeOf("c"), 0604u);
        EXPECT_EQ(FilesHere("."), here) << "a temporary file was left behind";
        EXPECT_EQ(FilesHere("sub"), inSub) << "a temporary file was left behind";
    }

    // Created only: no file of the set is left after a failure anywhere.
    unlink("a");
    unlink("c");
    steps.clear();
    SetWriteFaultHook([&](const char* step) {
        steps.push_back(step);
        return false;
    });
    ASSERT_TRUE(WriteFileSet(set, WriteMode::CreateOnly, error)) << error;
    EXPECT_EQ(steps.back(), "link");
    for (size_t failing = 0; failing < steps.size(); failing++) {
        SCOPED_TRACE("failing step " + std::to_string(failing) + ": " + steps[failing]);
        unlink("a");
        unlink("sub/b");
        unlink("c");
        size_t seen = 0;
        SetWriteFaultHook([&](const char*) { return seen++ == failing; });
        EXPECT_FALSE(WriteFileSet(set, WriteMode::CreateOnly, error));
        SetWriteFaultHook(nullptr);
        EXPECT_TRUE(FilesHere(".") == std::set<std::string>{"sub"}) << ::testing::PrintToString(FilesHere("."));
        EXPECT_TRUE(FilesHere("sub").empty());
    }
}

TEST(FileWriter, ANameTakenWhileWritingIsNeverOverwritten)
{
    ScratchDir dir;
    HookGuard guard;
    Error error;

    // Another writer creates the name after this one looked: link(2) refuses.
    SetWriteFaultHook([](const char* step) {
        if (std::string(step) == "link")
            WriteBytes("taken", {'t', 'h', 'e', 'i', 'r', 's'});
        return false;
    });
    EXPECT_FALSE(WriteWholeFile("taken", {'m', 'i', 'n', 'e'}, WriteMode::CreateOnly, error));
    EXPECT_EQ(error.Message(), std::string("taken: ") + AlreadyExistsReason);
    EXPECT_EQ(ReadBytes("taken"), (Bytes{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(FilesHere("."), std::set<std::string>{"taken"});

    // The last file of a set becomes a directory after the first was put in
    // place: the first is put back as it was.
    WriteBytes("first", {'1'});
    ASSERT_EQ(chmod("first", 0620), 0);
    WriteBytes("second", {'2'});
    SetWriteFaultHook([](const char* step) {
        static bool done;
        if (std::string(step) == "rename" && !done) {
            done = true;
            unlink("second");
            mkdir("second", 0755);
        }
        return false;
    });
    EXPECT_FALSE(WriteFileSet({{"first", {'n'}}, {"second", {'n'}}}, WriteMode::Replace, error));
    EXPECT_EQ(error.Message(), "second: is a directory, only a regular file is replaced");
    EXPECT_EQ(ReadBytes("first"), Bytes{'1'});
    EXPECT_EQ(ModeOf("first"), 0620u);
    EXPECT_EQ(FilesHere("."), (std::set<std::string>{"first", "second", "taken"}));

    // A link swapped in for a file being replaced is refused, not followed.
    rmdir("second");
    WriteBytes("victim", {'v'});
    SetWriteFaultHook([](const char* step) {
        if (std::string(step) == "close") {
            unlink("first");
            symlink("victim", "first");
        }
        return false;
    });
    EXPECT_FALSE(WriteWholeFile("first", {'n'}, WriteMode::Replace, error));
    EXPECT_EQ(error.Message(), "first: is a symbolic link; nothing is written through it");
    EXPECT_EQ(ReadBytes("victim"), Bytes{'v'});
    EXPECT_EQ(FilesHere("."), (std::set<std::string>{"first", "taken", "victim"}));
}
