/* The interface of the two imaging modules, ISP2000.so (processing) and
 * CRDE2001.so (codecs, file information, depth conversions, annotations).
 *
 * The program loads them at run time and resolves every entry by name; this
 * header declares each entry's type (for the modules, which define them, and
 * for the program, which casts resolved symbols to the *_fn types). Nothing
 * but C types crosses the boundary.
 *
 * Pictures travel as packed DIB blocks (see globalmem.h): a 40-byte bitmap
 * information header, the colour table (blue, green, red, 0 per entry), then
 * the pixel rows bottom row first, each padded to 4 bytes. An entry that
 * makes a picture returns a new block, unlocked; the caller frees it. Input
 * blocks are never freed or changed by an entry.
 *
 * Results: CRDE2001 codec entries return a 16-bit number, > 0 for success,
 * otherwise one of the IL_ERR_* numbers below; the text of a number is in the
 * module's string table (ILStringTable, keyed by the number as an unsigned
 * 16-bit identifier). Entries that return a block return null on failure,
 * and a reader entry that fails, however far it got, leaves *dib null.
 *
 * Exceptions: a module catches everything inside its entries. When it caught
 * one, the entry fails (0 or null) and ILTakeException() of that module
 * returns 1 once; the program asks after every trapped call.
 *
 * Progress: ILProgress(percent, control) is called on the caller's thread
 * only; a result of 0 asks the entry to stop, which it then does with
 * IL_ERR_CANCELLED (or null). */
#ifndef SNIMKOREZ_IMGLIB_H
#define SNIMKOREZ_IMGLIB_H

#include "globalmem.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(IMGLIB_BUILDING_MODULE)
#define IMGLIB_API __attribute__((visibility("default")))
#else
#define IMGLIB_API
#endif

typedef HGLOBAL HDIB;
typedef void* ILPalette; /* a palette handle; the modules accept and ignore one */
typedef int (*ILProgress)(int percent, void* control);
typedef void (*ILAnnotationCallback)(void);

/* File names are passed in buffers of this size, zero-terminated. */
#define IL_NAME_BUFFER 512
/* Output buffers of the information entries. */
#define IL_FORMAT_NAME_SIZE 16
#define IL_COMPRESSION_NAME_SIZE 32

/* Error numbers of CRDE2001. -1 is the binding's own "unknown error". */
enum {
    IL_ERR_UNKNOWN = -1,
    IL_ERR_OPEN = -2,          /* the file cannot be opened or read */
    IL_ERR_FORMAT = -3,        /* not a format this entry reads */
    IL_ERR_CORRUPT = -4,       /* damaged or truncated data */
    IL_ERR_TOO_LARGE = -5,     /* decoded picture would exceed IL_MAX_DECODED_BYTES */
    IL_ERR_MEMORY = -6,        /* out of memory */
    IL_ERR_CANCELLED = -7,     /* the progress callback asked to stop */
    IL_ERR_UNSUPPORTED = -8,   /* a format or variant not read by this module */
    IL_ERR_WRITE = -9,         /* the file cannot be written */
    IL_ERR_ARGUMENT = -10,     /* a bad argument: no block, bad depth, bad quality */
    IL_ERR_PAGE = -11          /* no such page in the file */
};

/* A picture whose 24-bit packed rows would need more than this is refused
 * before anything is allocated for its pixels. */
#define IL_MAX_DECODED_BYTES (1024ull * 1024ull * 1024ull)

typedef struct ILStringEntry {
    uint16_t id;
    const char* text; /* UTF-8 */
} ILStringEntry;

/* ---- both modules ---------------------------------------------------- */

IMGLIB_API int ILTakeException(void);

/* ---- CRDE2001: file information -------------------------------------- */

/* The format by content, never by extension: "JPEG", "BMP", "PNG", "GIF",
 * "TIFF", "TGA", "PCX", "EPS", "PCD", "DXF", "HEIF", "AVIF", "WEBP". Width
 * and height are the picture as it will be read (a JPEG's EXIF orientation
 * applied, a HEIF turned as the file says); figure1 is
 * the number of pages or frames, figure2 the EXIF orientation (1..8, 0 when
 * none). > 0 on success. */
IMGLIB_API int16_t fileinfo(const char* name, char* formatName, int32_t* width, int32_t* height,
                            int16_t* bits, int16_t* figure1, int16_t* figure2,
                            char* compressionName, uint16_t reserved);
typedef int16_t (*fileinfo_fn)(const char*, char*, int32_t*, int32_t*, int16_t*, int16_t*,
                               int16_t*, char*, uint16_t);

/* A TIFF page's figures (page counted from 0) and the page count. >= 0 on success. */
IMGLIB_API int16_t getinfo(const char* name, int16_t page, int32_t* width, int32_t* height,
                           int16_t* bits, int16_t* pageCount, char* compressionName,
                           uint16_t reserved);
typedef int16_t (*getinfo_fn)(const char*, int16_t, int32_t*, int32_t*, int16_t*, int16_t*,
                              char*, uint16_t);

IMGLIB_API int16_t getdxfinfo(const char* name, int32_t* width, int32_t* height, int16_t* bits,
                              uint16_t reserved);
typedef int16_t (*getdxfinfo_fn)(const char*, int32_t*, int32_t*, int16_t*, uint16_t);

/* ---- CRDE2001: readers ------------------------------------------------
 * `bits` is the depth of the block made: 1, 4, 8 or 24 (0 means 4, the VGA
 * sixteen colours; anything else 24). Fewer bits than the file holds reduce
 * the colours, dithering when `dither` is not 0; more bits expand them. */

IMGLIB_API int16_t rdjpgfiledib(const char* name, int16_t bits, int16_t one, int16_t dither,
                                HDIB* dib, ILPalette palette, void* control, ILProgress callback,
                                uint16_t reserved);
typedef int16_t (*rdjpgfiledib_fn)(const char*, int16_t, int16_t, int16_t, HDIB*, ILPalette,
                                   void*, ILProgress, uint16_t);

/* A JPEG for a reduction to (at most) width × height: the inverse DCT may
 * reduce the picture 2, 4 or 8 times while it keeps at least that size,
 * upright; always a 24-bit block. */
IMGLIB_API int16_t rdjpgfiledibatleast(const char* name, int32_t width, int32_t height, HDIB* dib,
                                       void* control, ILProgress callback, uint16_t reserved);
typedef int16_t (*rdjpgfiledibatleast_fn)(const char*, int32_t, int32_t, HDIB*, void*, ILProgress,
                                          uint16_t);

/* rdbmpfiledib, rdpngfiledib, rdgiffiledib, rdpcxfiledib, rdheiffiledib
 * (HEIF and AVIF) and rdwebpfiledib share one type. */
IMGLIB_API int16_t rdbmpfiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                ILPalette palette, void* control, ILProgress callback,
                                uint16_t reserved);
IMGLIB_API int16_t rdpngfiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                ILPalette palette, void* control, ILProgress callback,
                                uint16_t reserved);
IMGLIB_API int16_t rdgiffiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                ILPalette palette, void* control, ILProgress callback,
                                uint16_t reserved);
IMGLIB_API int16_t rdpcxfiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                ILPalette palette, void* control, ILProgress callback,
                                uint16_t reserved);
IMGLIB_API int16_t rdheiffiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                 ILPalette palette, void* control, ILProgress callback,
                                 uint16_t reserved);
IMGLIB_API int16_t rdwebpfiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                 ILPalette palette, void* control, ILProgress callback,
                                 uint16_t reserved);
typedef int16_t (*rdpalettefiledib_fn)(const char*, int16_t, int16_t, HDIB*, ILPalette, void*,
                                       ILProgress, uint16_t);

/* readtgafiledib, readepsfiledib share one type. */
IMGLIB_API int16_t readtgafiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                  void* control, ILProgress callback, uint16_t reserved);
IMGLIB_API int16_t readepsfiledib(const char* name, int16_t bits, int16_t dither, HDIB* dib,
                                  void* control, ILProgress callback, uint16_t reserved);
typedef int16_t (*readfiledib_fn)(const char*, int16_t, int16_t, HDIB*, void*, ILProgress,
                                  uint16_t);

/* `page` counts from 0. readpcdfiledib's `mode` is the Photo CD resolution. */
IMGLIB_API int16_t readtiffiledib(const char* name, int16_t bits, int16_t dither, int16_t page,
                                  HDIB* dib, void* control, ILProgress callback,
                                  uint16_t reserved);
IMGLIB_API int16_t readpcdfiledib(const char* name, int16_t bits, int16_t dither, int16_t mode,
                                  HDIB* dib, void* control, ILProgress callback,
                                  uint16_t reserved);
typedef int16_t (*readpagefiledib_fn)(const char*, int16_t, int16_t, int16_t, HDIB*, void*,
                                      ILProgress, uint16_t);

/* Draws a drawing into a block; `dib` receives it. */
IMGLIB_API int16_t readdxftoddb(const char* name, int16_t bits, HDIB* dib, void* control,
                                ILProgress callback, uint16_t reserved);
typedef int16_t (*readdxftoddb_fn)(const char*, int16_t, HDIB*, void*, ILProgress, uint16_t);

/* Rows handed out as they are made: `count` rows (top row first) of a
 * width × height picture, each `width` pixels of blue, green, red. The rows
 * are valid during the call only. 0 asks the producer to stop. */
typedef int (*ILRowSink)(const uint8_t* const* rows, int32_t count, int32_t width, int32_t height,
                         void* data);

/* The picture rdjpgfiledibatleast would make, handed to `sink` in bands of
 * rows while it is decoded, so that nothing holds the whole picture. Only a
 * single-scan colour JPEG that needs no turning or flipping is read so;
 * anything else gives IL_ERR_UNSUPPORTED before the first row, and the
 * caller reads it whole. A sink or progress result of 0 stops the decoding
 * with IL_ERR_CANCELLED. Rows already handed out are not taken back: on any
 * failure the caller discards what it made of them. > 0 when every row was
 * handed out and the file did not change meanwhile. */
IMGLIB_API int16_t rdjpgrowsatleast(const char* name, int32_t width, int32_t height, ILRowSink sink,
                                    void* data, void* control, ILProgress callback, uint16_t reserved);
typedef int16_t (*rdjpgrowsatleast_fn)(const char*, int32_t, int32_t, ILRowSink, void*, void*,
                                       ILProgress, uint16_t);

/* ---- CRDE2001: writer ------------------------------------------------- */

/* Baseline JPEG, quality 1..100, smoothing 0..100 (libjpeg's input
 * smoothing; 0 is none), `colour` 1 for grey or 24 for colour, optimised Huffman
 * tables, no metadata. The file is written beside its final name and renamed
 * into place. > 0 when written. */
IMGLIB_API int16_t wrjpgfiledib(const char* name, int16_t quality, int16_t smoothing,
                                int16_t colour, HDIB dib, void* control, ILProgress callback,
                                uint16_t reserved);
typedef int16_t (*wrjpgfiledib_fn)(const char*, int16_t, int16_t, int16_t, HDIB, void*,
                                   ILProgress, uint16_t);

/* The same file as wrjpgfiledib of a 24-bit block gives, from rows handed
 * in top row first (blue, green, red). wrjpgrowsopen returns null on a bad
 * argument or no memory. Nothing is written before wrjpgrowsclose with
 * `keep` 1, which writes and renames the file into place (> 0 when written,
 * IL_ERR_ARGUMENT when fewer rows came than the height); `keep` 0 discards
 * everything. wrjpgrowsclose frees the writer either way. */
typedef struct ILJpegRows ILJpegRows;
IMGLIB_API ILJpegRows* wrjpgrowsopen(const char* name, int32_t width, int32_t height, int16_t quality,
                                     int16_t smoothing);
typedef ILJpegRows* (*wrjpgrowsopen_fn)(const char*, int32_t, int32_t, int16_t, int16_t);
/* > 0 when taken; after a failure every later call fails too. */
IMGLIB_API int16_t wrjpgrowsput(ILJpegRows* writer, const uint8_t* const* rows, int32_t count);
typedef int16_t (*wrjpgrowsput_fn)(ILJpegRows*, const uint8_t* const*, int32_t);
IMGLIB_API int16_t wrjpgrowsclose(ILJpegRows* writer, int32_t keep);
typedef int16_t (*wrjpgrowsclose_fn)(ILJpegRows*, int32_t);

/* ---- CRDE2001: depth conversions (new block, or null) ----------------- */

IMGLIB_API HDIB DIB1to4(HDIB dib);
IMGLIB_API HDIB DIB1To8(HDIB dib);
IMGLIB_API HDIB DIB1To24(HDIB dib);
IMGLIB_API HDIB DIB4To8(HDIB dib);
IMGLIB_API HDIB DIB4To24(HDIB dib);
IMGLIB_API HDIB DIB16To24(HDIB dib);
IMGLIB_API HDIB DIB32To24(HDIB dib);
typedef HDIB (*dibconvert_fn)(HDIB);

/* A run-length block (compression 1 or 2) unpacked to an uncompressed block
 * of the same depth and colour table: the device bitmap and its palette. */
IMGLIB_API HDIB DibtoDdb(HDIB dib);

/* ---- CRDE2001: annotation layer (accepts every call, draws nothing) --- */

IMGLIB_API void InitAnnotation(void* control, void* window, void* control2,
                               ILAnnotationCallback c1, ILAnnotationCallback c2,
                               ILAnnotationCallback c3, ILAnnotationCallback c4,
                               ILAnnotationCallback c5, const char* settingsPath);
typedef void (*InitAnnotation_fn)(void*, void*, void*, ILAnnotationCallback, ILAnnotationCallback,
                                  ILAnnotationCallback, ILAnnotationCallback,
                                  ILAnnotationCallback, const char*);
IMGLIB_API void DrawAnnotation(void* control, double scale, int32_t originX, int32_t originY,
                               int32_t offsetX, int32_t offsetY, int32_t barWidth, int32_t zero);
typedef void (*DrawAnnotation_fn)(void*, double, int32_t, int32_t, int32_t, int32_t, int32_t,
                                  int32_t);
IMGLIB_API void ClearAnnotation(void* control);
IMGLIB_API void DestroyAnnotation(void* control);
typedef void (*annotation_fn)(void*);

/* The error texts, ending with {0, 0}. */
IMGLIB_API extern const ILStringEntry ILStringTable[];

/* ---- ISP2000 --------------------------------------------------------- */

/* 24- or 32-bit block resampled to width × height (both >= 1); a 32-bit
 * block gives a 32-bit block. Null on failure. */
IMGLIB_API HDIB ScaleDib(HDIB dib, int32_t width, int32_t height);
typedef HDIB (*ScaleDib_fn)(HDIB, int32_t, int32_t);

/* A sharpened copy of a 24-bit block; only the rectangle left..right-1,
 * top..bottom-1 (top-down rows) changes. `amount` 0 copies. */
IMGLIB_API HDIB Better(HDIB dib, int32_t amount, int32_t left, int32_t top, int32_t right,
                       int32_t bottom, void* control, ILProgress callback);
typedef HDIB (*Better_fn)(HDIB, int32_t, int32_t, int32_t, int32_t, int32_t, void*, ILProgress);

/* ScaleDib to width × height and then Better over the whole picture with
 * `amount`, on rows handed in top row first (sourceWidth pixels of blue,
 * green, red each): every finished row goes to `sink` as soon as no later
 * source row can change it. Only windows of rows are kept: neither picture
 * is held whole. ScaleRowsOpen returns null on a bad size or no memory;
 * ScaleRowsPut returns 0 when the rows cannot be taken (more than the
 * height, no memory) or the sink asked to stop, and from then on.
 * ScaleRowsClose frees the scaler; it returns 1 when every row was taken
 * and handed on. Single-threaded: the caller's thread does the work. */
typedef struct ILScaleRows ILScaleRows;
IMGLIB_API ILScaleRows* ScaleRowsOpen(int32_t sourceWidth, int32_t sourceHeight, int32_t width,
                                      int32_t height, int32_t amount, ILRowSink sink, void* data);
typedef ILScaleRows* (*ScaleRowsOpen_fn)(int32_t, int32_t, int32_t, int32_t, int32_t, ILRowSink,
                                         void*);
IMGLIB_API int ScaleRowsPut(ILScaleRows* scaler, const uint8_t* const* rows, int32_t count);
typedef int (*ScaleRowsPut_fn)(ILScaleRows*, const uint8_t* const*, int32_t);
IMGLIB_API int ScaleRowsClose(ILScaleRows* scaler);
typedef int (*ScaleRowsClose_fn)(ILScaleRows*);

/* A copy reduced to 1, 4 or 8 bits. `dither` 0: nearest colour; 1:
 * Floyd-Steinberg error diffusion. The three zeros are reserved. */
IMGLIB_API HDIB ReduceDib(HDIB dib, int32_t bits, int32_t dither, int32_t zero1, int32_t zero2,
                          int32_t zero3, void* data, ILProgress callback);
typedef HDIB (*ReduceDib_fn)(HDIB, int32_t, int32_t, int32_t, int32_t, int32_t, void*,
                             ILProgress);

#ifdef __cplusplus
}
#endif

#endif
