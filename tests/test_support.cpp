// Shared helpers of the unit tests.
#include "test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/groundview-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd))
        previous = cwd;
    if (chdir(path.c_str()) != 0)
        throw std::runtime_error("chdir failed");
}

ScratchDir::~ScratchDir()
{
    if (!previous.empty() && chdir(previous.c_str()) != 0)
        perror("chdir");
    const std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        perror("rm");
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::set<std::string> FilesHere(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

mode_t ModeOf(const std::string& path)
{
    struct stat info;
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

BitmapPtr MakeSolidBitmap(int width, int height, int color)
{
    BitmapPtr image(create_bitmap_ex(16, width, height));
    clear_to_color(image.get(), color);
    return image;
}

void SaveImage(const std::string& path, BITMAP* image)
{
    if (save_bmp(path.c_str(), image, nullptr) != 0)
        throw std::runtime_error("cannot write " + path);
}

int PixelAt(BITMAP* image, int x, int y)
{
    return reinterpret_cast<uint16_t*>(image->line[y])[x];
}

void NameImages(World& world, const std::vector<std::string>& tiles, const std::string& sky)
{
    world.TileCount = static_cast<int32_t>(tiles.size());
    for (size_t i = 0; i < tiles.size(); i++)
        std::snprintf(world.TileNames[i], NameSlotSize, "%s", tiles[i].c_str());
    std::snprintf(world.SkyName, NameSlotSize, "%s", sky.c_str());
}

static std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CommandResult RunCommand(const std::string& command)
{
    char outName[] = "/tmp/groundview-out-XXXXXX";
    char errName[] = "/tmp/groundview-err-XXXXXX";
    close(mkstemp(outName));
    close(mkstemp(errName));
    const std::string line = command + " >" + outName + " 2>" + errName;
    const int raw = std::system(line.c_str());
    CommandResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(outName), Slurp(errName)};
    unlink(outName);
    unlink(errName);
    return result;
}

std::string ProgramPath(const std::string& name)
{
    return std::string(GROUNDVIEW_BIN_DIR) + "/" + name;
}

std::string Boardtool(const std::string& arguments)
{
    return ProgramPath("boardtool") + " " + arguments;
}

bool TiledInstalled()
{
    return RunCommand("command -v tiled >/dev/null && command -v tmxrasterizer >/dev/null").status == 0;
}
