// WebP through libwebp from memory: a still picture (lossy or lossless) or
// the first frame of an animation, alpha laid on white, its ICC profile (if
// any) applied.
#include "Formats.h"

#include "Colour.h"
#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace crde {

namespace {

// Lossless WebP and lossy WebP's arithmetic coder give at most this many
// pixels a byte (a flat picture); a file claiming more is damaged.
constexpr uint64_t kPixelsPerByte = 1u << 16;

// Bytes handed to the incremental decoder at a time: progress and a
// chance to stop between them.
constexpr size_t kStep = 64 * 1024;

struct DemuxDelete {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct AnimDecoderDelete {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
struct IDecoderDelete {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

bool IsWebp(const uint8_t* data, size_t size)
{
    return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

int16_t Failure(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OK:
        return 1;
    case VP8_STATUS_OUT_OF_MEMORY:
        return IL_ERR_MEMORY;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return IL_ERR_UNSUPPORTED;
    case VP8_STATUS_USER_ABORT:
        return IL_ERR_CANCELLED;
    default:  // a bad bitstream, or one that ends too soon
        return IL_ERR_CORRUPT;
    }
}

using imglib::OnWhite;

// Top-down rows of blue, green, red and alpha into the block, on white.
void Composite(const uint8_t* bgra, size_t stride, const imglib::DibView& view)
{
    for (int32_t y = 0; y < view.Height(); ++y) {
        const uint8_t* in = bgra + stride * static_cast<size_t>(y);
        uint8_t* out = view.Row(y);
        for (int32_t x = 0; x < view.Width(); ++x, in += 4, out += 3) {
            out[0] = OnWhite(in[0], in[3]);
            out[1] = OnWhite(in[1], in[3]);
            out[2] = OnWhite(in[2], in[3]);
        }
    }
}

// The first frame as the animation shows it, on its canvas.
int16_t ReadFirstFrame(const WebPData& webp, const WebPBitstreamFeatures& features, const Progress& progress,
                       imglib::DecodeBudget& budget, HDIB made)
{
    // The canvas, the disposed previous canvas, and the frame's own decode.
    const uint64_t canvas = uint64_t{4} * static_cast<uint64_t>(features.width) *
                            static_cast<uint64_t>(features.height);
    if (!budget.Take(3 * canvas))
        return IL_ERR_TOO_LARGE;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return IL_ERR_UNSUPPORTED;
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&webp, &options));
    if (!decoder)
        return IL_ERR_CORRUPT;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || static_cast<int>(info.canvas_width) != features.width ||
        static_cast<int>(info.canvas_height) != features.height || info.frame_count < 1)
        return IL_ERR_CORRUPT;
    uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || !frame)
        return IL_ERR_CORRUPT;
    if (!progress.Report(90))
        return IL_ERR_CANCELLED;
    const imglib::DibView view(made);
    if (!view.Valid())
        return IL_ERR_MEMORY;
    Composite(frame, size_t{4} * info.canvas_width, view);
    return 1;
}

// A still picture through the incremental decoder: straight into the
// block's rows when opaque, through a BGRA copy when not.
int16_t ReadStill(const uint8_t* data, size_t size, const WebPBitstreamFeatures& features,
                  const Progress& progress, imglib::DecodeBudget& budget, HDIB made)
{
    const uint64_t pixels = static_cast<uint64_t>(features.width) * static_cast<uint64_t>(features.height);
    // Lossless keeps every pixel as 32 bits while it decodes; lossy keeps
    // a few rows, and the alpha plane when there is one.
    uint64_t working = features.format == 2 ? 4 * pixels : (features.has_alpha ? pixels : 0);
    working += 64 * static_cast<uint64_t>(features.width);
    if (features.has_alpha)
        working += 4 * pixels;
    if (!budget.Take(working))
        return IL_ERR_TOO_LARGE;

    const imglib::DibView view(made);
    if (!view.Valid())
        return IL_ERR_MEMORY;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return IL_ERR_UNSUPPORTED;
    config.options.use_threads = 0;
    std::vector<uint8_t> bgra;
    config.output.is_external_memory = 1;
    if (features.has_alpha) {
        bgra.resize(static_cast<size_t>(4 * pixels));
        config.output.colorspace = MODE_BGRA;
        config.output.u.RGBA.rgba = bgra.data();
        config.output.u.RGBA.stride = 4 * features.width;
        config.output.u.RGBA.size = bgra.size();
    } else {
        // The block's rows run bottom-up.
        config.options.flip = 1;
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = view.Pixels();
        config.output.u.RGBA.stride = static_cast<int>(view.Stride());
        config.output.u.RGBA.size = static_cast<size_t>(view.Stride()) * static_cast<size_t>(features.height);
    }
    const std::unique_ptr<WebPIDecoder, IDecoderDelete> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return IL_ERR_MEMORY;
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t given = std::min(size, kStep);; given = std::min(size, given + kStep)) {
        status = WebPIUpdate(decoder.get(), data, given);
        if (status != VP8_STATUS_SUSPENDED)
            break;
        if (given == size)
            return IL_ERR_CORRUPT;  // ends before the picture does
        int rows = 0;
        if (!WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr))
            rows = 0;
        if (!progress.Report(static_cast<int>(90 * static_cast<int64_t>(rows) / features.height)))
            return IL_ERR_CANCELLED;
    }
    if (status != VP8_STATUS_OK)
        return Failure(status);
    if (features.has_alpha)
        Composite(bgra.data(), size_t{4} * static_cast<size_t>(features.width), view);
    return 1;
}

int16_t DecodeWebp(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    if (!progress.Report(0))
        return IL_ERR_CANCELLED;
    if (!IsWebp(data, size))
        return IL_ERR_FORMAT;
    WebPBitstreamFeatures features;
    if (const VP8StatusCode status = WebPGetFeatures(data, size, &features); status != VP8_STATUS_OK)
        return Failure(status);
    const int64_t width = features.width;
    const int64_t height = features.height;
    if (!imglib::DecodedSizeAllowed(width, height))
        return width <= 0 || height <= 0 ? IL_ERR_CORRUPT : IL_ERR_TOO_LARGE;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (!imglib::Fillable(imglib::PictureBytes(width, height, 24), pixels, size, kPixelsPerByte))
        return IL_ERR_CORRUPT;

    // The whole container, for the profile and the frames: a file that ends
    // before its RIFF size says is not whole.
    const WebPData webp{data, size};
    const std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemux(&webp));
    if (!demux)
        return IL_ERR_CORRUPT;
    std::vector<uint8_t> icc;
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }

    imglib::DecodeBudget budget;
    if (!budget.Take(icc.size()))
        return IL_ERR_TOO_LARGE;
    if (const int16_t created = NewPicture(block.Receive(), width, height, 24); created <= 0)
        return created;
    const int16_t result = features.has_animation
                               ? ReadFirstFrame(webp, features, progress, budget, block.Get())
                               : ReadStill(data, size, features, progress, budget, block.Get());
    if (result <= 0)
        return result;

    imglib::ColourDescription description;
    description.icc = icc.data();
    description.iccSize = icc.size();
    imglib::ConvertToSrgb(block.Get(), description);
    return 1;
}

}  // namespace

int16_t InfoWebp(const uint8_t* data, size_t size, ImageInfo& info)
{
    if (!IsWebp(data, size))
        return IL_ERR_FORMAT;
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status != VP8_STATUS_OK)
        return Failure(status);
    if (features.width <= 0 || features.height <= 0)
        return IL_ERR_CORRUPT;
    info.format = "WEBP";
    info.width = features.width;
    info.height = features.height;
    info.bits = features.has_alpha ? 32 : 24;
    info.pages = 1;
    info.orientation = 0;
    info.compression = features.has_animation ? "Animation" : features.format == 2 ? "VP8L" : "VP8";
    return 1;
}

int16_t ReadWebp(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeWebp(data, size, progress, block); });
}

}  // namespace crde
