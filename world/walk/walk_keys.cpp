// A walk's keys read from and written as words: key names joined by '+',
// each word with the number of ticks it lasts.
#include "walk/walk_keys.h"

#include <cstring>

#include "walk/walk_file.h"  // Required for: MaxWalkTicks

const char* const WalkKeyNames[8] = {"right", "left", "up", "f12", "down", "pageup", "pagedown", "home"};

namespace {

const char NoKey[] = "none";
const char Separators[] = " \t\r\n";

// The bit of the key called `name`, or 0 when there is none of that name.
uint8_t KeyBit(const std::string& name)
{
    for (int bit = 0; bit < 8; bit++)
        if (name == WalkKeyNames[bit])
            return static_cast<uint8_t>(1u << bit);
    return 0;
}

// One word: the keys held and for how many ticks.
bool ParseWord(const std::string& word, uint8_t& held, uint32_t& count, std::string& error)
{
    const auto refuse = [&](const std::string& why) {
        error = "'" + word + "': " + why;
        return false;
    };
    const size_t star = word.find('*');
    const std::string names = word.substr(0, star);
    count = 1;
    if (star != std::string::npos) {
        const std::string digits = word.substr(star + 1);
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            return refuse("the count after '*' must be a whole number from 1 to " + std::to_string(MaxWalkTicks));
        count = static_cast<uint32_t>(std::stoul(digits));
        if (count < 1 || count > MaxWalkTicks)
            return refuse("the count after '*' must be a whole number from 1 to " + std::to_string(MaxWalkTicks));
    }
    held = 0;
    if (names == NoKey)
        return true;
    size_t start = 0;
    while (true) {
        const size_t plus = names.find('+', start);
        const std::string name = names.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        const uint8_t bit = KeyBit(name);
        if (bit == 0)
            return refuse("no key is called '" + name + "'; the keys are none, right, left, up, f12, down, "
                          "pageup, pagedown and home");
        if (held & bit)
            return refuse("'" + name + "' is named twice");
        held |= bit;
        if (plus == std::string::npos)
            return true;
        start = plus + 1;
    }
}

}  // namespace

bool ParseWalkKeys(const std::string& text, std::vector<uint8_t>& keys, std::string& error)
{
    std::vector<uint8_t> added;
    size_t at = text.find_first_not_of(Separators);
    while (at != std::string::npos) {
        const size_t end = text.find_first_of(Separators, at);
        const std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        uint8_t held;
        uint32_t count;
        if (!ParseWord(word, held, count, error))
            return false;
        if (count > MaxWalkTicks - keys.size() - added.size()) {
            error = "more than " + std::to_string(MaxWalkTicks) + " ticks in all";
            return false;
        }
        added.insert(added.end(), count, held);
        at = end == std::string::npos ? end : text.find_first_not_of(Separators, end);
    }
    keys.insert(keys.end(), added.begin(), added.end());
    return true;
}

std::string WalkKeysText(const std::vector<uint8_t>& keys)
{
    std::string text;
    for (size_t at = 0; at < keys.size();) {
        size_t end = at;
        while (end < keys.size() && keys[end] == keys[at])
            end++;
        std::string word;
        for (int bit = 0; bit < 8; bit++)
            if (keys[at] & (1u << bit))
                word += (word.empty() ? "" : "+") + std::string(WalkKeyNames[bit]);
        if (word.empty())
            word = NoKey;
        if (end - at > 1)
            word += "*" + std::to_string(end - at);
        text += (text.empty() ? "" : " ") + word;
        at = end;
    }
    return text;
}
