// Opening a board file for inspection by boardtool's subcommands.
#include "inspect.h"

#include <cstdio>

bool InspectBoard(const std::string& name, InspectedBoard& out, Error& error)
{
    out.board = std::make_unique<BoardFile>();
    if (!ReadBoardFile(name.c_str(), *out.board, error))
        return false;
    out.tiles.clear();
    out.tileErrors.clear();
    out.images = std::make_unique<MapImages>();
    for (int k = 0; k < out.board->TileCount; k++) {
        Error reason;
        out.tiles.push_back(out.images->Load(out.board->TileNames[k], reason));
        out.tileErrors.push_back(reason.Message());
    }
    Error reason;
    out.sky = out.images->Load(out.board->SkyName, reason);
    out.skyError = reason.Message();
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
