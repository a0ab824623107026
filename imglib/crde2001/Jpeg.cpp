// JPEG through libjpeg-turbo: header figures with the EXIF orientation, a
// decoder that writes rows straight into an upright block, and a writer that
// keeps nothing but what decoding needs.
//
// libjpeg reports fatal errors by calling error_exit, which must not return:
// ours longjmps back to Attempt(). Everything between Attempt's setjmp and a
// possible longjmp (the Decode*/Encode bodies and libjpeg's callbacks) is
// plain C-like code with no object that has a destructor; buffers that need
// freeing live in the Decoder/Encoder records of the caller's frame.
#include "Formats.h"

#include "Colour.h"
#include "DecodeBudget.h"
#include "Dib.h"
#include "OwnedBlock.h"
#include "globalmem.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

// jpeglib.h first: it sets the features jerror.h lists messages for.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace crde {

namespace {

// A hostile progressive file can repeat cheap scans over a huge coefficient
// buffer for minutes; real encoders write about ten.
constexpr int kMaxScans = 100;
// libjpeg's own virtual arrays. There is no backing store, so a file that
// needs more fails instead of swapping. Everything libjpeg allocates is also
// counted against the decode's budget (Decoder::budget).
constexpr long kMaxDecoderMemory = static_cast<long>(imglib::kDecodeBudget);
// Rows decoded per batch when the rows must be converted or turned.
constexpr int kBatchRows = 16;

struct ErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg hands us &pub as cinfo->err
    std::jmp_buf jump;
    int16_t failure;
};

[[nodiscard]] int16_t FailureFor(int code)
{
    switch (code) {
    case JERR_OUT_OF_MEMORY:
        return IL_ERR_MEMORY;
    case JERR_NO_BACKING_STORE:  // our memory cap was reached
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return IL_ERR_TOO_LARGE;
    case JERR_NO_SOI:
    case JERR_INPUT_EMPTY:
        return IL_ERR_FORMAT;
    case JERR_BAD_PRECISION:  // 12-bit samples
    case JERR_CONVERSION_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_ARITH_NOTIMPL:
    case JERR_SOF_UNSUPPORTED:
        return IL_ERR_UNSUPPORTED;
    default:
        return IL_ERR_CORRUPT;
    }
}

[[noreturn]] void Fail(j_common_ptr cinfo, int16_t failure)
{
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (errors->failure == 0)
        errors->failure = failure;
    std::longjmp(errors->jump, 1);
}

void OnErrorExit(j_common_ptr cinfo)
{
    Fail(cinfo, FailureFor(cinfo->err->msg_code));
}

// Warnings about damaged entropy data mean grey or smeared blocks in the
// picture: a damaged file is refused rather than shown half grey.
void OnMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // trace output
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
        Fail(cinfo, IL_ERR_CORRUPT);
    default:
        ++cinfo->err->num_warnings;
    }
}

void OnOutputMessage(j_common_ptr) {}

void InstallErrors(ErrorManager& errors)
{
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnErrorExit;
    errors.pub.emit_message = OnMessage;
    errors.pub.output_message = OnOutputMessage;
    errors.failure = 0;
}

// Runs body with libjpeg's fatal errors landing here. Body must not hold
// objects with destructors: a longjmp skips them.
template <class Body>
int16_t Attempt(ErrorManager& errors, Body&& body)
{
    if (setjmp(errors.jump) != 0)
        return errors.failure != 0 ? errors.failure : static_cast<int16_t>(IL_ERR_CORRUPT);
    return body();
}

// ---- EXIF orientation --------------------------------------------------

struct TiffReader {
    const uint8_t* data;
    size_t size;
    bool little;

    [[nodiscard]] uint16_t U16(uint64_t at) const
    {
        const uint8_t* p = data + at;
        return little ? static_cast<uint16_t>(p[0] | p[1] << 8) : static_cast<uint16_t>(p[0] << 8 | p[1]);
    }
    [[nodiscard]] uint32_t U32(uint64_t at) const
    {
        const uint8_t* p = data + at;
        return little ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                      : (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]});
    }
};

// The orientation tag of IFD0 in an APP1 block, 0 when absent or unreadable.
[[nodiscard]] int16_t ExifOrientation(const uint8_t* block, size_t size)
{
    static constexpr uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (size < sizeof kExif + 8 || std::memcmp(block, kExif, sizeof kExif) != 0)
        return 0;
    TiffReader tiff{block + sizeof kExif, size - sizeof kExif, false};
    if (tiff.data[0] == 'I' && tiff.data[1] == 'I')
        tiff.little = true;
    else if (!(tiff.data[0] == 'M' && tiff.data[1] == 'M'))
        return 0;
    if (tiff.U16(2) != 42)
        return 0;
    const uint64_t ifd = tiff.U32(4);
    if (ifd + 2 > tiff.size)
        return 0;
    const unsigned count = tiff.U16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t entry = ifd + 2 + 12ull * i;
        if (entry + 12 > tiff.size)
            return 0;
        if (tiff.U16(entry) != 0x0112)
            continue;
        const uint16_t type = tiff.U16(entry + 2);
        if (tiff.U32(entry + 4) != 1)
            return 0;
        // SHORT as it should be; LONG from careless writers. Either sits
        // left-justified in the value field.
        const uint32_t value = type == 3 ? tiff.U16(entry + 8) : type == 4 ? tiff.U32(entry + 8) : 0;
        return value >= 1 && value <= 8 ? static_cast<int16_t>(value) : 0;
    }
    return 0;
}

[[nodiscard]] int16_t OrientationOf(j_decompress_ptr cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0", 6) == 0)
            return ExifOrientation(m->data, m->data_length);
    }
    return 0;
}

// ---- coefficient buffers ------------------------------------------------
//
// A progressive file keeps every coefficient of the picture until its last
// scan: 100 MB and more for a phone photo. libjpeg's memory manager mallocs
// that and zeroes it byte by byte, which faults it in 4 KiB at a time; that
// costs as much as the decoding itself. These arrays are zeroed pages mapped
// in one go instead (huge pages where offered). libjpeg reaches its virtual
// arrays only through the memory manager's function table, so ours stand in
// for its own; anything else still goes to libjpeg's.

// No decompressor asks for more than one array per component.
constexpr int kMaxCoefficientArrays = MAX_COMPONENTS;

struct CoefficientArray {
    JDIMENSION blocksPerRow;
    JDIMENSION rowCount;
    JBLOCKARRAY rows;  // into the mapping, once realized
};

struct CoefficientArrays {
    CoefficientArray arrays[kMaxCoefficientArrays];
    int count;
    void* pages;
    size_t length;
    uint64_t counted;  // of the budget, given back on release
    jpeg_memory_mgr original;  // libjpeg's table, for everything not ours

    [[nodiscard]] CoefficientArray* Ours(jvirt_barray_ptr pointer)
    {
        for (int i = 0; i < count; ++i) {
            if (pointer == reinterpret_cast<jvirt_barray_ptr>(&arrays[i]))
                return &arrays[i];
        }
        return nullptr;
    }
    void Release()
    {
        globalmem_unmap(pages, length);
        pages = nullptr;
        length = 0;
        count = 0;
    }
};

// ---- decoding ------------------------------------------------------------

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr monitor;
    const Progress* progress;
    int lastPercent;
    HDIB dib;
    uint8_t* locked;  // the block's data while locked
    // The decoded picture may be reduced by the DCT while it keeps at least
    // this size (upright); 0 × 0 decodes at full size.
    int32_t atLeastWidth;
    int32_t atLeastHeight;
    // Header figures for InfoJpeg.
    int16_t orientation;
    int16_t bits;
    bool progressive;
    bool cmyk;
    // The embedded ICC profile (malloc'd by libjpeg), and for CMYK the
    // transform the rows go through (new'd): both freed by the caller.
    JOCTET* icc;
    unsigned iccLength;
    imglib::ColourTransform* cmykColour;
    // Colour rows converted while the decoding goes on (new'd, deleted by
    // the caller before the block is unlocked).
    imglib::ColourPipeline* colour;
    // Rows handed out as they are decoded are converted in place (new'd).
    imglib::ColourTransform* rowColour;
    CoefficientArrays coefficients;
    // libjpeg's allocations and our coefficient arrays; bytes counted per pool.
    imglib::DecodeBudget budget{imglib::kDecodeBudget};
    uint64_t pooled[JPOOL_NUMPOOLS];
};

[[nodiscard]] Decoder* DecoderOf(j_common_ptr cinfo)
{
    return static_cast<Decoder*>(cinfo->client_data);
}

// Called by libjpeg once per row group while it reads scans and while it
// hands out rows: the scan limit and the caller's progress.
void OnProgress(j_common_ptr common)
{
    Decoder* d = DecoderOf(common);
    if (d->cinfo.input_scan_number > kMaxScans)
        Fail(common, IL_ERR_CORRUPT);
    const jpeg_progress_mgr& m = d->monitor;
    if (m.total_passes <= 0 || m.pass_limit <= 0 || d->progress == nullptr)
        return;
    const double done = (m.completed_passes + static_cast<double>(m.pass_counter) / static_cast<double>(m.pass_limit)) /
                        m.total_passes;
    const int percent = std::clamp(static_cast<int>(done * 100.0), 0, 99);
    if (percent <= d->lastPercent)
        return;
    d->lastPercent = percent;
    if (!d->progress->Report(percent))
        Fail(common, IL_ERR_CANCELLED);
}

CoefficientArrays& CoefficientsOf(j_common_ptr cinfo)
{
    return DecoderOf(cinfo)->coefficients;
}

jvirt_barray_ptr RequestCoefficients(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION blocksPerRow,
                                     JDIMENSION rowCount, JDIMENSION maxAccess)
{
    CoefficientArrays& c = CoefficientsOf(cinfo);
    if (pool != JPOOL_IMAGE || c.count == kMaxCoefficientArrays || c.pages != nullptr)
        return c.original.request_virt_barray(cinfo, pool, preZero, blocksPerRow, rowCount, maxAccess);
    c.arrays[c.count] = {blocksPerRow, rowCount, nullptr};
    return reinterpret_cast<jvirt_barray_ptr>(&c.arrays[c.count++]);
}

// Our arrays (zeroed, as libjpeg's pre-zeroed ones) after libjpeg's own.
void RealizeCoefficients(j_common_ptr cinfo)
{
    CoefficientArrays& c = CoefficientsOf(cinfo);
    c.original.realize_virt_arrays(cinfo);
    if (c.count == 0 || c.pages != nullptr)
        return;
    uint64_t blocks = 0, rows = 0;
    for (int i = 0; i < c.count; ++i) {
        blocks += static_cast<uint64_t>(c.arrays[i].blocksPerRow) * c.arrays[i].rowCount;
        rows += c.arrays[i].rowCount;
    }
    const uint64_t bytes = blocks * sizeof(JBLOCK) + rows * sizeof(JBLOCKROW);
    if (!DecoderOf(cinfo)->budget.Take(bytes))
        Fail(cinfo, IL_ERR_TOO_LARGE);
    c.pages = globalmem_map(static_cast<size_t>(bytes), &c.length);
    if (c.pages == nullptr) {
        DecoderOf(cinfo)->budget.Give(bytes);
        Fail(cinfo, IL_ERR_MEMORY);
    }
    c.counted = bytes;
    auto* next = static_cast<JBLOCKROW>(c.pages);
    auto* pointers = reinterpret_cast<JBLOCKROW*>(next + blocks);
    for (int i = 0; i < c.count; ++i) {
        CoefficientArray& array = c.arrays[i];
        array.rows = pointers;
        for (JDIMENSION r = 0; r < array.rowCount; ++r, next += array.blocksPerRow)
            *pointers++ = next;
    }
}

JBLOCKARRAY AccessCoefficients(j_common_ptr cinfo, jvirt_barray_ptr pointer, JDIMENSION startRow,
                               JDIMENSION rowCount, boolean writable)
{
    CoefficientArrays& c = CoefficientsOf(cinfo);
    CoefficientArray* array = c.Ours(pointer);
    if (array == nullptr)
        return c.original.access_virt_barray(cinfo, pointer, startRow, rowCount, writable);
    if (array->rows == nullptr || startRow > array->rowCount || rowCount > array->rowCount - startRow)
        Fail(cinfo, IL_ERR_CORRUPT);
    return array->rows + startRow;
}

// libjpeg's allocations, counted per pool until the pool is freed.
void Count(j_common_ptr cinfo, int pool, uint64_t bytes)
{
    Decoder* d = DecoderOf(cinfo);
    if (pool < 0 || pool >= JPOOL_NUMPOOLS || !d->budget.Take(bytes))
        Fail(cinfo, IL_ERR_TOO_LARGE);
    d->pooled[pool] += bytes;
}

void* AllocateSmall(j_common_ptr cinfo, int pool, size_t bytes)
{
    Count(cinfo, pool, bytes);
    return CoefficientsOf(cinfo).original.alloc_small(cinfo, pool, bytes);
}

void* AllocateLarge(j_common_ptr cinfo, int pool, size_t bytes)
{
    Count(cinfo, pool, bytes);
    return CoefficientsOf(cinfo).original.alloc_large(cinfo, pool, bytes);
}

JSAMPARRAY AllocateSamples(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows)
{
    Count(cinfo, pool, uint64_t{rows} * (uint64_t{perRow} * sizeof(JSAMPLE) + sizeof(JSAMPROW)));
    return CoefficientsOf(cinfo).original.alloc_sarray(cinfo, pool, perRow, rows);
}

JBLOCKARRAY AllocateBlocks(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows)
{
    Count(cinfo, pool, uint64_t{rows} * (uint64_t{perRow} * sizeof(JBLOCK) + sizeof(JBLOCKROW)));
    return CoefficientsOf(cinfo).original.alloc_barray(cinfo, pool, perRow, rows);
}

void ReleaseCoefficients(j_common_ptr cinfo)
{
    CoefficientArrays& c = CoefficientsOf(cinfo);
    DecoderOf(cinfo)->budget.Give(c.counted);
    c.counted = 0;
    c.Release();
}

void FreeCoefficientPool(j_common_ptr cinfo, int pool)
{
    if (pool == JPOOL_IMAGE)
        ReleaseCoefficients(cinfo);
    Decoder* d = DecoderOf(cinfo);
    if (pool >= 0 && pool < JPOOL_NUMPOOLS) {
        d->budget.Give(d->pooled[pool]);
        d->pooled[pool] = 0;
    }
    CoefficientsOf(cinfo).original.free_pool(cinfo, pool);
}

void DestroyMemory(j_common_ptr cinfo)
{
    ReleaseCoefficients(cinfo);
    CoefficientsOf(cinfo).original.self_destruct(cinfo);
}

void StartDecoder(Decoder& d, const uint8_t* data, size_t size)
{
    jpeg_create_decompress(&d.cinfo);
    d.cinfo.client_data = &d;
    d.cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_memory_mgr& memory = *d.cinfo.mem;
    d.coefficients.original = memory;
    memory.alloc_small = AllocateSmall;
    memory.alloc_large = AllocateLarge;
    memory.alloc_sarray = AllocateSamples;
    memory.alloc_barray = AllocateBlocks;
    memory.request_virt_barray = RequestCoefficients;
    memory.realize_virt_arrays = RealizeCoefficients;
    memory.access_virt_barray = AccessCoefficients;
    memory.free_pool = FreeCoefficientPool;
    memory.self_destruct = DestroyMemory;
    d.monitor.progress_monitor = OnProgress;
    d.cinfo.progress = &d.monitor;
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile segments
    jpeg_read_header(&d.cinfo, TRUE);
    d.orientation = OrientationOf(&d.cinfo);
    d.bits = d.cinfo.num_components == 1 ? 8 : 24;
    d.progressive = d.cinfo.progressive_mode != 0;
}

// Where stored pixel (sx, sy) goes in the block: origin + sx * column +
// sy * row, in bytes from the start of the pixels.
struct Placement {
    int64_t origin;
    int64_t column;
    int64_t row;
};

[[nodiscard]] Placement PlacementFor(int orientation, int64_t width, int64_t height, int64_t bpp, int64_t stride,
                                     int64_t blockHeight)
{
    // Top-down row dy of the bottom-up block starts at top - dy * stride.
    const int64_t top = (blockHeight - 1) * stride;
    const int64_t w1 = width - 1;
    const int64_t h1 = height - 1;
    switch (orientation) {
    case 2:  // mirrored: dx = W-1-sx, dy = sy
        return {top + w1 * bpp, -bpp, -stride};
    case 3:  // turned half round
        return {top + w1 * bpp - h1 * stride, -bpp, stride};
    case 4:  // flipped: dy = H-1-sy
        return {top - h1 * stride, bpp, stride};
    case 5:  // transposed: dx = sy, dy = sx
        return {top, -stride, bpp};
    case 6:  // turned right: dx = H-1-sy, dy = sx
        return {top + h1 * bpp, -stride, -bpp};
    case 7:  // transversed: dx = H-1-sy, dy = W-1-sx
        return {top + h1 * bpp - w1 * stride, stride, -bpp};
    case 8:  // turned left: dx = sy, dy = W-1-sx
        return {top - w1 * stride, stride, bpp};
    default:
        return {top, bpp, -stride};
    }
}

// CMYK (or YCCK turned CMYK by libjpeg) to blue, green, red in place. Adobe
// writers store the inks inverted; files without their marker are not.
void CmykToBgr(uint8_t* row, JDIMENSION width, bool inverted)
{
    const unsigned flip = inverted ? 0 : 255;
    for (JDIMENSION x = 0; x < width; ++x) {
        const unsigned c = row[4 * x] ^ flip;
        const unsigned m = row[4 * x + 1] ^ flip;
        const unsigned y = row[4 * x + 2] ^ flip;
        const unsigned k = row[4 * x + 3] ^ flip;
        // (a * b) / 255, rounded, without a division.
        const unsigned r = c * k + 128;
        const unsigned g = m * k + 128;
        const unsigned b = y * k + 128;
        row[3 * x] = static_cast<uint8_t>((b + (b >> 8)) >> 8);
        row[3 * x + 1] = static_cast<uint8_t>((g + (g >> 8)) >> 8);
        row[3 * x + 2] = static_cast<uint8_t>((r + (r >> 8)) >> 8);
    }
}

template <int Bpp>
void CopyPixel(uint8_t* to, const uint8_t* from)
{
    to[0] = from[0];
    if constexpr (Bpp == 3) {
        to[1] = from[1];
        to[2] = from[2];
    }
}

// Places `count` decoded rows starting at stored row sy into the block.
template <int Bpp>
void PlaceRows(uint8_t* pixels, const Placement& p, JSAMPARRAY rows, int count, JDIMENSION width, JDIMENSION sy)
{
    if (p.column == Bpp || p.column == -Bpp) {
        for (int k = 0; k < count; ++k) {
            uint8_t* to = pixels + p.origin + static_cast<int64_t>(sy + k) * p.row;
            const uint8_t* from = rows[k];
            if (p.column > 0) {
                std::memcpy(to, from, static_cast<size_t>(width) * Bpp);
            } else {
                for (JDIMENSION x = 0; x < width; ++x, to -= Bpp, from += Bpp)
                    CopyPixel<Bpp>(to, from);
            }
        }
        return;
    }
    // Turned a quarter: each stored column becomes part of a block row; the
    // batch of rows keeps the writes to one short run per block row.
    uint8_t* start = pixels + p.origin + static_cast<int64_t>(sy) * p.row;
    for (JDIMENSION x = 0; x < width; ++x, start += p.column) {
        uint8_t* to = start;
        for (int k = 0; k < count; ++k, to += p.row)
            CopyPixel<Bpp>(to, rows[k] + static_cast<size_t>(x) * Bpp);
    }
}

void ReversePixels(uint8_t* row, JDIMENSION width, int bpp)
{
    uint8_t* a = row;
    uint8_t* b = row + static_cast<size_t>(width - 1) * static_cast<size_t>(bpp);
    for (; a < b; a += bpp, b -= bpp) {
        for (int i = 0; i < bpp; ++i)
            std::swap(a[i], b[i]);
    }
}

// The smallest of 1/8, 1/4 and 1/2 (the scales libjpeg-turbo's SIMD inverse
// DCTs cover) that keeps the wanted size, else full size. Leaves the choice
// in cinfo's scale and output dimensions.
void ChooseScale(Decoder& d, bool turned)
{
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.scale_num = 1;
    if (d.atLeastWidth > 0 || d.atLeastHeight > 0) {
        for (const unsigned denominator : {8u, 4u, 2u}) {
            cinfo.scale_denom = denominator;
            jpeg_calc_output_dimensions(&cinfo);
            const auto across = static_cast<int64_t>(turned ? cinfo.output_height : cinfo.output_width);
            const auto down = static_cast<int64_t>(turned ? cinfo.output_width : cinfo.output_height);
            if (across >= d.atLeastWidth && down >= d.atLeastHeight)
                return;
        }
    }
    cinfo.scale_denom = 1;
    jpeg_calc_output_dimensions(&cinfo);
}

// Huffman codes take a bit at least, and every block of every component
// needs one (its DC difference) in some scan: a large picture, or the
// coefficients a multi-scan file keeps, that the bytes after the first scan
// header cannot code are refused before anything is allocated for them.
// Arithmetic coding can take less than a bit, so no bound is known for it.
[[nodiscard]] uint64_t BlocksOf(const jpeg_decompress_struct& cinfo)
{
    uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i)
        blocks += uint64_t{cinfo.comp_info[i].width_in_blocks} * cinfo.comp_info[i].height_in_blocks;
    return blocks;
}

[[nodiscard]] bool Fillable(const jpeg_decompress_struct& cinfo, int32_t width, int32_t height)
{
    if (cinfo.arith_code)
        return true;
    const uint64_t blocks = BlocksOf(cinfo);
    const uint64_t picture = imglib::PictureBytes(width, height, cinfo.out_color_space == JCS_GRAYSCALE ? 8 : 24);
    return imglib::Fillable(std::max<uint64_t>(picture, blocks * sizeof(JBLOCK)), blocks,
                            cinfo.src->bytes_in_buffer, 8);
}

// The file's colour profile into d.icc (none: null, length 0).
void ReadProfile(Decoder& d)
{
    if (!jpeg_read_icc_profile(&d.cinfo, &d.icc, &d.iccLength)) {
        d.icc = nullptr;
        d.iccLength = 0;
    }
}

imglib::ColourDescription ProfileOf(const Decoder& d)
{
    imglib::ColourDescription colour;
    colour.icc = d.icc;
    colour.iccSize = d.iccLength;
    return colour;
}

// A transform of the file's profile, or null when it does not apply.
imglib::ColourTransform* ActiveTransform(const Decoder& d, imglib::PixelLayout layout)
{
    auto* transform = new imglib::ColourTransform(ProfileOf(d), layout);
    if (transform->Active())
        return transform;
    delete transform;
    return nullptr;
}

// `count` rows read whole; false when the data end first.
bool ReadScanlines(jpeg_decompress_struct& cinfo, JSAMPARRAY rows, int count)
{
    for (int got = 0; got < count;) {
        const JDIMENSION n = jpeg_read_scanlines(&cinfo, rows + got, static_cast<JDIMENSION>(count - got));
        if (n == 0)
            return false;  // suspension cannot happen with a memory source
        got += static_cast<int>(n);
    }
    return true;
}

int16_t Decode(Decoder& d, const uint8_t* data, size_t size)
{
    StartDecoder(d, data, size);
    jpeg_decompress_struct& cinfo = d.cinfo;
    bool cmyk = false;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        cinfo.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        return IL_ERR_UNSUPPORTED;
    }
    d.cmyk = cmyk;
    ReadProfile(d);
    // CMYK is turned to colour row by row: through its profile when it has
    // one that fits, else by plain inversion.
    if (cmyk && d.iccLength > 0)
        d.cmykColour = ActiveTransform(
            d, cinfo.saw_Adobe_marker ? imglib::PixelLayout::CmykInverted : imglib::PixelLayout::Cmyk);
    const bool turned = d.orientation >= 5;
    ChooseScale(d, turned);
    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    const int32_t blockWidth = static_cast<int32_t>(turned ? height : width);
    const int32_t blockHeight = static_cast<int32_t>(turned ? width : height);
    if (!imglib::DecodedSizeAllowed(blockWidth, blockHeight) || !imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    // A multi-scan file keeps every coefficient: refused before a byte of
    // them is allocated when they alone pass the budget.
    if (jpeg_has_multiple_scans(&cinfo) && BlocksOf(cinfo) * sizeof(JBLOCK) > d.budget.Left())
        return IL_ERR_TOO_LARGE;
    if (!Fillable(cinfo, blockWidth, blockHeight))
        return IL_ERR_CORRUPT;

    jpeg_start_decompress(&cinfo);  // a multi-scan file is read whole here
    if (cinfo.output_width != width || cinfo.output_height != height)
        return IL_ERR_CORRUPT;
    const int bpp = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : 3;
    d.dib = imglib::CreateDib(blockWidth, blockHeight, bpp * 8);
    if (!d.dib)
        return IL_ERR_MEMORY;
    d.locked = static_cast<uint8_t*>(GlobalLock(d.dib));
    int colours = 0;
    if (bpp == 1) {
        colours = 256;
        auto* palette = reinterpret_cast<imglib::RgbQuad*>(d.locked + sizeof(imglib::BitmapInfoHeader));
        for (int i = 0; i < colours; ++i)
            palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0};
    }
    uint8_t* pixels = d.locked + sizeof(imglib::BitmapInfoHeader) + 4 * colours;
    const Placement place =
        PlacementFor(d.orientation, width, height, bpp, imglib::Stride(blockWidth, bpp * 8), blockHeight);

    // Upright or mirrored rows decode straight into the block; turned or
    // CMYK rows go through a small batch buffer first.
    const bool direct = !cmyk && (place.column == bpp || place.column == -bpp);
    const JSAMPARRAY scratch =
        direct ? nullptr
               : (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                            width * static_cast<JDIMENSION>(cinfo.output_components), kBatchRows);
    const JSAMPARRAY converted =
        d.cmykColour == nullptr
            ? nullptr
            : (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, width * 3, 1);
    // A colour profile is applied by a second thread as the rows come in,
    // when they come in top row first; after the last row otherwise.
    const bool topFirst = d.orientation <= 2;
    if (!cmyk && bpp == 3 && d.iccLength > 0) {
        const int64_t stride = imglib::Stride(blockWidth, 24);
        d.colour = new imglib::ColourPipeline(ProfileOf(d), pixels + (blockHeight - 1) * stride, -stride, blockWidth,
                                              blockHeight);
    }
    JSAMPROW rows[kBatchRows];
    while (cinfo.output_scanline < height) {
        const JDIMENSION sy = cinfo.output_scanline;
        const int count = static_cast<int>(std::min<JDIMENSION>(kBatchRows, height - sy));
        for (int k = 0; k < count; ++k) {
            if (!direct) {
                rows[k] = scratch[k];
            } else {
                // The block row's lowest address: its first pixel, or its last when mirrored.
                const int64_t first = place.origin + static_cast<int64_t>(sy + k) * place.row;
                rows[k] = pixels + (place.column > 0 ? first : first - static_cast<int64_t>(width - 1) * bpp);
            }
        }
        if (!ReadScanlines(cinfo, rows, count))
            return IL_ERR_CORRUPT;
        if (direct) {
            if (place.column < 0) {
                for (int k = 0; k < count; ++k)
                    ReversePixels(rows[k], width, bpp);
            }
            if (d.colour != nullptr && topFirst)
                d.colour->Ready(static_cast<int32_t>(sy) + count);
            continue;
        }
        if (cmyk) {
            for (int k = 0; k < count; ++k) {
                if (d.cmykColour == nullptr) {
                    CmykToBgr(rows[k], width, cinfo.saw_Adobe_marker != 0);
                    continue;
                }
                d.cmykColour->Convert(rows[k], converted[0], width);
                std::memcpy(rows[k], converted[0], static_cast<size_t>(width) * 3);
            }
        }
        if (bpp == 1)
            PlaceRows<1>(pixels, place, rows, count, width, sy);
        else
            PlaceRows<3>(pixels, place, rows, count, width, sy);
    }
    if (d.colour != nullptr)
        d.colour->Finish();
    // Every row is in; whatever follows the scan (a missing end marker,
    // padding) cannot damage the picture, so it is not read.
    return 1;
}

// Bands of upright rows to a sink as they are decoded: single-scan colour
// files whose rows need no reordering only, everything else is refused
// before a row is decoded.
int16_t DecodeRows(Decoder& d, const uint8_t* data, size_t size, ILRowSink sink, void* sinkData)
{
    StartDecoder(d, data, size);
    jpeg_decompress_struct& cinfo = d.cinfo;
    if (cinfo.jpeg_color_space != JCS_YCbCr && cinfo.jpeg_color_space != JCS_RGB)
        return IL_ERR_UNSUPPORTED;
    if (jpeg_has_multiple_scans(&cinfo) || d.orientation > 2)
        return IL_ERR_UNSUPPORTED;
    cinfo.out_color_space = JCS_EXT_BGR;
    ReadProfile(d);
    if (d.iccLength > 0)
        d.rowColour = ActiveTransform(d, imglib::PixelLayout::Bgr);
    ChooseScale(d, false);
    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    if (!imglib::DecodedSizeAllowed(width, height))
        return IL_ERR_TOO_LARGE;
    if (!Fillable(cinfo, static_cast<int32_t>(width), static_cast<int32_t>(height)))
        return IL_ERR_CORRUPT;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width != width || cinfo.output_height != height || cinfo.output_components != 3)
        return IL_ERR_CORRUPT;
    const JSAMPARRAY band = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                       width * 3, kBatchRows);
    while (cinfo.output_scanline < height) {
        const int count = static_cast<int>(std::min<JDIMENSION>(kBatchRows, height - cinfo.output_scanline));
        if (!ReadScanlines(cinfo, band, count))
            return IL_ERR_CORRUPT;
        for (int k = 0; k < count; ++k) {
            if (d.orientation == 2)
                ReversePixels(band[k], width, 3);
            if (d.rowColour != nullptr)
                d.rowColour->Convert(band[k], band[k], width);
        }
        if (sink(band, count, static_cast<int32_t>(width), static_cast<int32_t>(height), sinkData) == 0)
            return IL_ERR_CANCELLED;
    }
    return 1;
}

// ---- encoding ------------------------------------------------------------

// The bytes collect in a malloc'd buffer owned by the Encoder record (not
// libjpeg's memory destination, which may leave a freed pointer behind when
// an error stops it halfway).
struct Encoder {
    jpeg_compress_struct cinfo;
    ErrorManager errors;
    jpeg_destination_mgr destination;
    unsigned char* buffer;
    size_t capacity;
    size_t length;
};

[[nodiscard]] Encoder* EncoderOf(j_compress_ptr cinfo)
{
    return static_cast<Encoder*>(cinfo->client_data);
}

void InitDestination(j_compress_ptr cinfo)
{
    Encoder* e = EncoderOf(cinfo);
    e->destination.next_output_byte = e->buffer;
    e->destination.free_in_buffer = e->capacity;
}

boolean GrowDestination(j_compress_ptr cinfo)
{
    Encoder* e = EncoderOf(cinfo);
    const size_t capacity = e->capacity * 2;
    auto* grown = static_cast<unsigned char*>(std::realloc(e->buffer, capacity));
    if (grown == nullptr)
        Fail(reinterpret_cast<j_common_ptr>(cinfo), IL_ERR_MEMORY);
    e->destination.next_output_byte = grown + e->capacity;
    e->destination.free_in_buffer = capacity - e->capacity;
    e->buffer = grown;
    e->capacity = capacity;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    Encoder* e = EncoderOf(cinfo);
    e->length = e->capacity - e->destination.free_in_buffer;
}

// One top-down row of any uncompressed depth as blue, green, red.
void RowToBgr(const uint8_t* row, int bits, int32_t width, const std::array<imglib::RgbQuad, 256>& palette,
              uint8_t* out)
{
    const auto put = [&out](const imglib::RgbQuad& q) {
        out[0] = q.blue;
        out[1] = q.green;
        out[2] = q.red;
        out += 3;
    };
    switch (bits) {
    case 1:
        for (int32_t x = 0; x < width; ++x)
            put(palette[(row[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
    case 4:
        for (int32_t x = 0; x < width; ++x)
            put(palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]);
        break;
    case 8:
        for (int32_t x = 0; x < width; ++x)
            put(palette[row[x]]);
        break;
    case 16:
        for (int32_t x = 0; x < width; ++x) {
            const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
            const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
            out[0] = static_cast<uint8_t>(b << 3 | b >> 2);
            out[1] = static_cast<uint8_t>(g << 3 | g >> 2);
            out[2] = static_cast<uint8_t>(r << 3 | r >> 2);
            out += 3;
        }
        break;
    default:
        break;
    }
}

// Everything up to the first row. 24- and 32-bit rows go to libjpeg as they
// are; the rest through scratch.
int16_t StartEncode(Encoder& e, int32_t width, int32_t height, int bits, int quality, int smoothing, bool grey)
{
    jpeg_create_compress(&e.cinfo);
    jpeg_compress_struct& cinfo = e.cinfo;
    cinfo.client_data = &e;
    e.capacity = 64 * 1024;
    e.buffer = static_cast<unsigned char*>(std::malloc(e.capacity));
    if (e.buffer == nullptr)
        return IL_ERR_MEMORY;
    e.destination.init_destination = InitDestination;
    e.destination.empty_output_buffer = GrowDestination;
    e.destination.term_destination = TermDestination;
    cinfo.dest = &e.destination;
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = bits == 32 ? 4 : 3;
    cinfo.in_color_space = bits == 32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    if (grey)
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);  // libjpeg takes the luma
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.smoothing_factor = smoothing;
    cinfo.write_JFIF_header = FALSE;
    cinfo.write_Adobe_marker = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    return 1;
}

int16_t Encode(Encoder& e, const imglib::DibView& view, int quality, int smoothing, bool grey,
               const Progress& progress, const std::array<imglib::RgbQuad, 256>& palette, uint8_t* scratch)
{
    const int bits = view.Bits();
    const int32_t height = view.Height();
    if (const int16_t started = StartEncode(e, view.Width(), height, bits, quality, smoothing, grey); started <= 0)
        return started;
    jpeg_compress_struct& cinfo = e.cinfo;
    int lastPercent = -1;
    for (int32_t y = 0; y < height; ++y) {
        JSAMPROW row = view.Row(y);
        if (bits != 24 && bits != 32) {
            RowToBgr(row, bits, view.Width(), palette, scratch);
            row = scratch;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
        const int percent = static_cast<int>(static_cast<int64_t>(y) * 100 / height);
        if (percent != lastPercent) {
            lastPercent = percent;
            if (!progress.Report(percent))
                return IL_ERR_CANCELLED;
        }
    }
    jpeg_finish_compress(&cinfo);
    return progress.Report(100) ? 1 : IL_ERR_CANCELLED;
}

}  // namespace

int16_t InfoJpeg(const uint8_t* data, size_t size, ImageInfo& info)
{
    if (data == nullptr || size < 3 || data[0] != 0xFF || data[1] != 0xD8)
        return IL_ERR_FORMAT;
    Decoder d{};
    d.cinfo.err = &d.errors.pub;
    InstallErrors(d.errors);
    const int16_t result = Attempt(d.errors, [&]() -> int16_t {
        StartDecoder(d, data, size);
        return 1;
    });
    jpeg_destroy_decompress(&d.cinfo);
    if (result <= 0)
        return result;
    const bool turned = d.orientation >= 5;
    info.format = "JPEG";
    info.width = static_cast<int32_t>(turned ? d.cinfo.image_height : d.cinfo.image_width);
    info.height = static_cast<int32_t>(turned ? d.cinfo.image_width : d.cinfo.image_height);
    info.bits = d.bits;
    info.pages = 1;
    info.orientation = d.orientation;
    info.compression = d.progressive ? "Progressive JPEG" : "JPEG";
    return 1;
}

namespace {

// A decoder record ready for Attempt: errors land in it, progress and the
// size the picture may be reduced to are set.
void Prepare(Decoder& d, const Progress& progress, int32_t atLeastWidth, int32_t atLeastHeight)
{
    d.cinfo.err = &d.errors.pub;
    InstallErrors(d.errors);
    d.progress = &progress;
    d.lastPercent = -1;
    d.atLeastWidth = atLeastWidth;
    d.atLeastHeight = atLeastHeight;
}

int16_t DecodeJpeg(const uint8_t* data, size_t size, const Progress& progress, int32_t atLeastWidth,
                   int32_t atLeastHeight, OwnedBlock& block)
{
    if (data == nullptr || size < 3 || data[0] != 0xFF || data[1] != 0xD8)
        return IL_ERR_FORMAT;
    Decoder d{};
    Prepare(d, progress, atLeastWidth, atLeastHeight);
    const int16_t result = Attempt(d.errors, [&] { return Decode(d, data, size); });
    jpeg_destroy_decompress(&d.cinfo);
    delete d.cmykColour;
    const bool colourDone = d.colour != nullptr;
    delete d.colour;
    const std::unique_ptr<JOCTET, decltype(&std::free)> icc(d.icc, &std::free);
    if (d.locked != nullptr)
        GlobalUnlock(d.dib);
    block.Reset(d.dib);
    if (result <= 0)
        return result;
    // Grey: its table to sRGB.
    if (!d.cmyk && !colourDone && d.iccLength > 0)
        imglib::ConvertToSrgb(block.Get(), ProfileOf(d));
    return 1;
}

}  // namespace

int16_t ReadJpeg(const uint8_t* data, size_t size, const Progress& progress, HDIB* dib, int32_t atLeastWidth,
                 int32_t atLeastHeight)
{
    return Deliver(dib, progress, [&](OwnedBlock& block) {
        return DecodeJpeg(data, size, progress, atLeastWidth, atLeastHeight, block);
    });
}

int16_t WriteJpeg(HDIB dib, int quality, int smoothing, bool grey, const Progress& progress, std::string& out)
{
    out.clear();
    if (quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100)
        return IL_ERR_ARGUMENT;
    const imglib::DibView view(dib);
    if (!view.Valid() || view.Header().biCompression != 0 || view.Height() > JPEG_MAX_DIMENSION ||
        view.Width() > JPEG_MAX_DIMENSION)
        return IL_ERR_ARGUMENT;
    // Indices past the colour table read black rather than past the block.
    std::array<imglib::RgbQuad, 256> palette{};
    if (view.Bits() <= 8)
        std::copy_n(view.Palette(), std::min(view.Colours(), 1 << view.Bits()), palette.begin());
    std::vector<uint8_t> scratch(view.Bits() == 24 || view.Bits() == 32 ? 0 : static_cast<size_t>(view.Width()) * 3);

    Encoder e{};
    e.cinfo.err = &e.errors.pub;
    InstallErrors(e.errors);
    const int16_t result = Attempt(
        e.errors, [&] { return Encode(e, view, quality, smoothing, grey, progress, palette, scratch.data()); });
    jpeg_destroy_compress(&e.cinfo);
    const std::unique_ptr<unsigned char, decltype(&std::free)> bytes(e.buffer, &std::free);
    if (result <= 0)
        return result;
    out.assign(reinterpret_cast<const char*>(bytes.get()), e.length);
    return 1;
}

int16_t ReadJpegRows(const uint8_t* data, size_t size, const Progress& progress, int32_t atLeastWidth,
                     int32_t atLeastHeight, ILRowSink sink, void* sinkData)
{
    if (sink == nullptr)
        return IL_ERR_ARGUMENT;
    if (data == nullptr || size < 3 || data[0] != 0xFF || data[1] != 0xD8)
        return IL_ERR_FORMAT;
    Decoder d{};
    Prepare(d, progress, atLeastWidth, atLeastHeight);
    const int16_t result = Attempt(d.errors, [&] { return DecodeRows(d, data, size, sink, sinkData); });
    jpeg_destroy_decompress(&d.cinfo);
    delete d.rowColour;
    std::free(d.icc);
    if (result <= 0)
        return result;
    return progress.Report(100) ? int16_t{1} : static_cast<int16_t>(IL_ERR_CANCELLED);
}

struct JpegRows::State {
    Encoder e{};
    int32_t width = 0;
    int32_t height = 0;
    int32_t rows = 0;
    int16_t failure = 0;
};

JpegRows::JpegRows() : m_state(std::make_unique<State>()) {}

JpegRows::~JpegRows()
{
    jpeg_destroy_compress(&m_state->e.cinfo);
    std::free(m_state->e.buffer);
}

int16_t JpegRows::Start(int32_t width, int32_t height, int quality, int smoothing)
{
    State& s = *m_state;
    s.e.cinfo.err = &s.e.errors.pub;
    InstallErrors(s.e.errors);
    if (quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100 || width < 1 || height < 1 ||
        width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        s.failure = IL_ERR_ARGUMENT;
        return s.failure;
    }
    s.width = width;
    s.height = height;
    const int16_t result =
        Attempt(s.e.errors, [&] { return StartEncode(s.e, width, height, 24, quality, smoothing, false); });
    if (result <= 0)
        s.failure = result;
    return result;
}

int16_t JpegRows::Put(const uint8_t* const* rows, int32_t count)
{
    State& s = *m_state;
    if (s.failure != 0)
        return s.failure;
    if (rows == nullptr || count < 0 || count > s.height - s.rows) {
        s.failure = IL_ERR_ARGUMENT;
        return s.failure;
    }
    const int16_t result = Attempt(s.e.errors, [&]() -> int16_t {
        for (int32_t k = 0; k < count; ++k) {
            JSAMPROW row = const_cast<JSAMPROW>(rows[k]);  // libjpeg only reads it
            jpeg_write_scanlines(&s.e.cinfo, &row, 1);
        }
        return 1;
    });
    if (result <= 0)
        s.failure = result;
    else
        s.rows += count;
    return result;
}

int16_t JpegRows::Finish(std::string& out)
{
    State& s = *m_state;
    out.clear();
    if (s.failure != 0)
        return s.failure;
    if (s.rows != s.height)
        return IL_ERR_ARGUMENT;
    const int16_t result = Attempt(s.e.errors, [&]() -> int16_t {
        jpeg_finish_compress(&s.e.cinfo);
        return 1;
    });
    if (result <= 0) {
        s.failure = result;
        return result;
    }
    out.assign(reinterpret_cast<const char*>(s.e.buffer), s.e.length);
    return 1;
}

}  // namespace crde
