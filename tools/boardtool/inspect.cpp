// Opening a board file for inspection by boardtool's subcommands.
#include "inspect.h"

#include <cstdio>

bool InspectBoard(const std::string& name, InspectedBoard& out, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(name.c_str(), bytes, error))
        return false;
    out.board = std::make_unique<BoardFile>();
    if (!ParseBoard(bytes.data(), bytes.size(), name, *out.board, error))
        return false;
    out.tiles.clear();
    for (int k = 0; k < out.board->TileCount; k++)
        out.tiles.push_back(LoadImage(out.board->TileNames[k]));
    out.sky = LoadImage(out.board->SkyName);
    return true;
}

int WholeFrames(const BITMAP* image)
{
    return image ? image->w / CellSize : 0;
}

std::string Printable(const char* name)
{
    std::string text;
    for (const char* p = name; *p; p++) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}
