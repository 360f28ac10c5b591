// Every command that writes, against real links and a real full file system:
// nothing is ever written through a symbolic link, and the files a command
// writes together are all written or none of them is.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>  // Required for: compress(), crc32() of the tall PNG made here

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "image/image_file.h"
#include "test_support.h"

namespace {

CommandResult Tool(const std::string& args)
{
    return RunCommand(ProgramPath("boardtool") + " " + args);
}

// Every name under `dir`, with its folder, hidden ones included.
std::set<std::string> Tree(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir == "." ? name : dir + "/" + name;
            names.insert(path);
            struct stat info;
            if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                for (const std::string& inner : Tree(path))
                    names.insert(inner);
        }
        closedir(d);
    }
    return names;
}

bool IsLink(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A board "real.brd" of two tiles, made by boardtool new.
void MakeBoard()
{
    SaveImage("t0.bmp", MakeSolidBitmap(32, 32, 0x1234).get());
    SaveImage("t1.bmp", MakeSolidBitmap(32, 32, 0x4321).get());
    WriteBytes("tiles.txt", Bytes{'2', ' ', 't', '0', '.', 'b', 'm', 'p', ' ', 't', '1', '.', 'b', 'm', 'p'});
    ASSERT_EQ(Tool("new tiles.txt real.brd --sky t0.bmp").status, 0);
}

// A 2 x 2 Tiled map of one tile, "map.tmx", with its image.
void MakeTiledMap()
{
    WriteBytes("b.png", EncodePng(Image{32, 32, std::vector<uint8_t>(32 * 32 * 4, 200), false}));
    const std::string text =
        "<map orientation=\"orthogonal\" width=\"2\" height=\"2\" tilewidth=\"32\" tileheight=\"32\">"
        "<tileset firstgid=\"1\" name=\"t\" tilewidth=\"32\" tileheight=\"32\"><tile id=\"0\">"
        "<image source=\"b.png\"/></tile></tileset><layer name=\"l\" width=\"2\" height=\"2\">"
        "<data encoding=\"csv\">1,1,1,1</data></layer></map>";
    WriteBytes("map.tmx", Bytes(text.begin(), text.end()));
}

// A tmpfs of a few pages mounted on `path` and filled to the last byte, so
// that any new file there fails to be written; unmounted at the end.
class FullFileSystem {
public:
    explicit FullFileSystem(const std::string& where) : path(where)
    {
        mkdir(path.c_str(), 0755);
        if (mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) {
            why = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted = true;
    }
    // Fills what is left; files put there before stay.
    void Fill()
    {
        const std::string filler = path + "/filler";
        FILE* file = std::fopen(filler.c_str(), "wb");
        const std::vector<char> page(4096, 'f');
        while (file && std::fwrite(page.data(), 1, page.size(), file) == page.size() && std::fflush(file) == 0) {
        }
        if (file)
            std::fclose(file);
    }
    ~FullFileSystem()
    {
        if (mounted)
            umount(path.c_str());
    }
    bool Mounted() const { return mounted; }
    const std::string& Why() const { return why; }

private:
    std::string path, why;
    bool mounted = false;
};

}  // namespace

TEST(WriteCommands, NothingIsWrittenThroughASymbolicLink)
{
    ScratchDir dir;
    MakeBoard();
    MakeTiledMap();
    const Bytes board = ReadBytes("real.brd");
    const Bytes victim = {'v', 'i', 'c', 't', 'i', 'm'};
    WriteBytes("victim", victim);
    ASSERT_EQ(mkdir("cfg", 0755), 0);
    ASSERT_EQ(mkdir("cfg/tiled", 0755), 0);
    ASSERT_EQ(mkdir("cfg/tiled/extensions", 0755), 0);

    struct Case {
        const char* link;
        const char* to;
        std::string command;
    };
    const Case cases[] = {
        {"link.brd", "real.brd", "set link.brd --sky t1.bmp"},
        {"new.brd", "nowhere.brd", "new tiles.txt new.brd"},
        {"out.brd", "victim", "import --force map.tmx out.brd --images imgs"},
        {"out.tmx", "victim", "export --force real.brd out.tmx"},
        {"out.png", "victim", "map real.brd out.png --scale 64"},
        {"cfg/tiled/extensions/groundview.js", "../../../victim",
         "tiled-extension --install --force"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_EQ(symlink(c.to, c.link), 0);
        const std::set<std::string> before = Tree(".");
        const CommandResult result = RunCommand("XDG_CONFIG_HOME=cfg " + ProgramPath("boardtool") + " " + c.command);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(Contains(result.err, std::string(c.link) + ": ") &&
                    Contains(result.err, "is a symbolic link; nothing is written through it"))
            << result.err;
        EXPECT_TRUE(IsLink(c.link));
        EXPECT_TRUE(ReadBytes("victim") == victim);
        EXPECT_TRUE(ReadBytes("real.brd") == board);
        EXPECT_EQ(Tree("."), before) << "a file was written or left behind";
        ASSERT_EQ(unlink(c.link), 0);
    }

    // The library's own saves, as the viewer makes them.
    ASSERT_EQ(symlink("real.brd", "link.brd"), 0);
    ASSERT_EQ(symlink("nowhere.brd", "dangling.brd"), 0);
    World world;
    ASSERT_EQ(world.LoadMap("link.brd"), 0) << world.LastError();
    world.AnimDelay = 77;
    EXPECT_NE(world.SaveMap("link.brd"), 0);
    EXPECT_EQ(world.LastError().Message(),
              "link.brd: not saved, the file is unchanged: is a symbolic link; nothing is written through it");
    EXPECT_NE(world.CreateMap("dangling.brd"), 0);
    EXPECT_EQ(world.LastError().Message(),
              "dangling.brd: not created: is a symbolic link; nothing is written through it");
    EXPECT_TRUE(IsLink("link.brd") && IsLink("dangling.brd"));
    EXPECT_TRUE(ReadBytes("real.brd") == board);
    EXPECT_FALSE(FileExists("nowhere.brd"));
}

TEST(WriteCommands, ImportWritesItsImagesAndItsBoardAllOrNone)
{
    ScratchDir dir;
    MakeTiledMap();
    FullFileSystem full("full");
    if (!full.Mounted())
        GTEST_SKIP() << full.Why();
    const Bytes oldBoard = {'o', 'l', 'd'};
    WriteBytes("full/old.brd", oldBoard);
    full.Fill();

    // Fresh outputs: the board cannot be written, so no image is either, and
    // the images' folder made for them goes again.
    std::set<std::string> before = Tree(".");
    CommandResult result = Tool("import map.tmx full/new.brd --images imgs");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "full/new.brd: ") && Contains(result.err, "No space left on device"))
        << result.err;
    EXPECT_TRUE(Contains(result.err, "(nothing was written)")) << result.err;
    EXPECT_EQ(Tree("."), before);

    // Over existing files with --force: every one of them stays as it was.
    ASSERT_TRUE(mkdir("imgs", 0755) == 0 || errno == EEXIST);
    const Bytes oldImage = {'k', 'e', 'e', 'p'};
    WriteBytes("imgs/tile00.png", oldImage);
    WriteBytes("imgs/sky.png", oldImage);
    before = Tree(".");
    result = Tool("import --force map.tmx full/old.brd --images imgs");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "full/old.brd: ")) << result.err;
    EXPECT_TRUE(ReadBytes("imgs/tile00.png") == oldImage);
    EXPECT_TRUE(ReadBytes("imgs/sky.png") == oldImage);
    EXPECT_TRUE(ReadBytes("full/old.brd") == oldBoard);
    EXPECT_EQ(Tree("."), before) << "a temporary file was left behind";

    // With room, all of it is written.
    ASSERT_EQ(unlink("full/filler"), 0);
    result = Tool("import --force map.tmx full/old.brd --images imgs");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(ReadBytes("imgs/tile00.png") == oldImage);
    EXPECT_FALSE(ReadBytes("full/old.brd") == oldBoard);
}

TEST(WriteCommands, NewCreatesItsBoardAndPlainSkyTogetherOrNeither)
{
    ScratchDir dir;
    MakeBoard();
    const Bytes sky = {'s', 'k', 'y'};
    WriteBytes("map-sky.bmp", sky);
    const std::set<std::string> before = Tree(".");
    CommandResult result = Tool("new tiles.txt map.brd");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: map-sky.bmp: not created: already exists; it is not replaced\n");
    EXPECT_EQ(Tree("."), before);
    EXPECT_TRUE(ReadBytes("map-sky.bmp") == sky);

    ASSERT_EQ(unlink("map-sky.bmp"), 0);
    result = Tool("new tiles.txt map.brd");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(FileExists("map.brd") && FileExists("map-sky.bmp"));
}

TEST(WriteCommands, NoCommandWritesOverAFileItReads)
{
    ScratchDir dir;
    MakeBoard();
    MakeTiledMap();
    const Bytes board = ReadBytes("real.brd"), map = ReadBytes("map.tmx"), tile = ReadBytes("t0.bmp");
    ASSERT_EQ(link("real.brd", "hard.tmx"), 0);
    ASSERT_EQ(link("map.tmx", "hard.brd"), 0);
    ASSERT_EQ(symlink("map.tmx", "soft.tmx"), 0);
    struct Case {
        std::string command;
        std::string refusal;
    };
    const Case cases[] = {
        {"export real.brd real.brd --force", "real.brd: not written: it is real.brd, which this command reads"},
        {"export real.brd hard.tmx --force", "hard.tmx: not written: it is real.brd, which this command reads"},
        {"export real.brd t0.bmp --force", "t0.bmp: not written: it is t0.bmp, which this command reads"},
        {"import map.tmx map.tmx --force", "map.tmx: not written: it is map.tmx, which this command reads"},
        {"import soft.tmx hard.brd --force", "hard.brd: not written: it is soft.tmx, which this command reads"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::set<std::string> before = Tree(".");
        const CommandResult result = Tool(c.command);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "boardtool: " + c.refusal + " (nothing was written)\n");
        EXPECT_EQ(Tree("."), before);
        EXPECT_TRUE(ReadBytes("real.brd") == board && ReadBytes("map.tmx") == map && ReadBytes("t0.bmp") == tile);
    }
}

// A tile image Tiled would get as more pixels than any image may have is
// refused before anything is composed, not written as an empty PNG.
TEST(WriteCommands, ExportRefusesATileItCannotWriteWhole)
{
    ScratchDir dir;
    MakeBoard();
    // 1 x 2,097,153 pixels: 32 columns wide for Tiled, just past the limit.
    const uint32_t rows = 2097153;
    Bytes raw;
    raw.reserve(size_t(rows) * 4);
    for (uint32_t y = 0; y < rows; y++)
        raw.insert(raw.end(), {0, 10, 20, 30});
    uLongf packedSize = compressBound(uLong(raw.size()));
    Bytes packed(packedSize);
    ASSERT_EQ(compress(packed.data(), &packedSize, raw.data(), uLong(raw.size())), Z_OK);
    packed.resize(packedSize);
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const Bytes& data) {
        Bytes body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(uint8_t(data.size() >> s));
        png.insert(png.end(), body.begin(), body.end());
        const uint32_t crc = uint32_t(crc32(0, body.data(), uInt(body.size())));
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(uint8_t(crc >> s));
    };
    chunk("IHDR", {0, 0, 0, 1, uint8_t(rows >> 24), uint8_t(rows >> 16), uint8_t(rows >> 8), uint8_t(rows), 8, 2, 0,
                   0, 0});
    chunk("IDAT", packed);
    chunk("IEND", {});
    WriteBytes("tall.png", png);
    WriteBytes("tiles.txt", Bytes{'2', ' ', 't', '0', '.', 'b', 'm', 'p', ' ', 't', 'a', 'l', 'l', '.', 'p', 'n', 'g'});
    ASSERT_EQ(Tool("new tiles.txt tall.brd --sky t0.bmp").status, 0);

    const std::set<std::string> before = Tree(".");
    const CommandResult result = Tool("export tall.brd out.tmx");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "boardtool: tall.png: tile 1 would go to Tiled as 32 x 2097153 pixels, more than the "
                          "67108864 an image may have (nothing was written)\n");
    EXPECT_EQ(Tree("."), before);
}

TEST(WriteCommands, ExportWritesItsImagesAndItsMapAllOrNone)
{
    ScratchDir dir;
    MakeBoard();
    // A tile smaller than a frame goes to Tiled as a PNG beside the map.
    SaveImage("t1.bmp", MakeSolidBitmap(16, 16, 0x4321).get());
    FullFileSystem full("full");
    if (!full.Mounted())
        GTEST_SKIP() << full.Why();
    const Bytes old = {'o', 'l', 'd'};
    WriteBytes("full/old.tmx", old);
    WriteBytes("full/old-tile01.png", old);
    full.Fill();

    std::set<std::string> before = Tree(".");
    CommandResult result = Tool("export real.brd full/new.tmx");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "No space left on device") && Contains(result.err, "(nothing was written)"))
        << result.err;
    EXPECT_EQ(Tree("."), before);

    result = Tool("export --force real.brd full/old.tmx");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "No space left on device")) << result.err;
    EXPECT_TRUE(ReadBytes("full/old.tmx") == old && ReadBytes("full/old-tile01.png") == old);
    EXPECT_EQ(Tree("."), before) << "a temporary file was left behind";

    ASSERT_EQ(unlink("full/filler"), 0);
    result = Tool("export --force real.brd full/old.tmx");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(ReadBytes("full/old.tmx") == old);
    EXPECT_FALSE(ReadBytes("full/old-tile01.png") == old);
}

// On a full disk `new` stops at its first failed write.
TEST(WriteCommands, NewOnAFullDiskStopsAtOnce)
{
    ScratchDir dir;
    MakeBoard();
    FullFileSystem full("full");
    if (!full.Mounted())
        GTEST_SKIP() << full.Why();
    full.Fill();
    const std::set<std::string> before = Tree(".");
    const auto start = std::chrono::steady_clock::now();
    const CommandResult result = Tool("new tiles.txt full/new.brd");
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
#else
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
#endif
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(Contains(result.err, "not created: cannot write the new file: No space left on device")) << result.err;
    EXPECT_EQ(Tree("."), before);
}
