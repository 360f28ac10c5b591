// The frame picture around the view: a bevelled bezel, the program's name,
// the keys and what they do, and a small map of the island, or for any other
// map an empty box that the viewer fills with that map.
#include "render/frame.h"  // Required for: the view's and the map box's places
#include "makeworld.h"

namespace {

static_assert(MapBoxSide == 2 * MapSize, "the island's map shows two pixels a cell");

const Rgb Metal{58, 66, 82};
const Rgb Light{150, 162, 184};
const Rgb Dark{20, 24, 32};
const Rgb Ink{230, 232, 236};
const Rgb Accent{246, 196, 72};

void Box(BITMAP* board, int x0, int y0, int x1, int y1, Rgb color)
{
    rectfill(board, x0, y0, x1, y1, Pixel(color));
}

// A bevel `depth` pixels wide around the rectangle: lit from the top left
// when raised, from the bottom right when sunk.
void Bevel(BITMAP* board, int x0, int y0, int x1, int y1, int depth, bool raised)
{
    const int top = Pixel(raised ? Light : Dark);
    const int bottom = Pixel(raised ? Dark : Light);
    for (int i = 1; i <= depth; i++) {
        hline(board, x0 - i, y0 - i, x1 + i, top);
        vline(board, x0 - i, y0 - i, y1 + i, top);
        hline(board, x0 - i, y1 + i, x1 + i, bottom);
        vline(board, x1 + i, y0 - i, y1 + i, bottom);
    }
}

// Text in the built-in 8 x 8 font, scaled up by a whole factor, with a shadow.
void BigText(BITMAP* board, const char* text, int x, int y, int scale, Rgb color)
{
    const int w = text_length(font, text), h = text_height(font);
    BitmapPtr glyphs(create_bitmap_ex(16, w, h));
    for (int pass = 0; pass < 2; pass++) {
        clear_to_color(glyphs.get(), bitmap_mask_color(glyphs.get()));
        textout_ex(glyphs.get(), font, text, 0, 0, Pixel(pass == 0 ? Dark : color), -1);
        const int offset = pass == 0 ? scale / 2 + 1 : 0;
        masked_stretch_blit(glyphs.get(), board, 0, 0, w, h, x + offset, y + offset, w * scale, h * scale);
    }
}

void Text(BITMAP* board, const char* text, int x, int y, Rgb color)
{
    textout_ex(board, font, text, x, y, Pixel(color), -1);
}

// The colour a tile shows from afar: the mean of its first frame.
Rgb MeanColor(BITMAP* tile)
{
    long r = 0, g = 0, b = 0;
    for (int y = 0; y < CellSize; y++)
        for (int x = 0; x < CellSize; x++) {
            const int c = getpixel(tile, x, y);
            r += getr16(c);
            g += getg16(c);
            b += getb16(c);
        }
    const int n = CellSize * CellSize;
    return {static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(b / n)};
}

// The island, two pixels a cell, +x to the right and +y down, with the
// starting point and its heading marked.
void MiniMap(BITMAP* board, const World& world, const std::vector<BitmapPtr>& tiles, int x0, int y0)
{
    std::vector<int> colors;
    for (const BitmapPtr& tile : tiles)
        colors.push_back(Pixel(MeanColor(tile.get())));
    Bevel(board, x0, y0, x0 + 2 * MapSize - 1, y0 + 2 * MapSize - 1, 2, false);
    for (int tx = 0; tx < MapSize; tx++)
        for (int ty = 0; ty < MapSize; ty++)
            rectfill(board, x0 + 2 * tx, y0 + 2 * ty, x0 + 2 * tx + 1, y0 + 2 * ty + 1,
                     colors[world.Cells[tx][ty].Tile]);
    // The start's cell, looking along +x.
    const int startCell = static_cast<int>(StartX) / CellSize;
    static_assert(StartX == StartY && StartAngle == 0, "the mark shows a start on the diagonal, along +x");
    const int sx = x0 + 2 * startCell, sy = y0 + 2 * startCell;
    const int mark = Pixel({255, 255, 255});
    triangle(board, sx - 2, sy - 3, sx - 2, sy + 4, sx + 5, sy + 1, mark);
}

}  // namespace

BitmapPtr DrawFrame(const World& world, const std::vector<BitmapPtr>& tiles, bool island)
{
    BitmapPtr image(create_bitmap_ex(16, FrameWidth, FrameHeight));
    BITMAP* board = image.get();

    // Brushed metal: a vertical gradient with faint horizontal streaks.
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x++) {
            const int streak = ValueNoise(401, x, y * 16, 32, FrameWidth, 0);
            const Rgb base = Mix(Shade(Metal, 118), Shade(Metal, 82), y * 256 / FrameHeight);
            putpixel(board, x, y, Pixel(Shade(base, 94 + streak / 20)));
        }
    Bevel(board, 3, 3, FrameWidth - 4, FrameHeight - 4, 2, true);

    // The view: a black window sunk into the bezel.
    Box(board, ViewLeft, ViewTop, ViewLeft + ViewWidth - 1, ViewTop + ViewRows - 1, {0, 0, 0});
    Bevel(board, ViewLeft, ViewTop, ViewLeft + ViewWidth - 1, ViewTop + ViewRows - 1, 2, false);

    // Beside the view: the map of the island, or the box for any map.
    const int mapX = MapBoxLeft;
    if (island) {
        Text(board, "the island", mapX + 24, 18, Accent);
        MiniMap(board, world, tiles, mapX, MapBoxTop);
        Text(board, "you start", mapX + 28, 170, Ink);
        Text(board, "at the arrow", mapX + 16, 180, Ink);
    } else {
        Text(board, "the map", mapX + 36, 18, Accent);
        Box(board, mapX, MapBoxTop, mapX + MapBoxSide - 1, MapBoxTop + MapBoxSide - 1, {0, 0, 0});
        Bevel(board, mapX, MapBoxTop, mapX + MapBoxSide - 1, MapBoxTop + MapBoxSide - 1, 2, false);
        Text(board, "+x to the right", mapX + 4, 170, Ink);
        Text(board, "+y down", mapX + 36, 180, Ink);
    }

    // Below the view: the name, and the keys.
    BigText(board, "groundview", 22, 208, 4, Accent);
    Text(board, "a first-person walk over a tiled world", 24, 250, Ink);

    const int keysX = 22, keysY = 290;
    Box(board, keysX - 8, keysY - 10, keysX + 460, keysY + 110, Shade(Metal, 70));
    Bevel(board, keysX - 8, keysY - 10, keysX + 460, keysY + 110, 2, false);
    struct KeyLine {
        const char* key;
        const char* action;
    };
    static const KeyLine keys[] = {
        {"Left, Right", "turn"},
        {"Up", "walk forward"},
        {"F12", "save Screen.bmp"},
        {"Esc", "quit"},
    };
    int y = keysY;
    for (const KeyLine& line : keys) {
        BigText(board, line.key, keysX, y, 2, Accent);
        BigText(board, line.action, keysX + 200, y, 2, Ink);
        y += 26;
    }

    if (island) {
        Text(board, "33 ticks a second; the sea lies beyond the map's edge", 22, 440, Light);
        Text(board, "data\\test.brd", 22, 456, Light);
    } else {
        Text(board, "33 ticks a second; tile 0 lies beyond the map's edge", 22, 440, Light);
    }
    return image;
}
