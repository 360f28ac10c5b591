// The one way this program reads and writes files. Reading opens regular
// files only, without ever blocking on a FIFO or a device, and reads no more
// than the caller asks for. Writing goes whole or not at all: the new bytes go
// into a temporary file beside the target, reach the disk, and only then take
// the target's name, so a failure at any step leaves the old file (or no file)
// behind, never half of a new one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/error.h"

// A file name as stored in a board file or tile list, mapped for opening on
// this platform: a backslash separates directories. Messages name a file by
// this path, as it was opened.
std::string HostPath(const char* name);

// A regular file opened for reading. Anything else (a directory, a FIFO, a
// device, a socket) is refused before it is opened, and the open itself never
// waits, so no name can make a reader hang.
class ReadableFile {
public:
    ReadableFile() = default;
    ~ReadableFile();
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;

    // Opens the file stored as `name`. On failure `error` names the file as
    // opened and says why: missing, not a regular file, no permission.
    bool Open(const char* name, Error& error);
    // The file's size when it was opened.
    int64_t Size() const { return size; }
    // The file's name as opened, for messages.
    const std::string& Path() const { return path; }
    // Reads `length` bytes from `offset` into `bytes`. Fails, naming the
    // file, when they are not all there.
    bool ReadAt(int64_t offset, size_t length, std::vector<uint8_t>& bytes, Error& error) const;

private:
    int fd = -1;
    int64_t size = 0;
    std::string path;
};

// Reads the whole regular file stored as `name`; a file of more than `limit`
// bytes is refused unread, with both numbers in `error`.
bool ReadWholeFile(const char* name, int64_t limit, std::vector<uint8_t>& bytes, Error& error);

// Reads at most `limit` bytes from the start of the regular file stored as
// `name`: all of it when it is shorter.
bool ReadFileStart(const char* name, size_t limit, std::vector<uint8_t>& bytes, Error& error);

// The extension of a file name, lowercased, without its dot ("PNG" in
// "maps/Town.PNG" gives "png"); empty when the last part of the name has
// none. Slashes and backslashes both end a folder's name.
std::string LowerExtension(const std::string& name);

// True when `a` and `b` both exist and are the same file (the same one
// reached through different names or links counts).
bool SameFile(const std::string& a, const std::string& b);

// Bytes go to the disk in writes of at most this many bytes.
constexpr size_t WriteChunkSize = 16384;

// Writing. Every file this program writes goes through WriteWholeFile or
// WriteFileSet, in one of two modes:
enum class WriteMode {
    // A new file only. link(2) gives the finished file its name, which fails
    // when the name is taken, so no file that appeared meanwhile is replaced.
    // The file gets the usual permissions (0666 less the umask).
    CreateOnly,
    // A new file, or a new version of an existing regular file that keeps the
    // old one's permission bits (and its owner and group where this process
    // may set them). rename(2) puts it in place, so a reader sees the old
    // file or the new one, never part of either.
    Replace,
};

// The one rule for links, in both modes: nothing is written through a
// symbolic link; a name that is one is refused ("is a symbolic link; nothing
// is written through it"). A link may point anywhere (a file of another user,
// the very map a command reads), so following it could overwrite what the
// user never named; and the rename that makes a write atomic would replace
// the link itself rather than its target, silently turning a link into a
// file. Neither is what the user meant, so the user names the real file.
// Likewise a directory, device, FIFO or socket is never replaced.
//
// Before writing, the hidden temporary files (".NAME.tmpPID-N") that a writer
// of this program killed half-way left beside the target are removed, once
// the process that made them is gone. On failure nothing is left behind: the
// target is as it was, and `error` names the file and says which step failed
// with the system's reason.

// The reason given when CreateOnly finds the name taken.
extern const char AlreadyExistsReason[];

// Writes `bytes` as the file `path`, whole or not at all.
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, WriteMode mode, Error& error);

struct FileToWrite {
    std::string Path;
    std::vector<uint8_t> Bytes;
};

// Writes several files as one: all of them or none. Each is first written in
// full beside its target; only then are they put in place, in order. When any
// step fails, the temporaries are removed and the files already in place are
// taken back (a replaced file is restored from a hard link to the old one,
// made before anything was placed), so every target is as it was. A process
// killed while placing may leave some files new and some old, each whole.
bool WriteFileSet(const std::vector<FileToWrite>& files, WriteMode mode, Error& error);
