// Walk files byte by byte, their keys as words, boardtool's walk commands,
// and videos of walks decoded back and held to boardtool render's views.
#include <gtest/gtest.h>

#include <unistd.h>  // Required for: link()

#include <cmath>
#include <cstring>

#include "test_support.h"
#include "video_decode.h"
#include "walk/walk_file.h"
#include "walk/walk_keys.h"

namespace {

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A walk with every field set to something other than its default.
Walk SampleWalk()
{
    Walk walk;
    walk.MapName = "maps\\isle.brd";
    for (size_t k = 0; k < walk.Digest.size(); k++)
        walk.Digest[k] = static_cast<uint8_t>(0xA0 + k);
    walk.TickRate = 33;
    walk.StartX = -12.5f;
    walk.StartY = 3045.0f;
    walk.StartAngle = 2879;
    walk.StartHeight = 14;
    walk.Keys = {0x00, WalkUp, WalkUp | WalkLeft, WalkScreenshot};
    return walk;
}

Bytes Encode(const Walk& walk)
{
    Bytes bytes;
    Error error;
    EXPECT_TRUE(EncodeWalk(walk, bytes, error)) << error;
    return bytes;
}

TEST(WalkFile, LayoutAsDocumented)
{
    const Bytes bytes = Encode(SampleWalk());
    Bytes expected = {'G', 'V', 'W', 'A', 'L', 'K', 0x1A, 0x0A,  // magic
                      1, 0,                                      // version
                      33, 0,                                     // ticks a second
                      0x00, 0x00, 0x48, 0xC1,                    // x -12.5
                      0x00, 0x50, 0x3E, 0x45,                    // y 3045
                      0x3F, 0x0B,                                // heading 2879
                      14, 0};                                    // height
    for (int k = 0; k < 32; k++)
        expected.push_back(static_cast<uint8_t>(0xA0 + k));
    expected.insert(expected.end(), {13, 0});
    for (char c : std::string("maps\\isle.brd"))
        expected.push_back(static_cast<uint8_t>(c));
    expected.insert(expected.end(), {4, 0, 0, 0, 0x00, 0x04, 0x06, 0x08});
    EXPECT_EQ(bytes, expected);

    Walk back;
    Error error;
    ASSERT_TRUE(ParseWalk(bytes.data(), bytes.size(), "w", back, error)) << error;
    const Walk sample = SampleWalk();
    EXPECT_EQ(back.MapName, sample.MapName);
    EXPECT_EQ(back.Digest, sample.Digest);
    EXPECT_EQ(back.StartX, sample.StartX);
    EXPECT_EQ(back.StartY, sample.StartY);
    EXPECT_EQ(back.StartAngle, sample.StartAngle);
    EXPECT_EQ(back.StartHeight, sample.StartHeight);
    EXPECT_EQ(back.Keys, sample.Keys);
    EXPECT_FALSE(back.Unbound());
}

TEST(WalkFile, RefusedWithTheFileAndTheFault)
{
    const Bytes good = Encode(SampleWalk());
    const auto with = [&good](size_t at, std::initializer_list<uint8_t> bytes) {
        Bytes changed = good;
        std::copy(bytes.begin(), bytes.end(), changed.begin() + at);
        return changed;
    };
    Bytes longer = good;
    longer.push_back(0);
    const struct {
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {Bytes(good.begin(), good.begin() + 5), "not a walk file"},
        {with(0, {'g'}), "not a walk file"},
        {Bytes(good.begin(), good.begin() + 30), "30 bytes, less than the 58-byte header"},
        {with(8, {2, 0}), "walk file version 2; this program reads version 1"},
        {with(10, {0, 0}), "tick rate 0 is outside 1..1000"},
        {with(12, {0x00, 0x00, 0xC0, 0x7F}), "start position (nan, 3045) is not within"},
        {with(16, {0x00, 0x00, 0x80, 0x4F}), "start position (-12.5, 4.2949673e+09)"},
        {with(20, {0x40, 0x0B}), "start heading 2880 is outside 0..2879"},
        {with(22, {100, 0}), "start height 100 is outside 0..99"},
        {with(56, {0x01, 0x10}), "the map's name has 4097 bytes, more than 4096"},
        {with(56, {60, 0}), "too short for a map name of 60 bytes"},
        {with(58 + 13, {0, 0, 0, 2}), "33554432 ticks, more than 16777216"},
        {with(58 + 13, {5, 0, 0, 0}), "79 bytes, but 5 ticks make a file of 80"},
        {longer, "80 bytes, but 4 ticks make a file of 79"},
    };
    for (const auto& test : cases) {
        Walk out = SampleWalk();
        out.Keys = {1, 2, 3};
        Error error;
        EXPECT_FALSE(ParseWalk(test.bytes.data(), test.bytes.size(), "a.walk", out, error)) << test.reason;
        EXPECT_EQ(error.File, "a.walk");
        EXPECT_TRUE(Contains(error.Reason, test.reason)) << error.Reason << " / " << test.reason;
        EXPECT_EQ(out.Keys, Bytes({1, 2, 3})) << "a refused walk changed the record: " << test.reason;
    }
    // Nothing outside the limits is written either.
    Walk wrong = SampleWalk();
    wrong.StartAngle = -1;
    Bytes bytes;
    Error error;
    EXPECT_FALSE(EncodeWalk(wrong, bytes, error));
    EXPECT_EQ(error.Reason, "start heading -1 is outside 0..2879");
}

TEST(WalkFile, DigestIsSha256OfTheBytes)
{
    ScratchDir scratch;
    WriteBytes("abc", Bytes{'a', 'b', 'c'});
    MapDigest digest;
    Error error;
    ASSERT_TRUE(DigestFile("abc", digest, error)) << error;
    EXPECT_EQ(DigestText(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(DigestFile("missing", digest, error));
    EXPECT_EQ(error.File, "missing");
}

TEST(WalkKeys, WordsToTicksAndBack)
{
    std::vector<uint8_t> keys;
    std::string error;
    ASSERT_TRUE(ParseWalkKeys(" up*3\tleft+up*2 none f12\n right*1 ", keys, error)) << error;
    const std::vector<uint8_t> expected = {WalkUp, WalkUp, WalkUp, WalkLeft | WalkUp, WalkLeft | WalkUp, 0,
                                           WalkScreenshot, WalkRight};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(WalkKeysText(keys), "up*3 left+up*2 none f12 right");
    std::vector<uint8_t> again;
    ASSERT_TRUE(ParseWalkKeys(WalkKeysText(keys), again, error));
    EXPECT_EQ(again, keys);

    const struct {
        const char* text;
        const char* reason;
    } refused[] = {
        {"up*0", "'up*0': the count after '*' must be a whole number from 1"},
        {"up*", "'up*': the count"},
        {"up*-3", "'up*-3': the count"},
        {"up*1x", "'up*1x': the count"},
        {"jump", "'jump': no key is called 'jump'"},
        {"up++left", "no key is called ''"},
        {"up+up", "'up+up': 'up' is named twice"},
        {"up*16777216 up", "more than 16777216 ticks in all"},
    };
    for (const auto& test : refused) {
        std::vector<uint8_t> kept = {7};
        EXPECT_FALSE(ParseWalkKeys(test.text, kept, error)) << test.text;
        EXPECT_TRUE(Contains(error, test.reason)) << error << " / " << test.reason;
        EXPECT_EQ(kept, std::vector<uint8_t>({7}));
    }
}

TEST(WalkCommands, NewAndInfo)
{
    ScratchDir scratch;
    WriteBytes("map.brd", Bytes{'m'});
    CommandResult made = RunCommand(Boardtool("walk new w.walk --from 100.5,-7,720 --keys 'up*4 left f12' --map map.brd"));
    ASSERT_EQ(made.status, 0) << made.err;
    const CommandResult info = RunCommand(Boardtool("walk-info w.walk"));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "map: map.brd\n")) << info.out;
    // SHA-256 of the one byte "m".
    EXPECT_TRUE(Contains(info.out, "map sha-256: 62c66a7a5dd70c3146618063c344e531e6d4b59e379808443ce962b3abd63c5a"))
        << info.out;
    EXPECT_TRUE(Contains(info.out, "start: x 100.5 y -7 heading 720 height 14\n")) << info.out;
    EXPECT_TRUE(Contains(info.out, "ticks: 6 at 33 a second")) << info.out;
    EXPECT_TRUE(Contains(info.out, "screenshots: 1, the last at tick 5\nkeys: up*4 left f12\n")) << info.out;

    // An existing walk is kept unless --force; the map is never written over.
    const Bytes before = ReadBytes("w.walk");
    made = RunCommand(Boardtool("walk new w.walk --keys up"));
    EXPECT_EQ(made.status, 1);
    EXPECT_EQ(ReadBytes("w.walk"), before);
    EXPECT_EQ(RunCommand(Boardtool("walk new w.walk --keys up --force")).status, 0);
    EXPECT_TRUE(Contains(RunCommand(Boardtool("walk-info w.walk")).out, "map sha-256: none (shown on any map)"));
    made = RunCommand(Boardtool("walk new map.brd --keys up --map map.brd --force"));
    EXPECT_EQ(made.status, 1);
    EXPECT_EQ(ReadBytes("map.brd"), Bytes{'m'});

    // Keys the viewer does not have, poses out of range, and a broken file.
    const struct {
        const char* arguments;
        const char* said;
    } refused[] = {
        {"walk new x.walk --keys 'up down'", "the viewer has no key down yet"},
        {"walk new x.walk --keys up --from 1,2", "--from '1,2': give X,Y,HEADING"},
        {"walk new x.walk --keys up --from 1,2,2880", "the heading 2880 is outside 0..2879"},
        {"walk new x.walk --keys up --from 2e9,0,0", "X and Y must be numbers within"},
        {"walk-info map.brd", "map.brd: not a walk file"},
    };
    for (const auto& test : refused) {
        const CommandResult result = RunCommand(Boardtool(test.arguments));
        EXPECT_EQ(result.status, 1) << test.arguments;
        EXPECT_TRUE(Contains(result.err, test.said)) << result.err;
    }
    EXPECT_FALSE(FileExists("x.walk"));
}

// The default world, whose images are named relative to the source tree.
std::string InSource(const std::string& command)
{
    return std::string("cd " GROUNDVIEW_SOURCE_DIR " && ") + command;
}

RgbPicture ReadPicture(const std::string& path)
{
    const Bytes bytes = ReadBytes(path);
    // A 24-bit BMP as boardtool writes it: rows bottom up, B G R, padded to 4.
    RgbPicture picture;
    picture.Width = bytes[18] | bytes[19] << 8;
    picture.Height = bytes[22] | bytes[23] << 8;
    const size_t offset = bytes[10] | bytes[11] << 8;
    const size_t stride = (size_t(picture.Width) * 3 + 3) / 4 * 4;
    for (int y = 0; y < picture.Height; y++)
        for (int x = 0; x < picture.Width; x++) {
            const uint8_t* p = &bytes[offset + (picture.Height - 1 - y) * stride + size_t(x) * 3];
            picture.Rgb.insert(picture.Rgb.end(), {p[2], p[1], p[0]});
        }
    return picture;
}

TEST(WalkVideo, OneFramePerTickEachTheViewRendered)
{
    ScratchDir scratch;
    const std::string here = scratch.Path();
    // Heading 0: Up adds exactly 7 to x a tick; Left turns 18 steps.
    ASSERT_EQ(RunCommand(Boardtool("walk new w.walk --keys 'up*5 left*3 up*2' --map " GROUNDVIEW_SOURCE_DIR
                                   "/data/test.brd")).status, 0);
    CommandResult made = RunCommand(InSource(Boardtool("video data/test.brd " + here + "/w.walk " + here + "/v.mkv")));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.err, "");  // no progress bar without a terminal

    DecodedVideo video;
    std::string reason;
    ASSERT_TRUE(DecodeVideo("v.mkv", {0, 5, 8}, video, reason)) << reason;
    EXPECT_EQ(video.Frames, 10);
    EXPECT_EQ(video.Codec, "ffv1");
    ASSERT_EQ(video.Kept.size(), 3u);
    // Frame k shows the walk after k ticks: the pose and the animation.
    const struct {
        const char* pose;
    } views[] = {{"--x 480 --heading 0 --ticks 0"}, {"--x 515 --heading 0 --ticks 5"},
                 {"--x 515 --heading 54 --ticks 8"}};
    for (int k = 0; k < 3; k++) {
        ASSERT_EQ(RunCommand(InSource(Boardtool("render data/test.brd " + here + "/r.bmp " + views[k].pose))).status,
                  0);
        EXPECT_EQ(Psnr(ReadPicture("r.bmp"), video.Kept[k]), 1000) << "frame " << k << " is not " << views[k].pose;
    }

    // A walk is shown on its own map only, unless --force; nothing it
    // reads is written over; the name chooses the format.
    WriteBytes("other.brd", Bytes{'x'});
    const Bytes walkBytes = ReadBytes("w.walk");
    // Other names, through hard links, for the walk and the map it reads.
    WriteBytes("m.brd", ReadBytes(GROUNDVIEW_SOURCE_DIR "/data/test.brd"));
    ASSERT_EQ(link("w.walk", "walk.mkv"), 0);
    ASSERT_EQ(link("m.brd", "map.mp4"), 0);
    const Bytes mapBytes = ReadBytes("m.brd");
    const struct {
        std::string arguments;
        const char* said;
    } refused[] = {
        {"video " + here + "/other.brd " + here + "/w.walk " + here + "/o.mkv", "not on " },
        {"video data/test.brd " + here + "/w.walk " + here + "/walk.mkv", "which this command reads"},
        {"video " + here + "/m.brd " + here + "/w.walk " + here + "/map.mp4 --force", "which this command reads"},
        {"video data/test.brd " + here + "/w.walk " + here + "/o.avi", "must end in .mp4"},
        {"video data/test.brd " + here + "/w.walk " + here + "/o.mkv --scale 9", "--scale 9 is outside 1..8"},
    };
    for (const auto& test : refused) {
        const CommandResult result = RunCommand(InSource(Boardtool(test.arguments)));
        EXPECT_EQ(result.status, 1) << test.arguments;
        EXPECT_TRUE(Contains(result.err, test.said)) << result.err;
    }
    EXPECT_EQ(ReadBytes("w.walk"), walkBytes);
    EXPECT_EQ(ReadBytes("m.brd"), mapBytes);
    EXPECT_EQ(ReadBytes("other.brd"), Bytes{'x'});
    EXPECT_FALSE(FileExists("o.mkv"));
}

}  // namespace
