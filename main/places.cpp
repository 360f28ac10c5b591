// The viewer's files: the working directory's data/ as always, or the default
// world the program was built or installed with.
#include "places.h"

#include <sys/stat.h>  // Required for: stat()
#include <unistd.h>    // Required for: chdir(), getcwd(), readlink()

#include <cerrno>
#include <climits>  // Required for: PATH_MAX
#include <cstring>

namespace {

const char DefaultMap[] = "data\\test.brd";
const char DefaultBoardPicture[] = "data\\board.bmp";
// The same frame picture without the default island's map and labels.
const char GeneralBoardPicture[] = "data/frame.bmp";
const char ScreenshotName[] = "Screen.bmp";

bool IsDirectory(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// The last part of a path, as a title shows it.
std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string InstalledWorldDirectory()
{
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0)
        return std::string();
    exe[length] = '\0';
    return ParentOf(ParentOf(exe)) + "/share/groundview";
}

std::string BuiltWorldDirectory()
{
    return GROUNDVIEW_SOURCE_DIR;
}

std::string DefaultWorldDirectory()
{
    for (const std::string& dir : {InstalledWorldDirectory(), BuiltWorldDirectory()})
        if (!dir.empty() && IsFile(dir + "/data/test.brd"))
            return dir;
    return std::string();
}

bool PlanRun(const std::string& map, RunFiles& files, std::string& error)
{
    files.screenshot = ScreenshotName;
    if (map.empty() && IsDirectory("data")) {
        files.map = DefaultMap;
        files.boardPicture = DefaultBoardPicture;
        return true;
    }

    const std::string world = DefaultWorldDirectory();
    if (world.empty()) {
        error = "no default world: neither " + InstalledWorldDirectory() + "/data nor " + BuiltWorldDirectory() +
                "/data holds test.brd";
        return false;
    }
    if (!map.empty()) {
        files.map = map;
        files.boardPicture = world + "/" + GeneralBoardPicture;
        files.mapInFrame = true;
        files.title = BaseName(map) + " - groundview";
        return true;
    }

    // The default world names its images relative to its own directory; the
    // screenshot still goes where the viewer was started.
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) {
        error = std::string("cannot tell the working directory: ") + std::strerror(errno);
        return false;
    }
    if (chdir(world.c_str()) != 0) {
        error = "cannot change to " + world + ": " + std::strerror(errno);
        return false;
    }
    files.map = DefaultMap;
    files.boardPicture = DefaultBoardPicture;
    files.screenshot = std::string(here) + "/" + ScreenshotName;
    return true;
}
