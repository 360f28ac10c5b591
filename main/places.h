// Where the viewer finds its files: the map and frame picture of a run, and
// the default world it was built or installed with.
#pragma once

#include <string>

// The default world's directory, the one holding data/ with board.bmp,
// frame.bmp and test.brd: DIR/share/groundview beside an installed
// DIR/bin/groundview, else the source tree the viewer was built from.
std::string InstalledWorldDirectory();
std::string BuiltWorldDirectory();
// The first of the two that holds data/test.brd; empty when neither does.
std::string DefaultWorldDirectory();

// What one run shows and where it writes.
struct RunFiles {
    std::string map;               // the map opened at start, as named
    std::string boardPicture;      // the frame picture
    bool mapInFrame = false;       // the frame picture has a box for this map from above
    std::string screenshot;        // where F12 writes
    std::string title;             // the window's title; empty: Allegro's own
};

// Decides the files of a run in the current working directory. Without a
// map named, a working directory holding data/ runs as it always has
// (data\test.brd in data\board.bmp); one without data/ moves into the
// default world's directory and shows that, writing Screen.bmp where it was
// started. A named map is shown in the default world's general frame
// picture, with the map itself drawn into its box. Returns false, with the
// reason in `error`, when the default world is needed and cannot be found.
bool PlanRun(const std::string& map, RunFiles& files, std::string& error);
