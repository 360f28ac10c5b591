// boardtool image-folder: finds the folder that a board file's image names
// are relative to (the folder to run the viewer or boardtool -C in), for
// programs that are handed only the board, such as the Tiled extension.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "board/board_file.h"
#include "files/files.h"
#include "command.h"

namespace {

namespace fs = std::filesystem;

// How many of `names` name an existing file, taken relative to `folder`.
int ImagesFound(const fs::path& folder, const std::vector<const char*>& names)
{
    int found = 0;
    std::error_code failure;
    for (const char* name : names)
        found += fs::is_regular_file(folder / HostPath(name), failure);
    return found;
}

int RunImageFolder(const BoardArgument& args)
{
    const std::string& name = args.board;
    Error error;
    auto board = std::make_unique<BoardFile>();
    if (!ReadBoardFile(name.c_str(), *board, error))
        return Refuse(error);

    std::vector<const char*> names;
    for (int k = 0; k < board->TileCount; k++)
        if (board->TileNames[k][0] != '\0')
            names.push_back(board->TileNames[k]);
    if (board->SkyName[0] != '\0')
        names.push_back(board->SkyName);

    // The board's own folder and each one above it; the nearest that finds
    // the most images wins, so a board whose images are all there is never
    // mistaken for one whose images are partly missing.
    std::error_code failure;
    const fs::path start = fs::absolute(HostPath(name.c_str()), failure).lexically_normal().parent_path();
    if (failure)
        return Refuse(name + ": cannot find its folder: " + failure.message());
    fs::path best = start;
    int bestFound = ImagesFound(start, names);
    for (fs::path folder = start; bestFound < static_cast<int>(names.size()) && folder != folder.parent_path();) {
        folder = folder.parent_path();
        const int found = ImagesFound(folder, names);
        if (found > bestFound) {
            best = folder;
            bestFound = found;
        }
    }
    if (bestFound < static_cast<int>(names.size()))
        std::fprintf(stderr, "boardtool: %s: %d of the %zu images it names are missing from every folder at or above it\n",
                     name.c_str(), static_cast<int>(names.size()) - bestFound, names.size());
    std::printf("%s\n", best.c_str());
    return 0;
}

}  // namespace

CommandRun SetupImageFolder(CLI::App* command)
{
    return Runs(RunImageFolder, BoardOptions<BoardArgument>(command));
}
