// Writing files whole or not at all: the new bytes go into a temporary file
// beside the target, reach the disk, and only then take the target's name, so
// a failure at any step leaves the old file (or no file) behind, never half
// of a new one.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Bytes go to the disk in writes of at most this many bytes.
constexpr size_t WriteChunkSize = 16384;

// Replaces the existing file `path` by `bytes`, keeping its permission bits
// (and its owner and group where this process may set them). When `path` is
// a symbolic link, the file it points to is replaced. On failure the
// temporary file is removed, `path` is left as it was, and `error` says which
// step failed and why (without the file name; the caller has it).
bool ReplaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Creates the file `path` holding `bytes`, with the usual permissions (0666
// less the umask). Never replaces anything: the finished temporary file is
// hard-linked to `path`, which fails when the name exists.
bool CreateFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Fault injection for tests. The hook is called with the step's name before
// each step: "create" (the temporary file), "write" (once per chunk),
// "fsync", "chmod" (replacing only), "close", then "rename" (replacing) or
// "link" (creating). When it returns true the step fails with EIO as if the
// system had refused it. An empty hook, the default, injects nothing.
using WriteFaultHook = std::function<bool(const char* step)>;
void SetWriteFaultHook(WriteFaultHook hook);
