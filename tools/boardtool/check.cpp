// boardtool check: every problem that would make the viewer draw a board
// file wrongly or not at all, one a line, naming the slot or cell; then
// warnings about pixels the viewer will never show, which do not fail it.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "command.h"
#include "render/ground.h"  // Required for: UsableTileImage
#include "image/image_file.h"  // Required for: DecodeImageFile(), which tells of alpha
#include "inspect_map.h"

// A cell problem is listed cell by cell for up to this many cells; one found
// in more is said once with its count, so a map full of one mistake stays
// readable.
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

// Pixels the viewer will never show, and tiles no cell shows: each one line.
static std::vector<std::string> Warnings(const InspectedBoard& inspected)
{
    const BoardFile& board = *inspected.board;
    std::vector<std::string> warnings;
    std::vector<int> cells(board.TileCount, 0);
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            if (board.Cells[tx][ty].Tile < board.TileCount)
                cells[board.Cells[tx][ty].Tile]++;

    for (int k = 0; k < board.TileCount; k++) {
        BITMAP* image = inspected.tiles[k].get();
        const std::string slot = TileSlot(k, board.TileNames[k]);
        if (!image)
            continue;  // a problem, listed above
        if (image->w >= CellSize && image->w % CellSize != 0)
            warnings.push_back(slot + ": " + std::to_string(image->w) + " pixels wide, not a whole number of " +
                               std::to_string(CellSize) + "-pixel frames: the last " +
                               std::to_string(image->w % CellSize) + " columns are never shown");
        if (image->h > CellSize)
            warnings.push_back(slot + ": " + std::to_string(image->h) + " rows high: rows " +
                               std::to_string(CellSize) + ".." + std::to_string(image->h - 1) +
                               " are never shown");
        const Image* facts = inspected.images->Facts(board.TileNames[k]);
        if (facts && facts->HasAlpha)
            warnings.push_back(slot + ": has pixels that are not fully opaque; the ground draws every texel opaque");
        if (facts && facts->Frames > 1)
            warnings.push_back(slot + ": an animation of " + std::to_string(facts->Frames) +
                               " pictures; only its first is shown");
        // Tile 0 also covers the ground outside the map, so it is always shown.
        if (k > 0 && cells[k] == 0)
            warnings.push_back(slot + ": no cell shows it");
    }

    BITMAP* sky = inspected.sky.get();
    if (sky && sky->h > SkyRows)
        warnings.push_back("sky (" + Printable(board.SkyName) + "): " + std::to_string(sky->h) +
                           " rows high: rows " + std::to_string(SkyRows) + ".." + std::to_string(sky->h - 1) +
                           " are never shown");
    return warnings;
}

static int RunCheck(const BoardArgument& args)
{
    InspectedBoard inspected;
    MapKind kind;
    Error error;
    if (!InspectMap(args.board, inspected, kind, error))
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
        if (image->w >= CellSize && image->h >= CellSize && !UsableTileImage(image))
            problems.push_back(slot + ": not a memory bitmap of 2 bytes per pixel with its rows side by side");
    }

    // The ground outside the map shows tile 0 at the low 8 bits of the
    // global frame, which runs 0..AnimLastFrame.
    if (board.TileCount > 0 && board.AnimLastFrame > 0 && UsableTileImage(inspected.tiles[0].get())) {
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
    std::map<std::string, std::vector<std::string>> cellsOf;
    auto cellProblem = [&](int tx, int ty, const std::string& what) {
        if (cellCounts[what]++ == 0)
            cellOrder.push_back(what);
        std::vector<std::string>& cells = cellsOf[what];
        if (cells.size() <= static_cast<size_t>(CellsListed))
            cells.push_back("(" + std::to_string(tx) + ", " + std::to_string(ty) + ")");
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
            if (!(cell.Flags & CellAnimated) || !UsableTileImage(image))
                continue;
            const int needed = cell.LastFrame + 1;
            if (WholeFrames(image) < needed)
                cellProblem(tx, ty, TileSlot(cell.Tile, board.TileNames[cell.Tile]) + " has " +
                                        Frames(WholeFrames(image)) + ", the cell animates to frame " +
                                        std::to_string(cell.LastFrame) + " and needs " + std::to_string(needed));
        }
    }
    for (const std::string& what : cellOrder) {
        const int count = cellCounts[what];
        if (count > CellsListed) {
            problems.push_back(std::to_string(count) + " cells, the first " + cellsOf[what].front() + ": " + what);
            continue;
        }
        for (const std::string& cell : cellsOf[what])
            problems.push_back("cell " + cell + ": " + what);
    }

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

    const std::vector<std::string> warnings = Warnings(inspected);
    for (const std::string& problem : problems)
        std::printf("%s\n", problem.c_str());
    for (const std::string& warning : warnings)
        std::printf("warning: %s\n", warning.c_str());
    if (!problems.empty())
        return 1;
    std::printf("%s: no problems%s\n", args.board.c_str(),
                warnings.empty() ? ""
                                 : (", " + std::to_string(warnings.size()) +
                                    (warnings.size() == 1 ? " warning" : " warnings")).c_str());
    return 0;
}

CommandRun SetupCheck(CLI::App* command)
{
    return Runs(RunCheck, BoardOptions<BoardArgument>(command));
}
