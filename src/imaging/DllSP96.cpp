#include "DllSP96.h"

#include "DLL96V1.h"
#include "MessageHandler.h"

#include <array>
#include <optional>

namespace imaging::DllSP96 {

namespace {

struct State {
    ModuleHandle handle = nullptr;
    QString effectsHelpPath;
    std::optional<std::array<TBitmap, 4>> undo;
    bool undoAvailable = false;
};

State& S()
{
    static State state;
    return state;
}

// The depth of a block, or 0 when it is too small to hold a header.
int Depth(HDIB dib)
{
    if (GlobalSize(dib) < 40)
        return 0;
    const auto* header = static_cast<const uint8_t*>(GlobalLock(dib));
    const int depth = header[14] | header[15] << 8;
    GlobalUnlock(dib);
    return depth;
}

}  // namespace

void Initialize()
{
    S().handle = nullptr;
    S().undo.reset();
    S().undoAvailable = false;
    const QString name = QStringLiteral("effects.hlp");
    const QString found = FileSearch(name, ProgramFolder());
    S().effectsHelpPath = found.isEmpty() || found == name ? ProgramFolder() + QLatin1Char('/') + name
                                                           : found;
}

void Finalize()
{
    FreeModule(S().handle);
    S().undo.reset();
    S().undoAvailable = false;
}

ModuleHandle Handle()
{
    return S().handle;
}

QString EffectsHelpPath()
{
    return S().effectsHelpPath;
}

void* Resolve(const char* entry)
{
    QString directory = DLL96V1::DllDirectory();
    const bool loaded = LoadModule(S().handle, QString::fromLatin1(kLibraryName), directory);
    DLL96V1::SetDllDirectory(directory);
    if (!loaded) {
        ShowMessage(QStringLiteral("Can't load ") + QString::fromLatin1(kLibraryName) +
                    QStringLiteral(". Make sure its located in the application's searchpath."));
        return nullptr;
    }
    return ResolveSymbol(S().handle, entry);
}

HDIB ScaleDib(HDIB dib, int32_t width, int32_t height)
{
    const auto proc = reinterpret_cast<ScaleDib_fn>(Resolve("ScaleDib"));
    if (!proc)
        return nullptr;
    DLL96V1::SetStatusText(QStringLiteral("Resizing Image"));
    return Trapped<HDIB>(S().handle, nullptr, [&] { return proc(dib, width, height); });
}

HDIB Better(HDIB dib, int32_t amount, int32_t left, int32_t top, int32_t right, int32_t bottom,
            void* control, ILProgress callback)
{
    const auto proc = reinterpret_cast<Better_fn>(Resolve("Better"));
    if (!proc)
        return nullptr;
    DLL96V1::SetStatusText(QStringLiteral("Sharpen Image "));
    return Trapped<HDIB>(S().handle, nullptr, [&] {
        return proc(dib, amount, left, top, right, bottom, control, callback);
    });
}

HDIB ReduceDib(HDIB dib, int32_t bits, int32_t dither, void* data, ILProgress callback)
{
    if (!dib)
        return nullptr;
    const auto proc = reinterpret_cast<ReduceDib_fn>(Resolve("ReduceDib"));
    if (!proc)
        return nullptr;
    DLL96V1::SetStatusText(QStringLiteral("Reducing colors "));
    if (Depth(dib) == 32)
        return DLL96V1::DIB32To24(dib);
    return Trapped<HDIB>(S().handle, nullptr, [&] {
        return proc(dib, bits, dither, 0, 0, 0, data, callback);
    });
}

void PushUndo(const TBitmap& graphic)
{
    auto& store = S().undo;
    if (!store)
        store.emplace();
    for (int i = 3; i > 0; --i)
        (*store)[i] = (*store)[i - 1];
    (*store)[0] = graphic;
    S().undoAvailable = true;
}

bool UndoAvailable()
{
    return S().undoAvailable;
}

TBitmap UndoBitmap(int index)
{
    const auto& store = S().undo;
    if (!store || index < 0 || index > 3)
        return {};
    return (*store)[index];
}

}  // namespace imaging::DllSP96
