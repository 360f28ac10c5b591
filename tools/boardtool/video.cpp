// boardtool video: a walk drawn without a display, one frame per tick, as
// the viewer draws it, and encoded through FFmpeg's libraries into a video
// the file name's extension chooses. The video is made in memory and written
// whole or not at all.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>  // Required for: isatty()

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "command.h"
#include "core/ticks.h"
#include "files/files.h"
#include "tiled/open_map.h"  // Required for: OpenMap, the viewer's way to open a map
#include "render/frame.h"
#include "render/map_view.h"
#include "walk.h"  // Required for: RunWalkTick, ViewerWalkKeys
#include "walk/walk_file.h"

namespace {

// The largest video made: it is held in memory until it is written.
constexpr int64_t MaxVideoBytes = int64_t(2) << 30;
constexpr int MaxScale = 8;

enum class VideoKind { Unknown, Mp4, Webm, Gif, Mkv };

VideoKind VideoKindOf(const std::string& path)
{
    static const std::pair<const char*, VideoKind> kinds[] = {
        {"mp4", VideoKind::Mp4}, {"webm", VideoKind::Webm}, {"gif", VideoKind::Gif}, {"mkv", VideoKind::Mkv}};
    const std::string extension = LowerExtension(path);
    for (const auto& kind : kinds)
        if (extension == kind.first)
            return kind.second;
    return VideoKind::Unknown;
}

struct VideoArguments {
    std::string map;
    std::string walk;
    std::string out;
    std::string frame;  // the frame picture drawn around the view; empty: the view alone
    bool mapBox = false;
    int scale = 1;
    bool force = false;
    GroundOptions ground;
};

// FFmpeg's objects, each with the call that frees it.
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct GraphFree {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct FormatFree {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};
struct IoFree {
    void operator()(AVIOContext* io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFree>;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatFree>;
using IoPtr = std::unique_ptr<AVIOContext, IoFree>;

std::string AvReason(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

// A picture of `format` and size, its buffers allocated.
FramePtr MakeFrame(int width, int height, AVPixelFormat format)
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        return frame;
    frame->width = width;
    frame->height = height;
    frame->format = format;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        frame.reset();
    return frame;
}

// The muxer's output: bytes in memory, which it may seek back into (an MP4
// writes its index last and goes back to fix sizes).
class MemoryOutput {
public:
    std::vector<uint8_t> Bytes;
    bool TooLarge = false;

    static int Write(void* opaque, uint8_t* data, int size)
    {
        MemoryOutput& out = *static_cast<MemoryOutput*>(opaque);
        if (out.At + size > MaxVideoBytes) {
            out.TooLarge = true;
            return AVERROR(EFBIG);
        }
        if (out.Bytes.size() < static_cast<size_t>(out.At + size))
            out.Bytes.resize(static_cast<size_t>(out.At + size));
        std::memcpy(out.Bytes.data() + out.At, data, static_cast<size_t>(size));
        out.At += size;
        return size;
    }

    static int64_t Seek(void* opaque, int64_t offset, int whence)
    {
        MemoryOutput& out = *static_cast<MemoryOutput*>(opaque);
        const int64_t size = static_cast<int64_t>(out.Bytes.size());
        if (whence & AVSEEK_SIZE)
            return size;
        int64_t to;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: to = offset; break;
        case SEEK_CUR: to = out.At + offset; break;
        case SEEK_END: to = size + offset; break;
        default: return AVERROR(EINVAL);
        }
        if (to < 0 || to > MaxVideoBytes)
            return AVERROR(EINVAL);
        out.At = to;
        return to;
    }

private:
    int64_t At = 0;
};

// The walk drawn frame after frame: frame k shows the pose and animation
// after k ticks, which is what F12 at tick k saves in the viewer. Each pass
// loads the map afresh, so passes draw the same frames.
class WalkPainter {
public:
    WalkPainter(const VideoArguments& args, const Walk& walk, BITMAP* picture) : Args(args), Steps(walk), Picture(picture)
    {
    }

    int Width() const { return (Args.frame.empty() ? ViewWidth : FrameWidth) * Args.scale; }
    int Height() const { return (Args.frame.empty() ? ViewRows : FrameHeight) * Args.scale; }

    // Loads the map into a fresh World (false with the reason in `error`)
    // and sets the pose to the walk's start.
    bool Begin(Error& error)
    {
        Shown = std::make_unique<World>();
        if (!OpenMap(*Shown, Args.map, error))
            return false;
        if (ApplyGroundOptions(Args.ground, Ground) != 0) {
            error = Error{"", "the ground renderer cannot run as asked"};
            return false;
        }
        Frame = MakeOffscreenFrame();
        if (!Frame.View) {
            error = Error{"", "out of memory for the back buffer"};
            return false;
        }
        if (Picture)
            blit(Picture, Frame.Backbuffer.get(), 0, 0, 0, 0, FrameWidth, FrameHeight);
        if (Picture && Args.mapBox) {
            BitmapPtr box(create_sub_bitmap(Frame.Backbuffer.get(), MapBoxLeft, MapBoxTop, MapBoxSide, MapBoxSide));
            if (box)
                DrawMapView(*Shown, box.get(), MapBoxScale);
        }
        Pose = ViewerState{Steps.StartX, Steps.StartY, Steps.StartAngle};
        // The screenshot's widening of 16-bit pixels to 8 bits a channel.
        const int depth = bitmap_color_depth(Frame.Backbuffer.get());
        Widened.resize(3 << 16);
        for (int c = 0; c < 1 << 16; c++) {
            Widened[3 * c] = static_cast<uint8_t>(getr_depth(depth, c));
            Widened[3 * c + 1] = static_cast<uint8_t>(getg_depth(depth, c));
            Widened[3 * c + 2] = static_cast<uint8_t>(getb_depth(depth, c));
        }
        return true;
    }

    // Draws the next frame into `rgb` (RGB24, Width() x Height()), each
    // pixel repeated scale times each way, then runs its tick.
    void Paint(AVFrame* rgb, size_t tick)
    {
        DrawView(*Shown, Ground, Frame.View.get(), Pose.x, Pose.y, ViewHeightIndex, Pose.angle);
        BITMAP* source = Args.frame.empty() ? Frame.View.get() : Frame.Backbuffer.get();
        const int scale = Args.scale;
        for (int y = 0; y < source->h; y++) {
            const uint16_t* in = reinterpret_cast<const uint16_t*>(source->line[y]);
            uint8_t* first = rgb->data[0] + static_cast<ptrdiff_t>(y) * scale * rgb->linesize[0];
            uint8_t* out = first;
            for (int x = 0; x < source->w; x++) {
                const uint8_t* c = &Widened[3 * in[x]];
                for (int k = 0; k < scale; k++, out += 3) {
                    out[0] = c[0];
                    out[1] = c[1];
                    out[2] = c[2];
                }
            }
            for (int k = 1; k < scale; k++)
                std::memcpy(first + k * rgb->linesize[0], first, static_cast<size_t>(source->w) * scale * 3);
        }
        RunWalkTick(Pose, *Shown, Steps.Keys[tick]);
    }

    const World& Map() const { return *Shown; }

private:
    const VideoArguments& Args;
    const Walk& Steps;
    BITMAP* Picture;
    std::unique_ptr<World> Shown;
    GroundRenderer Ground;
    OffscreenFrame Frame;
    ViewerState Pose;
    std::vector<uint8_t> Widened;  // R, G, B of each 16-bit pixel
};

// The progress of a long render, on a terminal only.
class Progress {
public:
    Progress(const std::string& label, size_t total) : Label(label), Total(total), Shown(isatty(STDERR_FILENO)) {}

    void Show(size_t done)
    {
        if (!Shown || Total == 0)
            return;
        const int percent = static_cast<int>(done * 100 / Total);
        if (percent == Last && done != Total)
            return;
        Last = percent;
        constexpr int Width = 30;
        const int filled = static_cast<int>(done * Width / Total);
        std::fprintf(stderr, "\r%s [%s%s] %3d%% %zu/%zu ticks", Label.c_str(), std::string(filled, '#').c_str(),
                     std::string(Width - filled, '-').c_str(), percent, done, Total);
        if (done == Total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    std::string Label;
    size_t Total;
    bool Shown;
    int Last = -1;
};

// Draws every frame of the walk into `rgb` and hands each to `take`; false
// when `take` fails or the map cannot be loaded.
bool PaintWalk(WalkPainter& painter, const Walk& walk, const std::string& label, Error& error,
               const std::function<bool(AVFrame*, int64_t)>& take)
{
    if (!painter.Begin(error))
        return false;
    FramePtr rgb = MakeFrame(painter.Width(), painter.Height(), AV_PIX_FMT_RGB24);
    if (!rgb) {
        error = Error{"", "out of memory for a frame"};
        return false;
    }
    Progress progress(label, walk.Keys.size());
    for (size_t tick = 0; tick < walk.Keys.size(); tick++) {
        if (av_frame_make_writable(rgb.get()) < 0) {
            error = Error{"", "out of memory for a frame"};
            return false;
        }
        painter.Paint(rgb.get(), tick);
        rgb->pts = static_cast<int64_t>(tick);
        if (!take(rgb.get(), static_cast<int64_t>(tick)))
            return false;
        progress.Show(tick + 1);
    }
    return true;
}

// An encoder and the muxer it writes into, in memory.
class Encoder {
public:
    bool Open(VideoKind kind, int width, int height, AVPixelFormat input, Error& error)
    {
        const char* codecName = nullptr;
        const char* formatName = nullptr;
        switch (kind) {
        case VideoKind::Mp4: codecName = "libx264"; formatName = "mp4"; break;
        case VideoKind::Webm: codecName = "libvpx-vp9"; formatName = "webm"; break;
        case VideoKind::Gif: codecName = "gif"; formatName = "gif"; break;
        case VideoKind::Mkv: codecName = "ffv1"; formatName = "matroska"; break;
        case VideoKind::Unknown: return Fail(error, "no video kind");
        }
        const AVCodec* codec = avcodec_find_encoder_by_name(codecName);
        if (!codec)
            return Fail(error, std::string("FFmpeg has no ") + codecName + " encoder here");
        AVFormatContext* format = nullptr;
        if (avformat_alloc_output_context2(&format, nullptr, formatName, nullptr) < 0 || !format)
            return Fail(error, std::string("FFmpeg has no ") + formatName + " muxer here");
        Format.reset(format);

        Codec.reset(avcodec_alloc_context3(codec));
        if (!Codec)
            return Fail(error, "out of memory for the encoder");
        Codec->width = width;
        Codec->height = height;
        Codec->time_base = AVRational{1, TicksPerSecond};
        Codec->framerate = AVRational{TicksPerSecond, 1};
        Codec->sample_aspect_ratio = AVRational{1, 1};
        switch (kind) {
        case VideoKind::Mp4:
            // Plays in every browser, a key frame every two seconds; the
            // preset keeps it well above ten times real time, and the tune
            // keeps it close to the pixels drawn rather than to the eye.
            Codec->pix_fmt = AV_PIX_FMT_YUV420P;
            Codec->gop_size = 2 * TicksPerSecond;
            av_opt_set(Codec->priv_data, "preset", "superfast", 0);
            av_opt_set(Codec->priv_data, "crf", "18", 0);
            av_opt_set(Codec->priv_data, "tune", "psnr", 0);
            break;
        case VideoKind::Webm:
            Codec->pix_fmt = AV_PIX_FMT_YUV420P;
            Codec->gop_size = 2 * TicksPerSecond;
            Codec->bit_rate = 0;  // constant quality
            av_opt_set(Codec->priv_data, "crf", "24", 0);
            av_opt_set(Codec->priv_data, "deadline", "realtime", 0);
            av_opt_set(Codec->priv_data, "cpu-used", "8", 0);
            av_opt_set(Codec->priv_data, "row-mt", "1", 0);
            break;
        case VideoKind::Gif:
            Codec->pix_fmt = AV_PIX_FMT_PAL8;
            break;
        case VideoKind::Mkv:
            // Lossless: the pixels as drawn, 8 bits a channel.
            Codec->pix_fmt = AV_PIX_FMT_BGR0;
            Codec->gop_size = 1;
            av_opt_set(Codec->priv_data, "level", "3", 0);
            break;
        case VideoKind::Unknown: break;
        }
        if (Codec->pix_fmt == AV_PIX_FMT_YUV420P) {
            // Limited range, BT.601: how swscale converts and players assume.
            Codec->color_range = AVCOL_RANGE_MPEG;
            Codec->colorspace = AVCOL_SPC_SMPTE170M;
            Codec->color_primaries = AVCOL_PRI_SMPTE170M;
            Codec->color_trc = AVCOL_TRC_SMPTE170M;
        }
        if (Format->oformat->flags & AVFMT_GLOBALHEADER)
            Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int status = avcodec_open2(Codec.get(), codec, nullptr);
        if (status < 0)
            return Fail(error, std::string("cannot open the ") + codecName + " encoder: " + AvReason(status));

        Stream = avformat_new_stream(Format.get(), nullptr);
        if (!Stream)
            return Fail(error, "out of memory for the stream");
        Stream->time_base = Codec->time_base;
        Stream->avg_frame_rate = Codec->framerate;
        avcodec_parameters_from_context(Stream->codecpar, Codec.get());

        constexpr int IoBufferSize = 1 << 16;
        uint8_t* buffer = static_cast<uint8_t*>(av_malloc(IoBufferSize));
        if (!buffer)
            return Fail(error, "out of memory for the output");
        Io.reset(avio_alloc_context(buffer, IoBufferSize, 1, &Output, nullptr, MemoryOutput::Write, MemoryOutput::Seek));
        if (!Io) {
            av_free(buffer);
            return Fail(error, "out of memory for the output");
        }
        Format->pb = Io.get();
        Format->flags |= AVFMT_FLAG_CUSTOM_IO;
        status = avformat_write_header(Format.get(), nullptr);
        if (status < 0)
            return Fail(error, "cannot start the video: " + AvReason(status));

        Packet.reset(av_packet_alloc());
        if (input != Codec->pix_fmt) {
            // Colour kept at half resolution is the mean of its pixels'
            // (bicubic); a format that keeps every pixel's colour is a
            // plain reordering of bytes.
            const int flags = Codec->pix_fmt == AV_PIX_FMT_YUV420P
                                  ? SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP
                                  : SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT;
            Convert.reset(sws_getContext(width, height, input, width, height, Codec->pix_fmt, flags, nullptr,
                                         nullptr, nullptr));
            Converted = MakeFrame(width, height, Codec->pix_fmt);
            if (!Convert || !Converted)
                return Fail(error, "cannot convert the pixels for the encoder");
        }
        if (!Packet)
            return Fail(error, "out of memory for a packet");
        return true;
    }

    // Encodes one frame of the input format given to Open.
    bool Add(AVFrame* frame, Error& error)
    {
        AVFrame* given = frame;
        if (Convert) {
            if (av_frame_make_writable(Converted.get()) < 0)
                return Fail(error, "out of memory for a frame");
            sws_scale(Convert.get(), frame->data, frame->linesize, 0, frame->height, Converted->data,
                      Converted->linesize);
            Converted->pts = frame->pts;
            given = Converted.get();
        }
        return Send(given, error);
    }

    // Flushes the encoder and ends the file; `bytes` then holds it.
    bool Finish(std::vector<uint8_t>& bytes, Error& error)
    {
        if (!Send(nullptr, error))
            return false;
        const int status = av_write_trailer(Format.get());
        avio_flush(Io.get());
        if (status < 0 || Output.TooLarge)
            return Fail(error, Output.TooLarge ? "the video would be larger than 2 GiB" : "cannot end the video: " + AvReason(status));
        bytes = std::move(Output.Bytes);
        return true;
    }

private:
    bool Send(AVFrame* frame, Error& error)
    {
        int status = avcodec_send_frame(Codec.get(), frame);
        if (status < 0)
            return Fail(error, "cannot encode a frame: " + AvReason(status));
        while ((status = avcodec_receive_packet(Codec.get(), Packet.get())) >= 0) {
            av_packet_rescale_ts(Packet.get(), Codec->time_base, Stream->time_base);
            Packet->stream_index = Stream->index;
            status = av_interleaved_write_frame(Format.get(), Packet.get());
            if (status < 0)
                return Fail(error, Output.TooLarge ? "the video would be larger than 2 GiB"
                                                   : "cannot write a frame: " + AvReason(status));
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            return Fail(error, "cannot encode a frame: " + AvReason(status));
        return true;
    }

    static bool Fail(Error& error, const std::string& reason)
    {
        error = Error{"", reason};
        return false;
    }

    MemoryOutput Output;
    FormatPtr Format;
    IoPtr Io;
    CodecPtr Codec;
    AVStream* Stream = nullptr;
    PacketPtr Packet;
    SwsPtr Convert;
    FramePtr Converted;
};

// A filter graph of one or two buffer sources and a sink around `filters`.
class FilterGraph {
public:
    bool Open(const std::string& filters, int width, int height, bool withPalette, Error& error)
    {
        Graph.reset(avfilter_graph_alloc());
        if (!Graph)
            return Fail(error, "out of memory for a filter graph");
        const std::string frameArgs = "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
                                      ":pix_fmt=" + std::to_string(AV_PIX_FMT_RGB24) + ":time_base=1/" +
                                      std::to_string(TicksPerSecond) + ":pixel_aspect=1/1";
        if (avfilter_graph_create_filter(&Source, avfilter_get_by_name("buffer"), "in", frameArgs.c_str(), nullptr,
                                         Graph.get()) < 0 ||
            avfilter_graph_create_filter(&Sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                         Graph.get()) < 0)
            return Fail(error, "cannot make a filter graph");
        if (withPalette) {
            const std::string paletteArgs = "video_size=16x16:pix_fmt=" + std::to_string(AV_PIX_FMT_RGB32) +
                                            ":time_base=1/" + std::to_string(TicksPerSecond) + ":pixel_aspect=1/1";
            if (avfilter_graph_create_filter(&PaletteSource, avfilter_get_by_name("buffer"), "pal",
                                             paletteArgs.c_str(), nullptr, Graph.get()) < 0)
                return Fail(error, "cannot make a filter graph");
        }
        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* paletteOutput = withPalette ? avfilter_inout_alloc() : nullptr;
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (!outputs || !inputs || (withPalette && !paletteOutput)) {
            avfilter_inout_free(&outputs);
            avfilter_inout_free(&paletteOutput);
            avfilter_inout_free(&inputs);
            return Fail(error, "out of memory for a filter graph");
        }
        outputs->name = av_strdup("in");
        outputs->filter_ctx = Source;
        outputs->pad_idx = 0;
        outputs->next = paletteOutput;
        if (paletteOutput) {
            paletteOutput->name = av_strdup("pal");
            paletteOutput->filter_ctx = PaletteSource;
            paletteOutput->pad_idx = 0;
            paletteOutput->next = nullptr;
        }
        inputs->name = av_strdup("out");
        inputs->filter_ctx = Sink;
        inputs->pad_idx = 0;
        inputs->next = nullptr;
        int status = avfilter_graph_parse_ptr(Graph.get(), filters.c_str(), &inputs, &outputs, nullptr);
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (status < 0 || (status = avfilter_graph_config(Graph.get(), nullptr)) < 0)
            return Fail(error, "cannot set up the filters " + filters + ": " + AvReason(status));
        Out.reset(av_frame_alloc());
        if (!Out)
            return Fail(error, "out of memory for a frame");
        return true;
    }

    bool AddPalette(AVFrame* palette, Error& error)
    {
        if (av_buffersrc_add_frame_flags(PaletteSource, palette, AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
            av_buffersrc_add_frame(PaletteSource, nullptr) < 0)
            return Fail(error, "cannot hand the palette to the filters");
        return true;
    }

    // Hands `frame` (null: the end) to the graph, then every frame it gives
    // back to `take`.
    bool Add(AVFrame* frame, const std::function<bool(AVFrame*)>& take, Error& error)
    {
        if (av_buffersrc_add_frame_flags(Source, frame, frame ? AV_BUFFERSRC_FLAG_KEEP_REF : 0) < 0)
            return Fail(error, "cannot hand a frame to the filters");
        while (true) {
            const int status = av_buffersink_get_frame(Sink, Out.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
                return true;
            if (status < 0)
                return Fail(error, "the filters failed: " + AvReason(status));
            const bool taken = take(Out.get());
            av_frame_unref(Out.get());
            if (!taken)
                return false;
        }
    }

private:
    static bool Fail(Error& error, const std::string& reason)
    {
        error = Error{"", reason};
        return false;
    }

    GraphPtr Graph;
    AVFilterContext* Source = nullptr;
    AVFilterContext* PaletteSource = nullptr;
    AVFilterContext* Sink = nullptr;
    FramePtr Out;
};

// The GIF: a first pass over the walk makes one palette for the whole clip,
// a second maps every frame to it with error diffusion.
bool EncodeGif(WalkPainter& painter, const Walk& walk, const std::string& label, std::vector<uint8_t>& bytes,
               Error& error)
{
    FramePtr palette(av_frame_alloc());
    {
        FilterGraph pass;
        if (!pass.Open("palettegen=stats_mode=full", painter.Width(), painter.Height(), false, error))
            return false;
        const auto keep = [&palette](AVFrame* made) { return av_frame_ref(palette.get(), made) >= 0; };
        if (!PaintWalk(painter, walk, label + " palette", error,
                       [&](AVFrame* frame, int64_t) { return pass.Add(frame, keep, error); }) ||
            !pass.Add(nullptr, keep, error))
            return false;
        if (!palette->data[0])
            return error = Error{"", "no palette was made"}, false;
    }
    FilterGraph pass;
    Encoder encoder;
    if (!pass.Open("[in][pal]paletteuse=dither=sierra2_4a", painter.Width(), painter.Height(), true, error) ||
        !pass.AddPalette(palette.get(), error) ||
        !encoder.Open(VideoKind::Gif, painter.Width(), painter.Height(), AV_PIX_FMT_PAL8, error))
        return false;
    const auto encode = [&](AVFrame* mapped) { return encoder.Add(mapped, error); };
    return PaintWalk(painter, walk, label, error, [&](AVFrame* frame, int64_t) { return pass.Add(frame, encode, error); }) &&
           pass.Add(nullptr, encode, error) && encoder.Finish(bytes, error);
}

int Video(const VideoArguments& args)
{
    // FFmpeg's own chatter stays out of the tool's output; its errors come
    // back as statuses, said in this command's words.
    av_log_set_level(AV_LOG_ERROR);
    const VideoKind kind = VideoKindOf(args.out);
    if (kind == VideoKind::Unknown)
        return Refuse(args.out + ": the name must end in .mp4 (H.264), .webm (VP9), .gif or .mkv (lossless FFV1), "
                                 "which chooses the format");
    if (args.scale < 1 || args.scale > MaxScale)
        return Refuse("--scale " + std::to_string(args.scale) + " is outside 1.." + std::to_string(MaxScale));
    if (args.mapBox && args.frame.empty())
        return Refuse("--map-box draws into the frame picture: give it with --frame");

    Walk walk;
    Error error;
    if (!ReadWalkFile(args.walk.c_str(), walk, error))
        return Refuse(error);
    if (walk.TickRate != TicksPerSecond)
        return Refuse(args.walk + ": made at " + std::to_string(walk.TickRate) + " ticks a second; the viewer runs " +
                      std::to_string(TicksPerSecond));
    if (walk.StartHeight != ViewHeightIndex)
        return Refuse(args.walk + ": starts at height " + std::to_string(walk.StartHeight) +
                      "; the viewer always looks from height " + std::to_string(ViewHeightIndex));
    for (size_t tick = 0; tick < walk.Keys.size(); tick++)
        if (walk.Keys[tick] & ~ViewerWalkKeys)
            return Refuse(args.walk + ": tick " + std::to_string(tick) + " holds keys the viewer does not have");
    if (walk.Keys.empty())
        return Refuse(args.walk + ": the walk has no ticks, so the video would have no frame");
    MapDigest digest;
    if (!DigestFile(args.map.c_str(), digest, error))
        return Refuse(error);
    if (!walk.Unbound() && digest != walk.Digest && !args.force)
        return Refuse(args.walk + ": made on " + (walk.MapName.empty() ? "the default world" : walk.MapName) +
                      " (SHA-256 " + DigestText(walk.Digest) + "), not on " + args.map + " (SHA-256 " +
                      DigestText(digest) + "); --force shows it anyway");

    BitmapPtr picture;
    if (!args.frame.empty()) {
        picture = LoadImage(args.frame.c_str(), error);
        if (!picture)
            return Refuse(error);
    }
    WalkPainter painter(args, walk, picture.get());
    if (!painter.Begin(error))
        return Refuse(error);
    // Nothing this command reads is ever written over.
    std::vector<std::string> read = {HostPath(args.map.c_str()), HostPath(args.walk.c_str()),
                                     HostPath(painter.Map().SkyName)};
    if (!args.frame.empty())
        read.push_back(HostPath(args.frame.c_str()));
    for (int k = 0; k < painter.Map().TileCount; k++)
        read.push_back(HostPath(painter.Map().TileNames[k]));
    for (const std::string& input : read)
        if (SameFile(args.out, input))
            return Refuse(args.out + ": not written: it is " + input + ", which this command reads");

    std::vector<uint8_t> bytes;
    bool made;
    if (kind == VideoKind::Gif) {
        made = EncodeGif(painter, walk, args.out, bytes, error);
    } else {
        Encoder encoder;
        made = encoder.Open(kind, painter.Width(), painter.Height(), AV_PIX_FMT_RGB24, error) &&
               PaintWalk(painter, walk, args.out, error,
                         [&](AVFrame* frame, int64_t) { return encoder.Add(frame, error); }) &&
               encoder.Finish(bytes, error);
    }
    if (!made) {
        if (error.File.empty())
            error.File = args.out;
        error.Reason = "not written: " + error.Reason;
        return Refuse(error);
    }
    if (!WriteWholeFile(args.out, bytes, WriteMode::Replace, error)) {
        error.Reason = "not written: " + error.Reason;
        return Refuse(error);
    }
    return 0;
}

}  // namespace

CommandRun SetupVideo(CLI::App* command)
{
    auto args = std::make_shared<VideoArguments>();
    command->add_option("MAP", args->map, "the map: a board file or a Tiled map")->required();
    command->add_option("WALK", args->walk, "the walk file")->required();
    command->add_option("OUT", args->out,
                        "the video: NAME.mp4 (H.264), NAME.webm (VP9), NAME.gif or NAME.mkv (FFV1, lossless);\n"
                        "only a regular file is replaced, never MAP, WALK or an image they name, never\n"
                        "through a symbolic link")
        ->required();
    command->add_option("--frame", args->frame,
                        "draw the whole 640 x 480 frame, the view inside this frame picture (the viewer's\n"
                        "data/board.bmp, or data/frame.bmp for a map it is given)")
        ->option_text("PICTURE");
    command->add_flag("--map-box", args->mapBox,
                      "draw the map from above into the frame picture's box, as the viewer does for a map\n"
                      "it is given");
    command->add_option("--scale", args->scale, "every pixel N x N pixels, 1..8 (default 1)")->option_text("N");
    command->add_flag("--force", args->force, "show the walk on a map other than the one it was made on");
    AddGroundOptions(command, args->ground);
    return Runs(Video, args);
}
