// Decoding a whole video file with libavformat and libavcodec, each frame
// converted to RGB24 by libswscale.
#include "video_decode.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

bool DecodeVideo(const std::string& path, const std::vector<int>& keep, DecodedVideo& video, std::string& error)
{
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        error = path + ": cannot be opened as a video";
        return false;
    }
    AVCodecContext* codec = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    SwsContext* convert = nullptr;
    bool ok = false;
    int stream = -1;
    const AVCodec* decoder = nullptr;
    if (avformat_find_stream_info(format, nullptr) >= 0)
        stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream < 0 || !decoder) {
        error = path + ": no video stream";
    } else {
        codec = avcodec_alloc_context3(decoder);
        avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
        if (avcodec_open2(codec, decoder, nullptr) < 0) {
            error = path + ": cannot open its decoder";
        } else {
            video = DecodedVideo{};
            video.Codec = decoder->name;
            const AVStream* s = format->streams[stream];
            if (s->duration != AV_NOPTS_VALUE)
                video.Seconds = s->duration * av_q2d(s->time_base);
            RgbPicture last;
            const auto take = [&]() {
                while (avcodec_receive_frame(codec, frame) >= 0) {
                    RgbPicture picture;
                    picture.Width = frame->width;
                    picture.Height = frame->height;
                    picture.Rgb.resize(size_t(frame->width) * frame->height * 3);
                    convert = sws_getCachedContext(convert, frame->width, frame->height,
                                                   AVPixelFormat(frame->format), frame->width, frame->height,
                                                   AV_PIX_FMT_RGB24, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT,
                                                   nullptr, nullptr, nullptr);
                    uint8_t* planes[1] = {picture.Rgb.data()};
                    int strides[1] = {frame->width * 3};
                    sws_scale(convert, frame->data, frame->linesize, 0, frame->height, planes, strides);
                    video.Width = frame->width;
                    video.Height = frame->height;
                    if (std::find(keep.begin(), keep.end(), video.Frames) != keep.end())
                        video.Kept.push_back(picture);
                    last = std::move(picture);
                    video.Frames++;
                    av_frame_unref(frame);
                }
            };
            while (av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0)
                    take();
                av_packet_unref(packet);
            }
            avcodec_send_packet(codec, nullptr);
            take();
            if (std::find(keep.begin(), keep.end(), -1) != keep.end() && video.Frames > 0)
                video.Kept.push_back(last);
            ok = true;
        }
    }
    sws_freeContext(convert);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return ok;
}

RgbPicture Crop(const RgbPicture& picture, int left, int top, int width, int height)
{
    RgbPicture out;
    if (left < 0 || top < 0 || left + width > picture.Width || top + height > picture.Height)
        return out;
    out.Width = width;
    out.Height = height;
    out.Rgb.resize(size_t(width) * height * 3);
    for (int y = 0; y < height; y++)
        std::memcpy(&out.Rgb[size_t(y) * width * 3], &picture.Rgb[(size_t(top + y) * picture.Width + left) * 3],
                    size_t(width) * 3);
    return out;
}

RgbPicture Shrink(const RgbPicture& picture, int scale)
{
    RgbPicture out;
    if (scale < 1 || picture.Width % scale != 0 || picture.Height % scale != 0)
        return out;
    out.Width = picture.Width / scale;
    out.Height = picture.Height / scale;
    out.Rgb.resize(size_t(out.Width) * out.Height * 3);
    const int area = scale * scale;
    for (int y = 0; y < out.Height; y++)
        for (int x = 0; x < out.Width; x++)
            for (int c = 0; c < 3; c++) {
                int sum = 0;
                for (int dy = 0; dy < scale; dy++)
                    for (int dx = 0; dx < scale; dx++)
                        sum += picture.Rgb[(size_t(y * scale + dy) * picture.Width + x * scale + dx) * 3 + c];
                out.Rgb[(size_t(y) * out.Width + x) * 3 + c] = static_cast<uint8_t>((sum + area / 2) / area);
            }
    return out;
}

double Psnr(const RgbPicture& a, const RgbPicture& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Rgb.size() != b.Rgb.size() || a.Rgb.empty())
        return -1;
    double sum = 0;
    for (size_t k = 0; k < a.Rgb.size(); k++) {
        const double d = double(a.Rgb[k]) - double(b.Rgb[k]);
        sum += d * d;
    }
    if (sum == 0)
        return 1000;
    return 10 * std::log10(255.0 * 255.0 / (sum / a.Rgb.size()));
}

double LumaPsnr(const RgbPicture& a, const RgbPicture& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Rgb.size() != b.Rgb.size() || a.Rgb.empty())
        return -1;
    const auto luma = [](const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; };
    double sum = 0;
    for (size_t k = 0; k < a.Rgb.size(); k += 3) {
        const double d = luma(&a.Rgb[k]) - luma(&b.Rgb[k]);
        sum += d * d;
    }
    if (sum == 0)
        return 1000;
    return 10 * std::log10(255.0 * 255.0 / (sum / (a.Rgb.size() / 3)));
}
