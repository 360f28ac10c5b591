// How the world's libraries report a failure: one type for every operation
// that can fail, carrying the file concerned and what is wrong with it. The
// library returns it; the caller decides what to do (print it, keep the old
// map, refuse a command).
#pragma once

#include <string>

struct Error {
    std::string File;    // the file concerned, as opened; empty when no file is
    std::string Reason;  // what is wrong, with the numbers that show it

    // "File: Reason", or the reason alone when no file is concerned.
    std::string Message() const { return File.empty() ? Reason : File + ": " + Reason; }
};
