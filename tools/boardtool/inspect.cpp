// Opening a board file for inspection by boardtool's subcommands.
#include "inspect.h"

#include <cstdio>

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
