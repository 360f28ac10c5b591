// --watch: notices when any file a map is made of has been saved, by
// looking at the files' status every few milliseconds. A save in place
// changes a file's time or size; a save by rename, as editors do, its inode.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>


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

// The files of one map and their stamps, as they were just before the map
// was last read.
class MapWatch {
public:
    // Stamps every file of `files` as it is now: take them before reading.
    static std::vector<FileStamp> StampsOf(const std::vector<std::string>& files);

    // From now on watches `files` (host paths), as stamped in `stamps`, one
    // for each; a file not stamped there is stamped as it is now.
    void Settle(const std::vector<std::string>& files, const std::vector<std::string>& stampedFiles,
                const std::vector<FileStamp>& stamps);
    // True when some watched file is not as it was when last settled.
    bool Changed() const;
    const std::vector<std::string>& Files() const { return Watched; }

private:
    std::vector<std::string> Watched;
    std::vector<FileStamp> Stamps;
};
