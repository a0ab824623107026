#pragma once

// Binding of the processing module ISP2000.so: loaded on the first call that
// needs it (searched as DLL96V1 searches, DLL directory included) and kept
// for the whole process; every entry is resolved by name on each call. When
// the module cannot be loaded, "Can't load ISP2000.so. Make sure its located
// in the application's searchpath." is shown and the wrapper gives null. An
// exception caught inside the module shows the trap message and gives null.
// Also keeps the process-wide undo store. GUI thread only.

#include "ModuleLoader.h"
#include "TBitmap.h"
#include "imglib.h"

#include <QString>

#include <cstdint>

namespace imaging::DllSP96 {

inline constexpr char kLibraryName[] = "ISP2000.so";

// Start-up work: no module, an empty undo store, the effects help path.
void Initialize();
// Shut-down work: unloads the module and frees the undo store.
void Finalize();

[[nodiscard]] ModuleHandle Handle();
[[nodiscard]] QString EffectsHelpPath();

// Loads the module when needed and resolves `entry`; null (after the message
// when the module cannot be loaded) on failure.
[[nodiscard]] void* Resolve(const char* entry);

// ---- processing wrappers: a new block (the input stays), or null ---------
// Status "Resizing Image".
[[nodiscard]] HDIB ScaleDib(HDIB dib, int32_t width, int32_t height);
// Status "Sharpen Image ".
[[nodiscard]] HDIB Better(HDIB dib, int32_t amount, int32_t left, int32_t top, int32_t right,
                          int32_t bottom, void* control, ILProgress callback);
// Status "Reducing colors ". Null for a null block; a 32-bit block becomes
// DLL96V1::DIB32To24 of it, whatever `bits` asks.
[[nodiscard]] HDIB ReduceDib(HDIB dib, int32_t bits, int32_t dither, void* data,
                             ILProgress callback);

// ---- undo store: four bitmaps, newest first ------------------------------
void PushUndo(const TBitmap& graphic);
[[nodiscard]] bool UndoAvailable();
// Bitmap `index` (0..3) of the store; an empty bitmap when there is none.
[[nodiscard]] TBitmap UndoBitmap(int index);

}  // namespace imaging::DllSP96
