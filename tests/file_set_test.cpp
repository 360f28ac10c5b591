// The file layer's one writer: its two modes against every kind of file a
// name can hold, sets of files failing at each step in turn, and files that
// change hands while a write is under way.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "files/write_faults.h"
#include "test_support.h"

namespace {

std::set<std::string> Names(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.insert(entry->d_name);
        closedir(d);
    }
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info;
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

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
    const std::set<std::string> before = Names(".");
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
            EXPECT_EQ(Names("."), before);
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
    const std::set<std::string> here = Names("."), inSub = Names("sub");

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
        EXPECT_EQ(Names("."), here) << "a temporary file was left behind";
        EXPECT_EQ(Names("sub"), inSub) << "a temporary file was left behind";
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
        EXPECT_TRUE(Names(".") == std::set<std::string>{"sub"}) << ::testing::PrintToString(Names("."));
        EXPECT_TRUE(Names("sub").empty());
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
    EXPECT_EQ(Names("."), std::set<std::string>{"taken"});

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
    EXPECT_EQ(Names("."), (std::set<std::string>{"first", "second", "taken"}));

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
    EXPECT_EQ(Names("."), (std::set<std::string>{"first", "taken", "victim"}));
}
