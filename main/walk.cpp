// The viewer's side of walks: the keys of each tick from the keyboard or a
// walk, a recording kept and written when the viewer ends, a walk to play
// checked against the map it is shown on.
#include "walk.h"

#include <unistd.h>  // Required for: getcwd()

#include <allegro.h>

#include <cerrno>
#include <climits>  // Required for: PATH_MAX
#include <cstdio>
#include <cstring>

#include "core/tables.h"         // Required for: AngleSteps, HeightSteps
#include "core/ticks.h"          // Required for: TicksPerSecond
#include "core/view_geometry.h"  // Required for: ViewHeightIndex
#include "core/world.h"

static_assert(WalkAngleSteps == AngleSteps, "a walk's headings are the viewer's");
static_assert(WalkHeightSteps == HeightSteps, "a walk's heights are the viewer's");

uint8_t KeyboardKeys()
{
    uint8_t held = 0;
    if (key[KEY_RIGHT])
        held |= WalkRight;
    if (key[KEY_LEFT])
        held |= WalkLeft;
    if (key[KEY_UP])
        held |= WalkUp;
    if (key[KEY_F12])
        held |= WalkScreenshot;
    return held;
}

TickKeys SteeringKeys(uint8_t held)
{
    return TickKeys{(held & WalkRight) != 0, (held & WalkLeft) != 0, (held & WalkUp) != 0};
}

void RunWalkTick(ViewerState& viewer, World& world, uint8_t held)
{
    StepViewer(viewer, SteeringKeys(held));
    world.AnimateTiles();
}

int TakeWalkOption(int argc, char** argv, int& i, WalkOptions& options, std::string& failure)
{
    const std::string option = argv[i];
    if (option == "--force") {
        options.force = true;
        return 1;
    }
    WalkOptions::Mode mode;
    if (option == "--record")
        mode = WalkOptions::Mode::Record;
    else if (option == "--play")
        mode = WalkOptions::Mode::Play;
    else if (option == "--timedemo")
        mode = WalkOptions::Mode::Timedemo;
    else
        return 0;
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        failure = option + " needs a WALK file";
        return -1;
    }
    if (options.mode != WalkOptions::Mode::None) {
        failure = "one of --record, --play and --timedemo at a time";
        return -1;
    }
    options.mode = mode;
    options.path = argv[++i];
    return 1;
}

// `path` as it names the same file from any working directory.
static bool AbsolutePath(const std::string& path, std::string& absolute, std::string& failure)
{
    if (!path.empty() && path[0] == '/') {
        absolute = path;
        return true;
    }
    char here[PATH_MAX];
    if (!getcwd(here, sizeof here)) {
        failure = std::string("cannot tell the working directory: ") + std::strerror(errno);
        return false;
    }
    absolute = std::string(here) + "/" + path;
    return true;
}

// "the default world" or the map's name, for messages.
static std::string MapLabel(const std::string& name)
{
    return name.empty() ? std::string("the default world") : name;
}

bool WalkSession::Prepare(const WalkOptions& given, std::string& map, std::string& failure)
{
    Options = given;
    if (Options.force && Options.mode != WalkOptions::Mode::Play && Options.mode != WalkOptions::Mode::Timedemo) {
        failure = "--force goes with --play or --timedemo";
        return false;
    }
    if (Options.mode == WalkOptions::Mode::None)
        return true;
    if (Options.mode == WalkOptions::Mode::Record) {
        Steps.MapName = map;
        return AbsolutePath(Options.path, Options.path, failure);
    }

    Error error;
    if (!ReadWalkFile(Options.path.c_str(), Steps, error)) {
        failure = error.Message();
        return false;
    }
    if (Steps.TickRate != TicksPerSecond) {
        failure = Options.path + ": made at " + std::to_string(Steps.TickRate) + " ticks a second; this viewer runs " +
                  std::to_string(TicksPerSecond);
        return false;
    }
    if (Steps.StartHeight != ViewHeightIndex) {
        failure = Options.path + ": starts at height " + std::to_string(Steps.StartHeight) +
                  "; this viewer always looks from height " + std::to_string(ViewHeightIndex);
        return false;
    }
    for (size_t tick = 0; tick < Steps.Keys.size(); tick++) {
        if (Steps.Keys[tick] & ~ViewerWalkKeys) {
            char bits[8];
            std::snprintf(bits, sizeof bits, "0x%02x", Steps.Keys[tick] & ~ViewerWalkKeys & 0xFF);
            failure = Options.path + ": tick " + std::to_string(tick) + " holds keys this viewer does not have (bits " +
                      bits + ")";
            return false;
        }
    }
    if (map.empty())
        map = Steps.MapName;
    return true;
}

bool WalkSession::Start(const std::string& map, ViewerState& viewer, std::string& failure)
{
    if (Options.mode == WalkOptions::Mode::None)
        return true;
    if (SameFile(Options.path, HostPath(map.c_str()))) {
        failure = Options.path + ": is the map " + map + "; a walk is never written over it";
        return false;
    }
    MapDigest digest;
    Error error;
    if (!DigestFile(map.c_str(), digest, error)) {
        failure = error.Message();
        return false;
    }

    if (Recording()) {
        Steps.Digest = digest;
        Steps.TickRate = TicksPerSecond;
        Steps.StartX = viewer.x;
        Steps.StartY = viewer.y;
        Steps.StartAngle = viewer.angle;
        Steps.StartHeight = ViewHeightIndex;
        // A pose the format cannot hold is refused now, not after the walk.
        if (!CheckWalk(Steps, error)) {
            failure = Options.path + ": cannot record: " + error.Reason;
            return false;
        }
        return true;
    }

    if (!Steps.Unbound() && digest != Steps.Digest && !Options.force) {
        failure = Options.path + ": made on " + MapLabel(Steps.MapName) + " (SHA-256 " + DigestText(Steps.Digest) +
                  "), not on " + map + " (SHA-256 " + DigestText(digest) + "); --force plays it anyway";
        return false;
    }
    viewer.x = Steps.StartX;
    viewer.y = Steps.StartY;
    viewer.angle = Steps.StartAngle;
    return true;
}

uint8_t WalkSession::NextKeys()
{
    if (Playing() || Timing())
        return Next < Steps.Keys.size() ? Steps.Keys[Next++] : 0;
    const uint8_t held = KeyboardKeys();
    if (Recording()) {
        if (Steps.Keys.size() < MaxWalkTicks) {
            Steps.Keys.push_back(held);
        } else if (!Full) {
            std::fprintf(stderr, "groundview: %s: the walk holds its most ticks, %u; the rest is not recorded\n",
                         Options.path.c_str(), MaxWalkTicks);
            Full = true;
        }
    }
    Next++;
    return held;
}

bool WalkSession::Finish(std::string& failure)
{
    if (!Recording())
        return true;
    Error error;
    if (!WriteWalkFile(Options.path, Steps, WriteMode::Replace, error)) {
        failure = "walk " + error.Message();
        return false;
    }
    return true;
}
