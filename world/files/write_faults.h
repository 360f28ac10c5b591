// Fault injection into the file layer's writers, for tests only: no program
// includes this. The hook is called with the step's name before each step:
// "create" (a temporary file), "write" (once per chunk), "fsync", "chmod"
// (replacing only), "close", "keep" (replacing within a set of files: the
// second name of the old file), then "rename" (replacing) or "link"
// (creating). When it returns true the step fails with EIO as if the system
// had refused it. An empty hook, the default, injects nothing.
#pragma once

#include <functional>

#include "files/files.h"

using WriteFaultHook = std::function<bool(const char* step)>;
void SetWriteFaultHook(WriteFaultHook hook);
