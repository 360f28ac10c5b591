// The files a command writes together: all of them or none.
#pragma once

#include <string>
#include <vector>

#include "files/error.h"
#include "files/files.h"

// Writes `outputs` as one (WriteFileSet), making the directories they need
// and removing those again when nothing is written. Without `force` each is
// created and none replaced: one that exists is refused, and nothing is
// written. None may be one of the files `inputs` that the command reads
// (compared as files: another name, a link or a hard link to it counts),
// even with `force`.
bool WriteOutputs(const std::vector<FileToWrite>& outputs, const std::vector<std::string>& inputs, bool force,
                  Error& error);
