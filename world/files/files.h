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
#include <functional>
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

// True when `a` and `b` both exist and are the same file (the same one
// reached through different names or links counts).
bool SameFile(const std::string& a, const std::string& b);

// Bytes go to the disk in writes of at most this many bytes.
constexpr size_t WriteChunkSize = 16384;

// Every writer below first removes the hidden temporary files (".NAME.tmpPID-N")
// that a writer of this program killed half-way left beside the target, once
// the process that made them is gone. On failure the temporary file is
// removed, the target is left as it was, and `error` names the target and
// says which step failed with the system's reason.

// Replaces the existing file `path` by `bytes`, keeping its permission bits
// (and its owner and group where this process may set them). When `path` is
// a symbolic link, the file it points to is replaced and the link stays.
bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, Error& error);

// Writes `bytes` as the file `path`: a new file with the usual permissions
// (0666 less the umask), or a replacement for an existing regular file that
// keeps its permission bits. Never writes through a symbolic link, never
// replaces a directory, device, FIFO or socket.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, Error& error);

// Creates the file `path` holding `bytes`, with the usual permissions (0666
// less the umask). Never replaces anything: the finished temporary file is
// hard-linked to `path`, which fails when the name exists.
bool CreateFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, Error& error);

// Fault injection for tests. The hook is called with the step's name before
// each step: "create" (the temporary file), "write" (once per chunk),
// "fsync", "chmod" (replacing only), "close", then "rename" (replacing) or
// "link" (creating). When it returns true the step fails with EIO as if the
// system had refused it. An empty hook, the default, injects nothing.
using WriteFaultHook = std::function<bool(const char* step)>;
void SetWriteFaultHook(WriteFaultHook hook);
