// boardtool check: every problem that would make the viewer draw a board
// file wrongly or not at all, one a line, naming the slot or cell.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "command.h"
#include "inspect.h"

// A cell problem is printed for this many cells; the rest with the same
// problem are counted on one line, so a map full of one mistake stays readable.
constexpr int CellsListed = 10;

// The sky renderer needs a column per angle step and the view's rows down
// to the horizon: exactly the sky placeholder's size.
constexpr int SkyWidth = SkyPlaceholderWidth;
constexpr int SkyRows = SkyPlaceholderHeight;

static std::string Frames(int count)
{
    return std::to_string(count) + (count == 1 ? " frame" : " frames");
}

static std::string TileSlot(int k, const char* name)
{
    return "tile " + std::to_string(k) + " (" + Printable(name) + ")";
}

static int RunCheck(const std::string& name)
{
    InspectedBoard inspected;
    std::string error;
    if (!InspectBoard(name, inspected, error))
        return Refuse(error);
    const BoardFile& board = *inspected.board;
    std::vector<std::string> problems;

    if (board.TileCount == 0)
        problems.push_back("no tiles: the ground needs at least tile 0");
    for (int k = 0; k < board.TileCount; k++) {
        BITMAP* image = inspected.tiles[k].get();
        const std::string slot = TileSlot(k, board.TileNames[k]);
        if (!image) {
            problems.push_back(slot + ": the image cannot be loaded: " + inspected.tileErrors[k]);
            continue;
        }
        if (image->h < CellSize)
            problems.push_back(slot + ": " + std::to_string(image->h) + " rows high, a tile needs " +
                               std::to_string(CellSize));
        if (image->w < CellSize)
            problems.push_back(slot + ": " + std::to_string(image->w) + " pixels wide, less than one " +
                               std::to_string(CellSize) + "-pixel frame");
        if (image->w >= CellSize && image->h >= CellSize && !UsableTile(image))
            problems.push_back(slot + ": not a 16-bit memory bitmap");
    }

    // The ground outside the map shows tile 0 at the low 8 bits of the
    // global frame, which runs 0..AnimLastFrame.
    if (board.TileCount > 0 && board.AnimLastFrame > 0 && UsableTile(inspected.tiles[0].get())) {
        const int needed = std::min(board.AnimLastFrame, 255) + 1;
        const int frames = WholeFrames(inspected.tiles[0].get());
        if (frames < needed)
            problems.push_back(TileSlot(0, board.TileNames[0]) + ": " + Frames(frames) +
                               ", the global animation runs to frame " + std::to_string(needed - 1) +
                               " and needs " + std::to_string(needed));
    }

    // Cells, in file order; one problem text may hold for many cells.
    std::map<std::string, int> cellCounts;
    std::vector<std::string> cellOrder;
    auto cellProblem = [&](int tx, int ty, const std::string& what) {
        int& count = cellCounts[what];
        if (count == 0)
            cellOrder.push_back(what);
        if (count++ < CellsListed)
            problems.push_back("cell (" + std::to_string(tx) + ", " + std::to_string(ty) + "): " + what);
    };
    for (int ty = 0; ty < MapSize && board.TileCount > 0; ty++) {
        for (int tx = 0; tx < MapSize; tx++) {
            const MapCell& cell = board.Cells[tx][ty];
            if (cell.Tile >= board.TileCount) {
                cellProblem(tx, ty, "tile " + std::to_string(cell.Tile) + " is not below the tile count " +
                                        std::to_string(board.TileCount));
                continue;
            }
            BITMAP* image = inspected.tiles[cell.Tile].get();
            // An image that is missing or too small is reported once, above.
            if (!(cell.Flags & CellAnimated) || !UsableTile(image))
                continue;
            const int needed = cell.LastFrame + 1;
            if (WholeFrames(image) < needed)
                cellProblem(tx, ty, TileSlot(cell.Tile, board.TileNames[cell.Tile]) + " has " +
                                        Frames(WholeFrames(image)) + ", the cell animates to frame " +
                                        std::to_string(cell.LastFrame) + " and needs " + std::to_string(needed));
        }
    }
    for (const std::string& what : cellOrder)
        if (cellCounts[what] > CellsListed)
            problems.push_back(std::to_string(cellCounts[what] - CellsListed) + " more cells: " + what);

    BITMAP* sky = inspected.sky.get();
    const std::string skySlot = "sky (" + Printable(board.SkyName) + ")";
    if (!sky) {
        problems.push_back(skySlot + ": the image cannot be loaded: " + inspected.skyError);
    } else {
        if (sky->w < SkyWidth)
            problems.push_back(skySlot + ": " + std::to_string(sky->w) + " pixels wide, the sky needs " +
                               std::to_string(SkyWidth));
        if (sky->h < SkyRows)
            problems.push_back(skySlot + ": " + std::to_string(sky->h) + " rows high, the sky needs " +
                               std::to_string(SkyRows));
    }

    for (const std::string& problem : problems)
        std::printf("%s\n", problem.c_str());
    return problems.empty() ? 0 : 1;
}

static CommandRun Setup(CLI::App& app)
{
    CLI::App* command = app.add_subcommand(
        "check", "List every problem that would make a board file render wrongly or not at all; "
                 "status 1 when there is any.");
    auto board = std::make_shared<std::string>();
    command->add_option("BOARD", *board, "the board file")->required();
    return [board] { return RunCheck(*board); };
}

static const bool registered = RegisterCommand(20, Setup);
