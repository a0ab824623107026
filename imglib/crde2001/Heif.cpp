// HEIF (HEVC) and AVIF (AV1) through libheif from memory: the primary image,
// upright by the file's own irot and imir (an EXIF orientation inside the
// file is not applied on top: the transformations already say how to show
// it), 8 bits a channel, alpha laid on white, converted to sRGB.
#include "Formats.h"
#include "HeifBrand.h"

#include "Colour.h"
#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace crde {

namespace {

// libheif's decoders, set up once before the first context (several photos
// may be read at once) and taken down when the module is unloaded: the HEVC
// decoder's tables would otherwise outlive the module that owns them.
class Library {
public:
    [[nodiscard]] static bool Ready()
    {
        static Library library;
        return library.m_ready;
    }
    ~Library()
    {
        if (m_ready)
            heif_deinit();
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

private:
    Library() : m_ready(heif_init(nullptr).code == heif_error_Ok) {}
    bool m_ready;
};

// libheif's own default: no side over 32768. Set here so that a libheif
// with a looser default does not loosen ours.
constexpr int kMaxSide = 32768;

// No coded byte of HEVC or AV1 gives more pixels than this, even for a
// picture of one flat colour; a file claiming more is damaged.
constexpr uint64_t kPixelsPerByte = 1u << 16;

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxFree {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};

int16_t Failure(const heif_error& error)
{
    switch (error.code) {
    case heif_error_Ok:
        return 1;
    case heif_error_Unsupported_filetype:
        return IL_ERR_FORMAT;
    case heif_error_Unsupported_feature:
        return IL_ERR_UNSUPPORTED;
    case heif_error_Memory_allocation_error:
        return error.subcode == heif_suberror_Security_limit_exceeded ? IL_ERR_TOO_LARGE : IL_ERR_MEMORY;
    default:  // invalid input, a decoder's complaint about its data
        return IL_ERR_CORRUPT;
    }
}

class HeifFile {
public:
    // The file's primary image: > 0, or why not.
    int16_t Open(const uint8_t* data, size_t size)
    {
        const std::string format = HeifBrand(data, size);
        if (format != "HEIF" && format != "AVIF")
            return IL_ERR_FORMAT;
        m_format = format;
        if (!Library::Ready())
            return IL_ERR_UNSUPPORTED;
        m_context.reset(heif_context_alloc());
        if (!m_context)
            return IL_ERR_MEMORY;
        heif_context_set_maximum_image_size_limit(m_context.get(), kMaxSide);
        // The caller keeps the bytes for as long as the context lives.
        heif_error error = heif_context_read_from_memory_without_copy(m_context.get(), data, size, nullptr);
        if (error.code != heif_error_Ok)
            return Failure(error);
        heif_image_handle* handle = nullptr;
        error = heif_context_get_primary_image_handle(m_context.get(), &handle);
        m_handle.reset(handle);
        if (error.code != heif_error_Ok)
            return Failure(error);
        if (!m_handle)
            return IL_ERR_CORRUPT;
        return 1;
    }

    [[nodiscard]] heif_image_handle* Handle() const { return m_handle.get(); }
    [[nodiscard]] const std::string& Format() const { return m_format; }
    // As shown: after the file's rotation.
    [[nodiscard]] int Width() const { return heif_image_handle_get_width(m_handle.get()); }
    [[nodiscard]] int Height() const { return heif_image_handle_get_height(m_handle.get()); }
    [[nodiscard]] bool Alpha() const { return heif_image_handle_has_alpha_channel(m_handle.get()) != 0; }

private:
    std::string m_format;
    std::unique_ptr<heif_context, ContextFree> m_context;
    std::unique_ptr<heif_image_handle, HandleRelease> m_handle;
};

// What the handle (or, failing that, the decoded image) says of its
// colours; `icc` keeps the profile's bytes the description points at.
imglib::ColourDescription DescribeColours(const heif_image_handle* handle, const heif_image* image,
                                          std::vector<uint8_t>& icc)
{
    imglib::ColourDescription description;
    size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0) {
        icc.resize(iccSize);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
            icc.clear();
    } else if ((iccSize = heif_image_get_raw_color_profile_size(image)) > 0) {
        icc.resize(iccSize);
        if (heif_image_get_raw_color_profile(image, icc.data()).code != heif_error_Ok)
            icc.clear();
    }
    description.icc = icc.data();
    description.iccSize = icc.size();

    heif_color_profile_nclx* raw = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok || !raw) {
        heif_nclx_color_profile_free(raw);
        raw = nullptr;
        if (heif_image_get_nclx_color_profile(image, &raw).code != heif_error_Ok)
            raw = nullptr;
    }
    const std::unique_ptr<heif_color_profile_nclx, NclxFree> nclx(raw);
    if (nclx) {
        description.primaries = nclx->color_primaries;
        description.transfer = nclx->transfer_characteristics;
    }
    return description;
}

// Big-endian fields of a box, never past its end: a read past it fails.
class Fields {
public:
    Fields(const uint8_t* begin, const uint8_t* end) : m_at(begin), m_end(end) {}
    [[nodiscard]] bool Ok() const { return m_ok; }
    [[nodiscard]] const uint8_t* At() const { return m_at; }
    [[nodiscard]] size_t Left() const { return static_cast<size_t>(m_end - m_at); }
    uint64_t Read(size_t bytes)
    {
        if (bytes > Left()) {
            m_ok = false;
            m_at = m_end;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value = value << 8 | m_at[i];
        m_at += bytes;
        return value;
    }
    void Skip(size_t bytes)
    {
        if (bytes > Left()) {
            m_ok = false;
            m_at = m_end;
            return;
        }
        m_at += bytes;
    }

private:
    const uint8_t* m_at;
    const uint8_t* m_end;
    bool m_ok = true;
};

constexpr uint32_t FourCc(const char (&code)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8 | static_cast<uint8_t>(code[3]);
}

struct Box {
    uint32_t type = 0;
    const uint8_t* body = nullptr;
    const uint8_t* end = nullptr;
};

// The next box of `fields`; false at the end or on a box past it.
bool NextBox(Fields& fields, Box& box)
{
    if (fields.Left() < 8)
        return false;
    const uint8_t* start = fields.At();
    uint64_t size = fields.Read(4);
    box.type = static_cast<uint32_t>(fields.Read(4));
    if (size == 1)
        size = fields.Read(8);
    else if (size == 0)
        size = static_cast<uint64_t>(fields.Left() + (fields.At() - start));
    const auto header = static_cast<uint64_t>(fields.At() - start);
    if (!fields.Ok() || size < header || size - header > fields.Left())
        return false;
    box.body = fields.At();
    box.end = start + size;
    fields.Skip(static_cast<size_t>(size - header));
    return true;
}

// The canvas a grid or overlay item declares in its data: libheif allocates
// it before decoding any tile, whatever the picture's stated size.
struct Canvas {
    uint64_t width = 0;
    uint64_t height = 0;
};

bool CanvasOf(uint32_t type, Fields data, Canvas& canvas)
{
    (void)data.Read(1);  // version
    const bool wide = (data.Read(1) & 1) != 0;
    data.Skip(type == FourCc("grid") ? 2 : 8);  // rows and columns, or the fill colour
    canvas.width = data.Read(wide ? 4 : 2);
    canvas.height = data.Read(wide ? 4 : 2);
    return data.Ok();
}

// The largest canvas (in pixels) any grid or overlay item of the file
// declares; false when the file's item tables cannot be read.
bool LargestDerivedCanvas(const uint8_t* data, size_t size, uint64_t& pixels)
{
    pixels = 0;
    Fields file(data, data + size);
    Box meta;
    while (NextBox(file, meta) && meta.type != FourCc("meta")) {
    }
    if (meta.type != FourCc("meta"))
        return false;
    Fields inMeta(meta.body, meta.end);
    inMeta.Skip(4);  // version and flags
    Box iinf, iloc, idat;
    for (Box box; NextBox(inMeta, box);) {
        if (box.type == FourCc("iinf"))
            iinf = box;
        else if (box.type == FourCc("iloc"))
            iloc = box;
        else if (box.type == FourCc("idat"))
            idat = box;
    }
    if (!iinf.body)
        return false;

    std::vector<std::pair<uint32_t, uint32_t>> derived;  // item, type
    Fields items(iinf.body, iinf.end);
    const uint64_t iinfVersion = items.Read(1);
    items.Skip(3);
    items.Skip(iinfVersion == 0 ? 2 : 4);
    for (Box infe; NextBox(items, infe);) {
        if (infe.type != FourCc("infe"))
            continue;
        Fields entry(infe.body, infe.end);
        const uint64_t version = entry.Read(1);
        entry.Skip(3);
        if (version < 2)
            continue;  // no item type: not a picture
        const auto id = static_cast<uint32_t>(entry.Read(version == 2 ? 2 : 4));
        entry.Skip(2);  // protection
        const auto type = static_cast<uint32_t>(entry.Read(4));
        if (!entry.Ok())
            return false;
        if (type == FourCc("grid") || type == FourCc("iovl"))
            derived.emplace_back(id, type);
    }
    if (derived.empty())
        return true;
    if (!iloc.body)
        return false;

    Fields locations(iloc.body, iloc.end);
    const uint64_t version = locations.Read(1);
    locations.Skip(3);
    const uint64_t sizes = locations.Read(1);
    const uint64_t more = locations.Read(1);
    const size_t offsetSize = static_cast<size_t>(sizes >> 4);
    const size_t lengthSize = static_cast<size_t>(sizes & 15);
    const size_t baseSize = static_cast<size_t>(more >> 4);
    const size_t indexSize = version == 1 || version == 2 ? static_cast<size_t>(more & 15) : 0;
    const uint64_t count = locations.Read(version < 2 ? 2 : 4);
    for (uint64_t i = 0; i < count && locations.Ok(); ++i) {
        const auto id = static_cast<uint32_t>(locations.Read(version < 2 ? 2 : 4));
        const uint64_t method = version == 1 || version == 2 ? locations.Read(2) & 15 : 0;
        locations.Skip(2);  // data reference
        const uint64_t base = locations.Read(baseSize);
        const uint64_t extents = locations.Read(2);
        uint64_t firstOffset = 0;
        for (uint64_t e = 0; e < extents && locations.Ok(); ++e) {
            locations.Skip(indexSize);
            const uint64_t offset = locations.Read(offsetSize);
            locations.Skip(lengthSize);
            if (e == 0)
                firstOffset = offset;
        }
        if (!locations.Ok())
            return false;
        const auto item = std::find_if(derived.begin(), derived.end(), [id](const auto& d) { return d.first == id; });
        if (item == derived.end() || extents == 0)
            continue;
        // In the file, or in the idat box; other ways libheif reads neither.
        const uint8_t* begin = method == 0 ? data : method == 1 ? idat.body : nullptr;
        const uint8_t* end = method == 0 ? data + size : method == 1 ? idat.end : nullptr;
        const uint64_t at = base + firstOffset;
        if (!begin || at < base || at > static_cast<uint64_t>(end - begin))
            return false;
        Canvas canvas;
        if (!CanvasOf(item->second, Fields(begin + at, end), canvas))
            return false;
        pixels = std::max(pixels, canvas.width * canvas.height);
    }
    return locations.Ok();
}

using imglib::OnWhite;

// Premultiplied colour already holds value × alpha.
[[nodiscard]] inline uint8_t PremultipliedOnWhite(unsigned value, unsigned alpha)
{
    return static_cast<uint8_t>(std::min(255u, value + 255u - alpha));
}

int16_t DecodeHeif(const uint8_t* data, size_t size, const Progress& progress, OwnedBlock& block)
{
    if (!progress.Report(0))
        return IL_ERR_CANCELLED;
    HeifFile file;
    if (const int16_t opened = file.Open(data, size); opened <= 0)
        return opened;
    const int64_t width = file.Width();
    const int64_t height = file.Height();
    const bool alpha = file.Alpha();
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (!imglib::Fillable(imglib::PictureBytes(width, height, 24), pixels, size, kPixelsPerByte))
        return IL_ERR_CORRUPT;
    // A picture made of tiles or layers is no larger than it says it is.
    uint64_t canvas = 0;
    if (!LargestDerivedCanvas(data, size, canvas) || canvas > pixels)
        return IL_ERR_CORRUPT;

    // libheif takes no allocator, so its working memory is counted as it
    // will be: the decoder's picture and libheif's copy of it (three planes
    // and alpha, two bytes a sample past 8 bits), then the interleaved
    // 8-bit picture made from them.
    imglib::DecodeBudget budget;
    const int luma = heif_image_handle_get_luma_bits_per_pixel(file.Handle());
    const uint64_t sampleBytes = luma > 8 ? 2 : 1;
    const uint64_t channels = alpha ? 4 : 3;
    if (!budget.Take(pixels * (2 * sampleBytes * channels + channels)))
        return IL_ERR_TOO_LARGE;

    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        return IL_ERR_MEMORY;
    options->ignore_transformations = 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error =
        heif_decode_image(file.Handle(), &decoded, heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const std::unique_ptr<heif_image, ImageRelease> image(decoded);
    if (error.code != heif_error_Ok)
        return Failure(error);
    if (!image)
        return IL_ERR_CORRUPT;
    if (!progress.Report(80))
        return IL_ERR_CANCELLED;

    // The coded picture decides when the file's stated size is wrong.
    const int imageWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int imageHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || imageWidth <= 0 || imageHeight <= 0 ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8 ||
        stride < imageWidth * static_cast<int>(channels))
        return IL_ERR_CORRUPT;

    if (const int16_t created = NewPicture(block.Receive(), imageWidth, imageHeight, 24); created <= 0)
        return created;
    {
        const imglib::DibView view(block.Get());
        if (!view.Valid())
            return IL_ERR_MEMORY;
        const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(image.get()) != 0;
        for (int y = 0; y < imageHeight; ++y) {
            const uint8_t* in = plane + static_cast<ptrdiff_t>(stride) * y;
            uint8_t* out = view.Row(y);
            for (int x = 0; x < imageWidth; ++x, in += channels, out += 3) {
                if (!alpha) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                } else if (premultiplied) {
                    out[0] = PremultipliedOnWhite(in[2], in[3]);
                    out[1] = PremultipliedOnWhite(in[1], in[3]);
                    out[2] = PremultipliedOnWhite(in[0], in[3]);
                } else {
                    out[0] = OnWhite(in[2], in[3]);
                    out[1] = OnWhite(in[1], in[3]);
                    out[2] = OnWhite(in[0], in[3]);
                }
            }
        }
    }
    // Laid on white in the file's colours, as a viewer in that space would
    // show it; then into sRGB.
    std::vector<uint8_t> icc;
    imglib::ConvertToSrgb(block.Get(), DescribeColours(file.Handle(), image.get(), icc));
    return 1;
}

}  // namespace

int16_t InfoHeif(const uint8_t* data, size_t size, ImageInfo& info)
{
    HeifFile file;
    if (const int16_t opened = file.Open(data, size); opened <= 0)
        return opened;
    if (file.Width() <= 0 || file.Height() <= 0)
        return IL_ERR_CORRUPT;
    info.format = file.Format();
    info.width = file.Width();
    info.height = file.Height();
    info.bits = file.Alpha() ? 32 : 24;
    info.pages = 1;
    info.orientation = 0;
    info.compression = file.Format() == "AVIF" ? "AV1" : "HEVC";
    return 1;
}

int16_t ReadHeif(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) { return DecodeHeif(data, size, progress, block); });
}

}  // namespace crde
