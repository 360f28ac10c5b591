// The files a command writes, checked together before any is written: none
// may exist unless the user said --force, and each then goes to disk whole
// or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/error.h"

struct Output {
    std::string Path;
    std::vector<uint8_t> Bytes;
};

// Refuses (returns false with `error`) when some output exists and `force`
// is not given, or names a directory.
bool CheckOutputs(const std::vector<Output>& outputs, bool force, Error& error);

// Writes every output in order, each atomically, creating missing
// directories; stops at the first failure.
bool WriteOutputs(const std::vector<Output>& outputs, Error& error);
