// Tile layer data: CSV, base64, and the zlib, gzip and zstd compressions,
// decoded into gids with the size checked before anything is trusted.
#include <openssl/evp.h>  // Required for: EVP_DecodeUpdate(), EVP_EncodeBlock()
#include <zlib.h>
#include <zstd.h>

#include <cctype>
#include <memory>

#include "tiled/tiled_map.h"

bool DecodeBase64(const std::string& text, std::vector<uint8_t>& out, Error& error)
{
    std::unique_ptr<EVP_ENCODE_CTX, void (*)(EVP_ENCODE_CTX*)> context(EVP_ENCODE_CTX_new(), EVP_ENCODE_CTX_free);
    if (!context || text.size() > size_t(INT32_MAX)) {
        error = Error{"", "base64 data too large"};
        return false;
    }
    std::vector<uint8_t> bytes(text.size() / 4 * 3 + 3);
    int length = 0, tail = 0;
    EVP_DecodeInit(context.get());
    if (EVP_DecodeUpdate(context.get(), bytes.data(), &length, reinterpret_cast<const unsigned char*>(text.data()),
                         static_cast<int>(text.size())) < 0 ||
        EVP_DecodeFinal(context.get(), bytes.data() + length, &tail) < 0) {
        error = Error{"", "bad base64 data"};
        return false;
    }
    bytes.resize(size_t(length) + size_t(tail));
    out = std::move(bytes);
    return true;
}

std::string EncodeBase64(const std::vector<uint8_t>& bytes)
{
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                       static_cast<int>(bytes.size()));
    text.resize(size_t(length));
    return text;
}

// One byte more than expected is room to notice data that goes on.
static bool InflateZlib(const std::vector<uint8_t>& in, bool gzip, size_t expected, std::vector<uint8_t>& out,
                        Error& error)
{
    z_stream stream{};
    if (inflateInit2(&stream, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK) {
        error = Error{"", "cannot start zlib"};
        return false;
    }
    std::vector<uint8_t> bytes(expected + 1);
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = bytes.data();
    stream.avail_out = static_cast<uInt>(bytes.size());
    const int status = inflate(&stream, Z_FINISH);
    const size_t produced = stream.total_out;
    inflateEnd(&stream);
    if (produced > expected) {
        error = Error{"", std::string(gzip ? "gzip" : "zlib") + " data inflates to more than the layer's " +
                std::to_string(expected) + " bytes"};
        return false;
    }
    if (status != Z_STREAM_END) {
        error = Error{"", std::string(gzip ? "gzip" : "zlib") + " data is " +
                (status == Z_BUF_ERROR ? "cut short" : "corrupt") + " after " + std::to_string(produced) + " bytes"};
        return false;
    }
    bytes.resize(produced);
    out = std::move(bytes);
    return true;
}

static bool InflateZstd(const std::vector<uint8_t>& in, size_t expected, std::vector<uint8_t>& out,
                        Error& error)
{
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    // Refuse frames whose window would ask for more memory than a layer needs.
    if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, 23))) {
        error = Error{"", "cannot start zstd"};
        return false;
    }
    std::vector<uint8_t> bytes(expected + 1);
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{bytes.data(), bytes.size(), 0};
    size_t status = 1;
    while (status != 0) {
        const size_t before = input.pos + output.pos;
        status = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(status)) {
            error = Error{"", std::string("zstd data is corrupt: ") + ZSTD_getErrorName(status)};
            return false;
        }
        if (output.pos > expected) {
            error = Error{"", "zstd data inflates to more than the layer's " + std::to_string(expected) + " bytes"};
            return false;
        }
        if (status != 0 && input.pos + output.pos == before) {
            error = Error{"", "zstd data is cut short after " + std::to_string(output.pos) + " bytes"};
            return false;
        }
    }
    bytes.resize(output.pos);
    out = std::move(bytes);
    return true;
}

bool Inflate(const std::vector<uint8_t>& in, const std::string& compression, size_t expected,
             std::vector<uint8_t>& out, Error& error)
{
    if (compression == "zlib" || compression == "gzip")
        return InflateZlib(in, compression == "gzip", expected, out, error);
    if (compression == "zstd")
        return InflateZstd(in, expected, out, error);
    error = Error{"", "unknown compression \"" + compression + "\""};
    return false;
}

bool DeflateZlib(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& out, Error& error)
{
    uLongf length = compressBound(bytes.size());
    std::vector<uint8_t> packed(length);
    const int status = compress2(packed.data(), &length, bytes.data(), bytes.size(), Z_BEST_COMPRESSION);
    if (status != Z_OK) {
        error = Error{"", std::string("zlib cannot compress ") + std::to_string(bytes.size()) + " bytes: " +
                (status == Z_MEM_ERROR ? "out of memory" : "error " + std::to_string(status))};
        return false;
    }
    packed.resize(length);
    out = std::move(packed);
    return true;
}

static bool DecodeCsv(const std::string& text, size_t cells, std::vector<uint32_t>& out, Error& error)
{
    std::vector<uint32_t> gids;
    gids.reserve(cells);
    size_t i = 0;
    auto skip = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            i++;
    };
    skip();
    while (i < text.size()) {
        uint64_t value = 0;
        const size_t start = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && value <= UINT32_MAX)
            value = value * 10 + uint64_t(text[i++] - '0');
        if (i == start || value > UINT32_MAX) {
            error = Error{"", "CSV value " + std::to_string(gids.size() + 1) + " is not a tile id"};
            return false;
        }
        if (gids.size() == cells) {
            error = Error{"", "CSV data holds more than the layer's " + std::to_string(cells) + " cells"};
            return false;
        }
        gids.push_back(static_cast<uint32_t>(value));
        skip();
        if (i < text.size() && text[i] == ',') {
            i++;
            skip();
        } else if (i < text.size()) {
            error = Error{"", "CSV data has '" + std::string(1, text[i]) + "' after value " + std::to_string(gids.size())};
            return false;
        }
    }
    if (gids.size() != cells) {
        error = Error{"", "CSV data holds " + std::to_string(gids.size()) + " cells, the layer has " + std::to_string(cells)};
        return false;
    }
    out = std::move(gids);
    return true;
}

bool DecodeLayerData(const std::string& text, const std::string& encoding, const std::string& compression,
                     size_t cells, std::vector<uint32_t>& out, Error& error)
{
    if (encoding == "csv") {
        if (!compression.empty()) {
            error = Error{"", "CSV data cannot be compressed"};
            return false;
        }
        return DecodeCsv(text, cells, out, error);
    }
    if (encoding != "base64") {
        error = Error{"", "unknown layer data encoding \"" + encoding + "\""};
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(text, bytes, error))
        return false;
    if (!compression.empty()) {
        std::vector<uint8_t> inflated;
        if (!Inflate(bytes, compression, cells * 4, inflated, error))
            return false;
        bytes = std::move(inflated);
    }
    if (bytes.size() != cells * 4) {
        error = Error{"", "layer data holds " + std::to_string(bytes.size()) + " bytes, the layer's " + std::to_string(cells) +
                " cells need " + std::to_string(cells * 4)};
        return false;
    }
    std::vector<uint32_t> gids(cells);
    for (size_t k = 0; k < cells; k++) {
        const uint8_t* p = bytes.data() + 4 * k;
        gids[k] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    out = std::move(gids);
    return true;
}
