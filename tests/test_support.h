// Shared helpers of the unit tests: scratch directories, files as bytes,
// images made on the fly, and running the project's programs.
#pragma once

#include <sys/types.h>  // Required for: mode_t

#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "core/world.h"

// A failure as GoogleTest prints it beside a failed check: the whole message.
inline std::ostream& operator<<(std::ostream& out, const Error& error)
{
    return out << error.Message();
}

using Bytes = std::vector<uint8_t>;

// A fresh directory under /tmp, removed with everything in it at the end of
// its scope. The working directory moves into it while it lives, since board
// files name their images relative to the working directory.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
    std::string previous;
};

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
// The names in `folder`, hidden ones included, without "." and "..".
std::set<std::string> FilesHere(const std::string& folder = ".");
// The permission bits of `path` (a failed check when it does not exist).
mode_t ModeOf(const std::string& path);

// A 16-bit memory bitmap whose every pixel is `color`.
BitmapPtr MakeSolidBitmap(int width, int height, int color);
// Writes a bitmap to a BMP file.
void SaveImage(const std::string& path, BITMAP* image);
// 16-bit pixel value at (x, y).
int PixelAt(BITMAP* image, int x, int y);

// Gives `world` these tiles, TileCount their number, and this sky.
void NameImages(World& world, const std::vector<std::string>& tiles, const std::string& sky);

// Output and exit status of a shell command.
struct CommandResult {
    int status;
    std::string out;
    std::string err;
};
// Runs a command line with /bin/sh in the current directory.
CommandResult RunCommand(const std::string& command);
// Full path of one of the project's built programs ("boardtool", "groundview").
std::string ProgramPath(const std::string& name);
// The command line that runs the built boardtool with `arguments`.
std::string Boardtool(const std::string& arguments);

// Whether Debian's Tiled (tiled and tmxrasterizer) is on PATH; a test that
// needs it starts with REQUIRE_TILED(), which skips it, saying why, without.
bool TiledInstalled();
#define REQUIRE_TILED()                                                                              \
    do {                                                                                             \
        if (!TiledInstalled())                                                                       \
            GTEST_SKIP() << "Debian's tiled is not installed (tools/install-deps.sh test installs it)"; \
    } while (0)
