// The walk file reader on arbitrary bytes, and the same bytes read as the
// words of walk new's --keys. A refused walk must leave the record as it
// was and name the file; an accepted one must encode back to exactly its
// bytes, and its keys written as words must read back to the same ticks.
#include <string>

#include "walk/walk_file.h"
#include "walk/walk_keys.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Walk walk;
    walk.MapName = "kept";
    walk.Keys = {WalkUp};
    Error error;
    if (!ParseWalk(data, size, "fuzz.walk", walk, error)) {
        Require(walk.MapName == "kept" && walk.Keys == std::vector<uint8_t>{WalkUp}, "a refused walk changed the record");
        Require(error.File == "fuzz.walk" && !error.Reason.empty(), "a refusal without the file or a reason");
    } else {
        Require(size <= static_cast<size_t>(MaxWalkFileSize), "a walk longer than the format allows was read");
        std::vector<uint8_t> bytes;
        Require(EncodeWalk(walk, bytes, error), "a walk that was read cannot be written: " + error.Reason);
        Require(bytes == std::vector<uint8_t>(data, data + size), "a walk does not encode back to its bytes");
        std::vector<uint8_t> keys;
        std::string reason;
        Require(ParseWalkKeys(WalkKeysText(walk.Keys), keys, reason) && keys == walk.Keys,
                "a walk's keys as words do not read back: " + reason);
    }

    // The same bytes as words. The text of every accepted set of ticks reads
    // back to them.
    std::vector<uint8_t> keys = {WalkLeft};
    std::string reason;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!ParseWalkKeys(text, keys, reason)) {
        Require(keys == std::vector<uint8_t>{WalkLeft}, "refused words changed the keys");
        Require(!reason.empty(), "refused words without a reason");
        return 0;
    }
    Require(keys.size() <= MaxWalkTicks + 1, "more ticks than a walk holds");
    std::vector<uint8_t> again;
    Require(ParseWalkKeys(WalkKeysText(keys), again, reason) && again == keys, "words do not read back: " + reason);
    return 0;
}
