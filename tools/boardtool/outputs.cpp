// Writing a command's files: checked first, then each replaced atomically.
#include "outputs.h"

#include <filesystem>

#include "files/files.h"

namespace fs = std::filesystem;

bool CheckOutputs(const std::vector<Output>& outputs, bool force, Error& error)
{
    for (const Output& output : outputs) {
        std::error_code ignored;
        const fs::file_status status = fs::status(output.Path, ignored);
        if (fs::is_directory(status)) {
            error = Error{output.Path, "is a directory"};
            return false;
        }
        if (fs::exists(status) && !force) {
            error = Error{output.Path, "exists; give --force to replace it (nothing was written)"};
            return false;
        }
    }
    return true;
}

bool WriteOutputs(const std::vector<Output>& outputs, Error& error)
{
    for (const Output& output : outputs) {
        const fs::path dir = fs::path(output.Path).parent_path();
        std::error_code failure;
        if (!dir.empty() && !fs::is_directory(dir) && !fs::create_directories(dir, failure) && failure) {
            error = Error{dir.string(), "cannot create the directory: " + failure.message()};
            return false;
        }
        if (!WriteFileAtomically(output.Path, output.Bytes, error))
            return false;
    }
    return true;
}
