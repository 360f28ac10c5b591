// GIF through giflib, JPEG through libjpeg-turbo, both reading from memory,
// both told the picture's size before decoding it, and neither trusted
// with an index or a scan count that the file alone decides.
#include "image/gif_jpeg.h"

#include <gif_lib.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>  // Required for: JWRN_JPEG_EOF

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

// ---------------------------------------------------------------------------
// GIF

namespace {

struct GifSource {
    const uint8_t* data;
    size_t size;
    size_t at;
};

int ReadGifBytes(GifFileType* gif, GifByteType* into, int wanted)
{
    GifSource* source = static_cast<GifSource*>(gif->UserData);
    const size_t count = std::min(size_t(wanted < 0 ? 0 : wanted), source->size - source->at);
    std::memcpy(into, source->data + source->at, count);
    source->at += count;
    return int(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored;
        DGifCloseFile(gif, &ignored);
    }
};

std::string GifFailure(int code)
{
    if (code == D_GIF_ERR_READ_FAILED || code == D_GIF_ERR_EOF_TOO_SOON)
        return "cut short: the GIF ends inside a picture";
    const char* text = GifErrorString(code);
    return std::string("cannot decode the GIF: ") + (text ? text : "unknown fault");
}

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, const SizeCheck& check, Image& out, std::string& why)
{
    GifSource source{data, size, 0};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadGifBytes, &code));
    if (!gif) {
        why = GifFailure(code);
        return false;
    }
    if (!check(gif->SWidth, gif->SHeight, why))
        return false;
    const int width = gif->SWidth, height = gif->SHeight;
    Image image;
    image.Width = width;
    image.Height = height;
    int transparent = NO_TRANSPARENT_COLOR;
    int frames = 0;
    while (true) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) {
            if (frames > 0)
                break;  // the first picture is whole; what follows is not needed
            why = GifFailure(gif->Error);
            return false;
        }
        if (record == TERMINATE_RECORD_TYPE)
            break;
        if (record == EXTENSION_RECORD_TYPE) {
            int kind = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &kind, &block) == GIF_ERROR) {
                if (frames > 0)
                    break;
                why = GifFailure(gif->Error);
                return false;
            }
            if (kind == GRAPHICS_EXT_FUNC_CODE && frames == 0 && block) {
                GraphicsControlBlock control;
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    why = GifFailure(gif->Error);
                    return false;
                }
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            if (frames > 0)
                break;
            why = GifFailure(gif->Error);
            return false;
        }
        const GifImageDesc& desc = gif->Image;
        if (frames++ > 0) {
            // A later picture: skipped without decoding, only counted.
            int codeSize = 0;
            GifByteType* block = nullptr;
            if (DGifGetCode(gif.get(), &codeSize, &block) == GIF_ERROR)
                break;
            while (block)
                if (DGifGetCodeNext(gif.get(), &block) == GIF_ERROR)
                    break;
            if (frames >= MaxGifFramesCounted)
                break;
            continue;
        }
        if (desc.Width < 1 || desc.Height < 1 || desc.Left < 0 || desc.Top < 0 ||
            int64_t(desc.Left) + desc.Width > width || int64_t(desc.Top) + desc.Height > height) {
            why = "a GIF whose first picture, " + std::to_string(desc.Width) + " x " + std::to_string(desc.Height) +
                  " at (" + std::to_string(desc.Left) + ", " + std::to_string(desc.Top) + "), lies outside its " +
                  std::to_string(width) + " x " + std::to_string(height) + " screen";
            return false;
        }
        const ColorMapObject* colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!colours || colours->ColorCount < 1) {
            why = "a GIF without a colour table for its first picture";
            return false;
        }
        // Where the picture does not cover the screen, nothing is drawn.
        image.Rgba.assign(size_t(width) * size_t(height) * 4, 0);
        std::vector<GifPixelType> line(size_t(desc.Width));
        // Interlaced rows come every 8th from 0, every 8th from 4, every
        // 4th from 2, then every 2nd from 1.
        std::vector<int> rows;
        if (desc.Interlace) {
            const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; pass++)
                for (int y = starts[pass]; y < desc.Height; y += steps[pass])
                    rows.push_back(y);
        } else {
            for (int y = 0; y < desc.Height; y++)
                rows.push_back(y);
        }
        for (const int y : rows) {
            if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) {
                why = GifFailure(gif->Error);
                return false;
            }
            uint8_t* p = image.Rgba.data() + (size_t(desc.Top + y) * size_t(width) + size_t(desc.Left)) * 4;
            for (int x = 0; x < desc.Width; x++, p += 4) {
                const int index = line[size_t(x)];
                if (index >= colours->ColorCount) {
                    why = "a pixel of colour index " + std::to_string(index) + " past the " +
                          std::to_string(colours->ColorCount) + " colours of its colour table";
                    return false;
                }
                const GifColorType& c = colours->Colors[index];
                p[0] = c.Red;
                p[1] = c.Green;
                p[2] = c.Blue;
                p[3] = index == transparent ? 0 : 255;
            }
        }
    }
    if (frames == 0) {
        why = "a GIF without a picture";
        return false;
    }
    image.Frames = frames;
    out = std::move(image);
    return true;
}

// ---------------------------------------------------------------------------
// JPEG

namespace {

// libjpeg reports a fault by calling error_exit, which must not return: it
// jumps back to the decode with the message kept here.
struct JpegFailure {
    jpeg_error_mgr manager;
    jpeg_progress_mgr progress;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
    bool cutShort;
    bool tooManyScans;
};

void JpegExit(j_common_ptr info)
{
    JpegFailure* failure = reinterpret_cast<JpegFailure*>(info->err);
    (*info->err->format_message)(info, failure->message);
    std::longjmp(failure->back, 1);
}

// Warnings are not printed; the one that says the data ended early makes
// the decode fail.
void JpegWarning(j_common_ptr info, int level)
{
    JpegFailure* failure = reinterpret_cast<JpegFailure*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
        failure->cutShort = true;
}

// Called as the decoder goes: stops a progressive file past MaxJpegScans.
void JpegProgress(j_common_ptr info)
{
    if (!info->is_decompressor)
        return;
    j_decompress_ptr decoder = reinterpret_cast<j_decompress_ptr>(info);
    JpegFailure* failure = reinterpret_cast<JpegFailure*>(info->err);
    if (decoder->progressive_mode && decoder->input_scan_number > MaxJpegScans) {
        failure->tooManyScans = true;
        std::longjmp(failure->back, 1);
    }
}

// The part of the decode that libjpeg may jump out of: nothing that a jump
// would leak lives in it (the image and the row buffer are the caller's).
bool RunJpeg(jpeg_decompress_struct& info, JpegFailure& failure, const SizeCheck& check, Image& image,
             std::vector<uint8_t>& row, std::string& why)
{
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        why = "a CMYK JPEG, which is not read; save it as RGB";
        return false;
    }
    if (!check(info.image_width, info.image_height, why))
        return false;
    info.out_color_space = JCS_RGB;
    // A progressive file's coefficients are held whole; they fit within
    // the pixel budget, and no more is granted.
    info.mem->max_memory_to_use = long(MaxImagePixels) * 8;
    jpeg_start_decompress(&info);
    image.Width = int(info.output_width);
    image.Height = int(info.output_height);
    image.Rgba.resize(size_t(image.Width) * size_t(image.Height) * 4);
    row.resize(size_t(image.Width) * 3);
    while (info.output_scanline < info.output_height) {
        uint8_t* p = image.Rgba.data() + size_t(info.output_scanline) * size_t(image.Width) * 4;
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&info, rows, 1) != 1)
            break;
        for (int x = 0; x < image.Width; x++, p += 4) {
            p[0] = row[size_t(x) * 3];
            p[1] = row[size_t(x) * 3 + 1];
            p[2] = row[size_t(x) * 3 + 2];
            p[3] = 255;
        }
        if (failure.cutShort)
            break;
    }
    if (failure.cutShort || info.output_scanline < info.output_height) {
        why = "cut short: the JPEG data ends before its last row";
        return false;
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, const SizeCheck& check, Image& out, std::string& why)
{
    jpeg_decompress_struct info;
    JpegFailure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = JpegExit;
    failure.manager.emit_message = JpegWarning;
    failure.progress.progress_monitor = JpegProgress;
    Image image;
    std::vector<uint8_t> row;
    bool decoded = false;
    jpeg_create_decompress(&info);
    info.progress = &failure.progress;
    if (setjmp(failure.back) == 0) {
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
        try {
            decoded = RunJpeg(info, failure, check, image, row, why);
        } catch (const std::bad_alloc&) {
            why = "cannot decode: no memory for the JPEG's pixels";
        }
    } else if (failure.tooManyScans) {
        why = "a progressive JPEG of more than " + std::to_string(MaxJpegScans) + " scans";
    } else {
        why = std::string("cannot decode the JPEG: ") + failure.message;
    }
    jpeg_destroy_decompress(&info);
    if (!decoded)
        return false;
    out = std::move(image);
    return true;
}
