#pragma once

// Binding of the codec module CRDE2001.so: loaded on the first call that
// needs it and kept for the whole process; every entry is resolved by name
// on each call. All state is process-wide and used from the GUI thread only.
//
// Loading failures raise ErrorInvalid ("Can't load CRDE2001.so. Make sure its
// located in the application's searchpath."). An entry missing from the
// loaded module makes codec and processing wrappers return false or null
// silently, annotation wrappers raise ErrorInvalid. An exception caught inside
// the module shows the trap message (ModuleLoader.h) and gives false or null.

#include "ModuleLoader.h"
#include "imglib.h"

#include <QList>
#include <QRgb>
#include <QString>

#include <cstdint>

namespace imaging::DLL96V1 {

inline constexpr char kLibraryName[] = "CRDE2001.so";

// Start-up work: clears the state (error, texts, shared palette, handle, DLL
// directory) and records the program's name as "App Name" in section
// "Imaging Twain" of iltwain.ini in the per-user folder.
void Initialize();
// Shut-down work: unloads the module and clears the texts.
void Finalize();

// An optional folder searched first by both binding units; empty by default.
// The first load appends "/" to it when missing.
[[nodiscard]] QString DllDirectory();
void SetDllDirectory(const QString& folder);

// The module handle; null while not loaded.
[[nodiscard]] ModuleHandle Handle();

// The operation under way, for progress displays.
[[nodiscard]] QString StatusText();
void SetStatusText(const QString& text);

// The last failure of a codec entry: its number and the module's text for it.
[[nodiscard]] int16_t ErrorNumber();
[[nodiscard]] QString ErrorText();
void SetErrorText(const QString& text);
// Records `number` with its text from the loaded module's string table
// (empty when it has none); -1 gives "Unknown error in Imaging Dll".
void RecordError(int16_t number);

// A palette handed to the readers that take one and used when blocks become
// bitmaps; empty (none) unless set.
[[nodiscard]] const QList<QRgb>& SharedPalette();
void SetSharedPalette(const QList<QRgb>& palette);

// Loads `library` into `handle` when needed (ModuleLoader.h's search) and
// resolves `entry` into `proc`. True when `proc` is non-null. A library whose
// name lacks "CRDE" is refused after loading: "Wrong dll Name in DLL96V1" is
// shown, it is unloaded and the result is false. Raises ErrorInvalid when the
// library cannot be loaded at all.
bool LoadProc(ModuleHandle& handle, const QString& library, const char* entry, void*& proc);

// ---- codec wrappers -------------------------------------------------------
// Each returns true on success. A file to read that cannot be opened raises
// EFOpenError ("Cannot open file "NAME". REASON"). One that is not a regular
// file (a FIFO, device, socket or folder) is refused, before anything could
// wait on it, as a file the module cannot open (IL_ERR_OPEN), and so is a
// name that does not fit the module's 512-byte buffer; the module is not
// called then. Any other file, however short, is the module's to judge. A
// failure result is recorded (ErrorNumber, ErrorText, the text from the
// module that was called); after a failed JPEG read or write the module is
// unloaded, so the next call loads it again. That unload waits while a call
// into the module is still in flight (a progress callback started this one):
// it happens when the outermost call returns (ModuleLoader.h, FreeModule).

bool fileinfo(const QString& name, QString& formatName, int32_t& width, int32_t& height,
              int16_t& bits, int16_t& figure1, int16_t& figure2, QString& compressionName);
// Success is a result of 0 or more; failures are not recorded.
bool getinfo(const QString& name, int16_t page, int32_t& width, int32_t& height, int16_t& bits,
             int16_t& pageCount, QString& compressionName);
bool getdxfinfo(const QString& name, int32_t& width, int32_t& height, int16_t& bits);

// Readers: `dib` receives a new block (the caller releases it) or null.
bool rdjpgfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback);
bool rdbmpfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback);
bool rdpngfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback);
bool rdgiffiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback);
bool rdpcxfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback);
// HEIF and AVIF alike.
bool rdheiffiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                   ILProgress callback);
bool rdwebpfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                   ILProgress callback);
bool readtgafiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                    ILProgress callback);
bool readepsfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                    ILProgress callback);
bool readtiffiledib(const QString& name, int16_t bits, int16_t dither, int16_t page, HDIB& dib,
                    void* control, ILProgress callback);
bool readpcdfiledib(const QString& name, int16_t bits, int16_t dither, int16_t mode, HDIB& dib,
                    void* control, ILProgress callback);
bool readdxftoddb(const QString& name, int16_t bits, HDIB& dib, void* control,
                  ILProgress callback);

// Writes `dib` (not released) as JPEG; no length check on the target.
bool wrjpgfiledib(const QString& name, int16_t quality, int16_t smoothing, int16_t colour,
                  HDIB dib, void* control, ILProgress callback);

// ---- processing wrappers: a new block (the input stays), or null ---------
[[nodiscard]] HDIB DIB1to4(HDIB dib);
[[nodiscard]] HDIB DIB1To8(HDIB dib);
[[nodiscard]] HDIB DIB1To24(HDIB dib);
[[nodiscard]] HDIB DIB4To8(HDIB dib);
[[nodiscard]] HDIB DIB4To24(HDIB dib);
[[nodiscard]] HDIB DIB16To24(HDIB dib);
[[nodiscard]] HDIB DIB32To24(HDIB dib);
// A run-length block unpacked to an uncompressed block of its depth and table.
[[nodiscard]] HDIB DibtoDdb(HDIB dib);

// ---- annotation wrappers: raise ErrorInvalid when the entry is missing ---
void InitAnnotation(void* control, void* window, void* control2, ILAnnotationCallback c1,
                    ILAnnotationCallback c2, ILAnnotationCallback c3, ILAnnotationCallback c4,
                    ILAnnotationCallback c5, const QString& settingsPath);
void DrawAnnotation(void* control, double scale, int32_t originX, int32_t originY,
                    int32_t offsetX, int32_t offsetY, int32_t barWidth);
void ClearAnnotation(void* control);
void DestroyAnnotation(void* control);

}  // namespace imaging::DLL96V1
