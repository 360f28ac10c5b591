// Allegro bitmaps as this program holds them: one owner each, made from
// decoded images, encoded as BMP, and the placeholders that stand in for an
// image that cannot be loaded.
#pragma once

#include <allegro.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/map_record.h"   // Required for: CellSize
#include "core/tables.h"        // Required for: AngleSteps
#include "core/view_geometry.h" // Required for: Horizon
#include "files/error.h"
#include "image/image_file.h"  // Required for: MaxMapPixels

struct Image;
struct ImageReaders;

struct BitmapDeleter {
    // For a bitmap that shows another's pixels (a sub-bitmap of all of it):
    // that other, kept alive for as long as this one is.
    std::shared_ptr<BITMAP> Shown;
    void operator()(BITMAP* bitmap) const
    {
        if (bitmap)
            destroy_bitmap(bitmap);
    }
};
// A bitmap with exactly one owner, destroyed with it.
using BitmapPtr = std::unique_ptr<BITMAP, BitmapDeleter>;

constexpr int SkyPlaceholderWidth = AngleSteps;    // one column per angle step
constexpr int SkyPlaceholderHeight = Horizon + 1;  // the view's rows down to the horizon

// The readers of the formats that only Allegro decodes here (PCX), for
// DecodeImage and DecodeImageFile.
const ImageReaders& AllegroReaders();

// Loads an image file (DecodeImageFile with AllegroReaders()), converted to
// the current colour depth as Allegro's loader converts it; null on failure,
// with `error` naming the file and the reason.
BitmapPtr LoadImage(const char* name, Error& error);

// The image as a memory bitmap of the current colour depth, each pixel as
// Allegro's load_bitmap with COLORCONV_TOTAL converts it; alpha is dropped
// as it drops it. Null when the bitmap cannot be made.
BitmapPtr ImageToBitmap(const Image& image);

// The images of one map, loaded as LoadImage loads them, each file decoded
// once however many slots name it: every slot gets a bitmap of its own that
// shows the one copy of the pixels. Together they hold at most MaxMapPixels
// decoded pixels (or the budget given); an image that would pass that is
// refused, before it is decoded, with the budget in its reason.
class MapImages {
public:
    // `budget`: the decoded pixels all the map's images may have.
    explicit MapImages(int64_t budget = MaxMapPixels) : budget(budget) {}
    // The image file `name`; null with `error` when it cannot be loaded
    // (the same error for every slot that names it).
    BitmapPtr Load(const char* name, Error& error);
    // A bitmap of `image`, held in memory under `name`, made once.
    BitmapPtr FromImage(const std::string& name, const Image& image, Error& error);
    // What the file `name` holds beyond its pixels, once loaded: whether it
    // has alpha, how many frames it holds. Null when it was not loaded.
    const Image* Facts(const char* name) const;

private:
    struct Entry {
        std::shared_ptr<BITMAP> bitmap;  // null when the image cannot be loaded
        Error error;
        std::shared_ptr<Image> facts;    // the decoded image's fields, without its pixels
    };
    BitmapPtr Share(const Entry& entry, Error& error) const;

    std::map<std::string, Entry> entries;
    int64_t budget;
    int64_t pixels = 0;
};

// The bitmap's pixels at 8 bits a channel, widened as Allegro widens them,
// fully opaque.
Image BitmapToImage(BITMAP* bitmap);

// The formats pictures are written in.
enum class PictureFormat { Unknown, Png, Bmp };
// The format a file name asks for by its extension: ".png" or ".bmp" in
// either case of letters; Unknown for any other.
PictureFormat PictureFormatOf(const std::string& path);

// The bitmap as the bytes of a file of `format`: a BMP as save_bmp writes
// it, a PNG of BitmapToImage's pixels. False when it cannot be encoded.
bool EncodePicture(BITMAP* image, PictureFormat format, std::vector<uint8_t>& bytes);
// Writes the bitmap as the picture file `path` in `format`, whole or not at
// all, never through a link nor over anything but a regular file
// (WriteWholeFile, replacing); on failure `error` names the file and the reason.
bool WritePicture(const std::string& path, BITMAP* image, PictureFormat format, Error& error);

// The images that stand in for a tile or sky image that cannot be loaded: a
// cleared bitmap marked with a red "X X".
BitmapPtr MakeTilePlaceholder();
BitmapPtr MakeSkyPlaceholder();

// Starts Allegro without a display for tools and tests: 16-bit colour, every
// loaded image converted to it. Returns false with the reason in `error`
// when Allegro cannot start.
bool StartAllegroHeadless(Error& error);
