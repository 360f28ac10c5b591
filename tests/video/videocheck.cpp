// Helper of the program tests of walks: decodes a video made by boardtool
// video and says how many frames it has, or how close one of its frames is
// to a picture (a screenshot the viewer saved).
//   videocheck frames VIDEO
//   videocheck compare VIDEO FRAME PICTURE LEFT TOP [SCALE [ROWS]]   (FRAME -1: the last)
//   videocheck match VIDEO PICTURE   (the frame the picture, at its top left, is closest to)
// A video made with --scale N is compared with each N x N block averaged;
// ROWS compares only the frame's first rows.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "video_decode.h"

static int Usage()
{
    std::fprintf(stderr, "usage: videocheck frames VIDEO | compare VIDEO FRAME PICTURE LEFT TOP [SCALE [ROWS]] | match VIDEO PICTURE\n");
    return 2;
}

static bool ReadPicture(const char* path, RgbPicture& picture)
{
    Image image;
    Error error;
    if (!DecodeImageFile(path, ImageReaders{}, image, error)) {
        std::fprintf(stderr, "videocheck: %s\n", error.Message().c_str());
        return false;
    }
    picture.Width = image.Width;
    picture.Height = image.Height;
    for (size_t k = 0; k < image.Rgba.size(); k += 4)
        picture.Rgb.insert(picture.Rgb.end(), image.Rgba.begin() + k, image.Rgba.begin() + k + 3);
    return true;
}

// Prints the frame of `video` closest to the top left of `path` (a browser's
// screenshot of a page showing it), and how close.
static int Match(const char* video, const char* path)
{
    RgbPicture picture;
    if (!ReadPicture(path, picture))
        return 1;
    std::vector<int> all;
    for (int k = 0; k < 100000; k++)
        all.push_back(k);
    DecodedVideo decoded;
    std::string reason;
    if (!DecodeVideo(video, all, decoded, reason) || decoded.Kept.empty()) {
        std::fprintf(stderr, "videocheck: %s\n", reason.empty() ? "no frames" : reason.c_str());
        return 1;
    }
    const RgbPicture part = Crop(picture, 0, 0, decoded.Width, decoded.Height);
    int best = -1;
    double bestPsnr = -1;
    for (size_t k = 0; k < decoded.Kept.size(); k++) {
        const double psnr = Psnr(part, decoded.Kept[k]);
        if (psnr > bestPsnr) {
            bestPsnr = psnr;
            best = static_cast<int>(k);
        }
    }
    std::printf("frame %d psnr %.2f\n", best, bestPsnr);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    DecodedVideo video;
    std::string reason;
    if (command == "frames" && argc == 3) {
        if (!DecodeVideo(argv[2], {}, video, reason)) {
            std::fprintf(stderr, "videocheck: %s\n", reason.c_str());
            return 1;
        }
        std::printf("frames %d size %dx%d codec %s seconds %.3f\n", video.Frames, video.Width, video.Height,
                    video.Codec.c_str(), video.Seconds);
        return 0;
    }
    if (command == "match" && argc == 4)
        return Match(argv[2], argv[3]);
    if (command != "compare" || argc < 7 || argc > 9)
        return Usage();
    const int wanted = std::atoi(argv[3]);
    if (!DecodeVideo(argv[2], {wanted}, video, reason) || video.Kept.empty()) {
        std::fprintf(stderr, "videocheck: %s\n", reason.empty() ? "no such frame" : reason.c_str());
        return 1;
    }
    RgbPicture picture;
    if (!ReadPicture(argv[4], picture))
        return 1;
    RgbPicture frame = Shrink(video.Kept.front(), argc >= 8 ? std::atoi(argv[7]) : 1);
    if (argc == 9)
        frame = Crop(frame, 0, 0, frame.Width, std::atoi(argv[8]));
    if (frame.Rgb.empty()) {
        std::fprintf(stderr, "videocheck: the frame is not made of whole blocks of that scale, or has fewer rows\n");
        return 1;
    }
    const RgbPicture part = Crop(picture, std::atoi(argv[5]), std::atoi(argv[6]), frame.Width, frame.Height);
    const double psnr = Psnr(part, frame);
    if (psnr < 0) {
        std::fprintf(stderr, "videocheck: the frame (%dx%d) does not fit into %s there\n", frame.Width,
                     frame.Height, argv[4]);
        return 1;
    }
    std::printf("psnr %.2f luma %.2f\n", psnr, LumaPsnr(part, frame));
    return 0;
}
