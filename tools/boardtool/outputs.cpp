// Writing a command's files as one, through the file layer.
#include "outputs.h"

#include <filesystem>

namespace fs = std::filesystem;

// Makes the missing directories above `path`, adding each made to `made`,
// the deepest last.
static bool MakeDirectories(const std::string& path, std::vector<fs::path>& made, Error& error)
{
    std::vector<fs::path> missing;
    std::error_code failure;
    for (fs::path dir = fs::path(path).parent_path(); !dir.empty() && !fs::exists(fs::symlink_status(dir, failure));
         dir = dir.parent_path())
        missing.push_back(dir);
    for (auto dir = missing.rbegin(); dir != missing.rend(); ++dir) {
        if (!fs::create_directory(*dir, failure) && failure) {
            error = Error{dir->string(), "cannot create the directory: " + failure.message()};
            return false;
        }
        made.push_back(*dir);
    }
    return true;
}

bool WriteOutputs(const std::vector<FileToWrite>& outputs, const std::vector<std::string>& inputs, bool force,
                  Error& error)
{
    for (const FileToWrite& output : outputs)
        for (const std::string& input : inputs)
            if (SameFile(output.Path, input)) {
                error = Error{output.Path, "not written: it is " + input + ", which this command reads"};
                error.Reason += " (nothing was written)";
                return false;
            }
    std::vector<fs::path> made;
    bool written = true;
    for (const FileToWrite& output : outputs)
        if (!MakeDirectories(output.Path, made, error)) {
            written = false;
            break;
        }
    if (written && !WriteFileSet(outputs, force ? WriteMode::Replace : WriteMode::CreateOnly, error)) {
        if (error.Reason == AlreadyExistsReason)
            error.Reason = "exists; give --force to replace it";
        written = false;
    }
    if (written)
        return true;
    // Only what this command made, and only while empty.
    std::error_code ignored;
    for (auto dir = made.rbegin(); dir != made.rend(); ++dir)
        fs::remove(*dir, ignored);
    error.Reason += " (nothing was written)";
    return false;
}
