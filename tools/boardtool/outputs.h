// The files a command writes together: all of them or none.
#pragma once

#include <vector>

#include "files/error.h"
#include "files/files.h"

// Writes `outputs` as one (WriteFileSet), making the directories they need
// and removing those again when nothing is written. Without `force` each is
// created and none replaced: one that exists is refused, and nothing is
// written.
bool WriteOutputs(const std::vector<FileToWrite>& outputs, bool force, Error& error);
