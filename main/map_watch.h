// --watch: notices when the map or an image it names has been saved, by
// looking at the files' status every few milliseconds. A save in place
// changes a file's time or size; a save by rename, as editors do, its inode.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>

#include "core/world.h"

// What stat() says of a file that changes with every save.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// The stamp of `path` now; a file that cannot be looked at is stamped absent.
FileStamp StampOf(const std::string& path);

class MapWatch {
public:
    // Watches the map file `map` (named as on the command line).
    explicit MapWatch(std::string map);

    // From now on watches the map and the images `world` names, as they are
    // now; call it once `world` has been loaded from the map.
    void Settle(const World& world);
    // Notes the map's stamp just before it is read, so that a save made
    // while it is being read is seen at the next look.
    void NoteMapRead();
    // Takes the images' stamps as they are now, keeping the map's stamp
    // from NoteMapRead; for a load that failed, so that only the next save
    // tries again.
    void SettleFailure();
    // True when some watched file is not as it was when last settled.
    bool Changed() const;

private:
    std::string Map;
    FileStamp MapStamp;
    FileStamp MapStampRead;
    std::vector<std::string> Images;  // host paths of the tile and sky images
    std::vector<FileStamp> ImageStamps;
};
