// A walk's keys as text, for people and scripts: "up*40 left*20 up+left*3
// none*10 f12". Each word is the keys held for a run of ticks, joined by
// '+', with "*N" for N ticks in a row (one without it); "none" holds no key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The name of each key bit in the text, lowest bit first: right, left, up,
// f12, down, pageup, pagedown, home.
extern const char* const WalkKeyNames[8];

// Appends the ticks that `text` describes to `keys`. Refuses an unknown key
// name, a count that is not a whole number from 1 on, a key named twice in
// one word, and a walk of more than MaxWalkTicks ticks in all, with the
// reason (quoting the word) in `error`; `keys` is then left as it was.
bool ParseWalkKeys(const std::string& text, std::vector<uint8_t>& keys, std::string& error);

// The keys as the text ParseWalkKeys reads back to the same ticks, runs of
// equal ticks counted; empty for no ticks.
std::string WalkKeysText(const std::vector<uint8_t>& keys);
