#include "DLL96V1.h"

#include "EFOpenError.h"
#include "ErrorInvalid.h"
#include "MessageHandler.h"
#include "platform/PrivateProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging::DLL96V1 {

namespace {

struct State {
    ModuleHandle handle = nullptr;
    QString dllDirectory;
    QString statusText;
    int16_t errorNumber = 0;
    QString errorText;
    QList<QRgb> sharedPalette;
    uint16_t reserved = 0;
};

State& S()
{
    static State state;
    return state;
}

// The module reads at most this many characters of a text.
constexpr int kStringBuffer = 256;

QString StringResource(ModuleHandle handle, uint16_t id)
{
    const auto* table = static_cast<const ILStringEntry*>(ResolveSymbol(handle, "ILStringTable"));
    // A table without its end marker must not run us off the module's data.
    for (int i = 0; table && i <= 0xFFFF && table[i].text; ++i) {
        if (table[i].id == id)
            return QString::fromUtf8(table[i].text).left(kStringBuffer - 1);
    }
    return {};
}

void* Resolve(const char* entry)
{
    void* proc = nullptr;
    LoadProc(S().handle, QString::fromLatin1(kLibraryName), entry, proc);
    return proc;
}

// The text of `number` as RecordError records it, from `module`'s table.
void RecordFrom(ModuleHandle module, int16_t number)
{
    S().errorNumber = number;
    S().errorText = number == -1 ? QStringLiteral("Unknown error in Imaging Dll")
                                 : StringResource(module, static_cast<uint16_t>(number));
}

struct CodecRules {
    const char* status = nullptr;  // followed by the file name
    bool readsFile = true;  // the name is an existing file to read
    bool record = true;
    bool zeroSucceeds = false;
    bool unloadOnFailure = false;
};

// A name the module can take: zero-terminated in its 512-byte buffer. A
// longer name is refused rather than cut, which would name another file.
bool CopyName(const QString& name, char (&buffer)[IL_NAME_BUFFER])
{
    const QByteArray encoded = QFile::encodeName(name);
    if (encoded.size() >= IL_NAME_BUFFER || encoded.contains('\0'))
        return false;
    std::memcpy(buffer, encoded.constData(), static_cast<size_t>(encoded.size()));
    buffer[encoded.size()] = '\0';
    return true;
}

// The open error worded as QFile words it.
[[noreturn]] void CannotOpen(const QString& name, const QString& reason)
{
    throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(QDir::toNativeSeparators(name), reason));
}

// Whether `name` is a regular file the module can read; raises EFOpenError
// when it cannot be opened at all. Found out without any call that could
// wait: opening a FIFO for reading waits for a writer, a device may never
// answer. So it is looked at first and opened only without blocking (in case
// the name stands for something else by then). Short files are the module's
// to judge: a 1 × 1 TGA has 21 bytes.
bool RegularFile(const QString& name)
{
    if (name.isEmpty())
        CannotOpen(name, QStringLiteral("No file name specified"));
    const QByteArray path = QFile::encodeName(name);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        CannotOpen(name, qt_error_string(errno));
    if (!S_ISREG(st.st_mode))
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        CannotOpen(name, qt_error_string(errno));
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

template <class Fn, class Call>
bool Codec(const char* entry, const QString& name, const CodecRules& rules, Call&& call)
{
    const auto proc = reinterpret_cast<Fn>(Resolve(entry));
    if (!proc)
        return false;
    // The module this call uses, kept loaded until its failure is recorded
    // from its string table, even if a call started from a progress callback
    // asks for it to be unloaded meanwhile.
    const ModuleHandle module = S().handle;
    int16_t result = IL_ERR_OPEN;
    {
        const ModuleCall inFlight(module);
        // A FIFO, device or folder is what the module cannot open, and it is
        // refused the same way without calling it.
        char buffer[IL_NAME_BUFFER] = {};
        if ((!rules.readsFile || RegularFile(name)) && CopyName(name, buffer)) {
            if (rules.status)
                S().statusText = QString::fromLatin1(rules.status) + name;
            if (!RunTrapped(module, [&] { return call(proc, buffer); }, result))
                return false;
        }
        if (rules.zeroSucceeds ? result >= 0 : result > 0)
            return true;
        if (rules.record)
            RecordFrom(module, result);
    }
    if (rules.unloadOnFailure)
        FreeModule(S().handle);
    return false;
}

HDIB Convert(const char* entry, HDIB dib)
{
    const auto proc = reinterpret_cast<dibconvert_fn>(Resolve(entry));
    if (!proc)
        return nullptr;
    return Trapped<HDIB>(S().handle, nullptr, [&] { return proc(dib); });
}

// Annotation entries are called directly (they raise no codec errors) but
// count as calls in flight all the same.
template <class Fn>
Fn Annotation(const char* entry)
{
    const auto proc = reinterpret_cast<Fn>(Resolve(entry));
    if (!proc)
        throw ErrorInvalid(QStringLiteral("Error. Could not get a procaddress for ") +
                           QString::fromLatin1(entry) + QStringLiteral(". This could be") +
                           QStringLiteral("related to a dll name or version missmatch of ") +
                           QString::fromLatin1(kLibraryName));
    return proc;
}

void* Palette()
{
    return S().sharedPalette.isEmpty() ? nullptr : &S().sharedPalette;
}

}  // namespace

void Initialize()
{
    State& s = S();
    s.errorNumber = 0;
    s.errorText.clear();
    s.sharedPalette.clear();
    s.handle = nullptr;
    s.dllDirectory.clear();
    const QString folder = WindowsFolder();
    QDir().mkpath(folder);
    const QString program =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).completeBaseName().toLower();
    // Only a scanning module reads this; a refused write costs nothing else.
    (void)platform::WritePrivateProfileString(QStringLiteral("Imaging Twain"),
                                              QStringLiteral("App Name"), program,
                                              folder + QStringLiteral("/iltwain.ini"));
}

void Finalize()
{
    FreeModule(S().handle);
    S().errorText.clear();
    S().statusText.clear();
}

QString DllDirectory()
{
    return S().dllDirectory;
}

void SetDllDirectory(const QString& folder)
{
    S().dllDirectory = folder;
}

ModuleHandle Handle()
{
    return S().handle;
}

QString StatusText()
{
    return S().statusText;
}

void SetStatusText(const QString& text)
{
    S().statusText = text;
}

int16_t ErrorNumber()
{
    return S().errorNumber;
}

QString ErrorText()
{
    return S().errorText;
}

void SetErrorText(const QString& text)
{
    S().errorText = text;
}

void RecordError(int16_t number)
{
    RecordFrom(S().handle, number);
}

const QList<QRgb>& SharedPalette()
{
    return S().sharedPalette;
}

void SetSharedPalette(const QList<QRgb>& palette)
{
    S().sharedPalette = palette;
}

bool LoadProc(ModuleHandle& handle, const QString& library, const char* entry, void*& proc)
{
    proc = nullptr;
    if (!LoadModule(handle, library, S().dllDirectory))
        throw ErrorInvalid(QStringLiteral("Can't load ") + library +
                           QStringLiteral(". Make sure its located in the application's searchpath."));
    if (!library.contains(QLatin1String("CRDE"))) {
        ShowMessage(QStringLiteral("Wrong dll Name in DLL96V1"));
        FreeModule(handle);
        return false;
    }
    proc = ResolveSymbol(handle, entry);
    return proc != nullptr;
}

// ---- codec wrappers ----------------------------------------------------------

bool fileinfo(const QString& name, QString& formatName, int32_t& width, int32_t& height,
              int16_t& bits, int16_t& figure1, int16_t& figure2, QString& compressionName)
{
    char format[IL_FORMAT_NAME_SIZE] = {};
    char compression[IL_COMPRESSION_NAME_SIZE] = {};
    const bool ok = Codec<fileinfo_fn>("fileinfo", name, {}, [&](fileinfo_fn fn, const char* file) {
        return fn(file, format, &width, &height, &bits, &figure1, &figure2, compression,
                  S().reserved);
    });
    format[IL_FORMAT_NAME_SIZE - 1] = '\0';
    compression[IL_COMPRESSION_NAME_SIZE - 1] = '\0';
    formatName = QString::fromLatin1(format);
    compressionName = QString::fromLatin1(compression);
    return ok;
}

bool getinfo(const QString& name, int16_t page, int32_t& width, int32_t& height, int16_t& bits,
             int16_t& pageCount, QString& compressionName)
{
    char compression[IL_COMPRESSION_NAME_SIZE] = {};
    CodecRules rules;
    rules.record = false;
    rules.zeroSucceeds = true;
    const bool ok = Codec<getinfo_fn>("getinfo", name, rules, [&](getinfo_fn fn, const char* file) {
        return fn(file, page, &width, &height, &bits, &pageCount, compression, S().reserved);
    });
    compression[IL_COMPRESSION_NAME_SIZE - 1] = '\0';
    compressionName = QString::fromLatin1(compression);
    return ok;
}

bool getdxfinfo(const QString& name, int32_t& width, int32_t& height, int16_t& bits)
{
    CodecRules rules;
    rules.record = false;
    rules.zeroSucceeds = true;
    return Codec<getdxfinfo_fn>("getdxfinfo", name, rules, [&](getdxfinfo_fn fn, const char* file) {
        return fn(file, &width, &height, &bits, S().reserved);
    });
}

namespace {

CodecRules Reading()
{
    CodecRules rules;
    rules.status = "Reading ";
    return rules;
}

bool ReadWithPalette(const char* entry, const QString& name, int16_t bits, int16_t dither,
                     HDIB& dib, void* control, ILProgress callback)
{
    dib = nullptr;
    return Codec<rdpalettefiledib_fn>(entry, name, Reading(), [&](rdpalettefiledib_fn fn, const char* file) {
        return fn(file, bits, dither, &dib, Palette(), control, callback, S().reserved);
    });
}

bool Read(const char* entry, const QString& name, int16_t bits, int16_t dither, HDIB& dib,
          void* control, ILProgress callback)
{
    dib = nullptr;
    return Codec<readfiledib_fn>(entry, name, Reading(), [&](readfiledib_fn fn, const char* file) {
        return fn(file, bits, dither, &dib, control, callback, S().reserved);
    });
}

bool ReadPage(const char* entry, const QString& name, int16_t bits, int16_t dither, int16_t page,
              HDIB& dib, void* control, ILProgress callback)
{
    dib = nullptr;
    return Codec<readpagefiledib_fn>(entry, name, Reading(), [&](readpagefiledib_fn fn, const char* file) {
        return fn(file, bits, dither, page, &dib, control, callback, S().reserved);
    });
}

}  // namespace

bool rdjpgfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback)
{
    dib = nullptr;
    CodecRules rules = Reading();
    rules.unloadOnFailure = true;
    return Codec<rdjpgfiledib_fn>("rdjpgfiledib", name, rules, [&](rdjpgfiledib_fn fn, const char* file) {
        return fn(file, bits, 1, dither, &dib, Palette(), control, callback, S().reserved);
    });
}

bool rdbmpfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback)
{
    return ReadWithPalette("rdbmpfiledib", name, bits, dither, dib, control, callback);
}

bool rdpngfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback)
{
    return ReadWithPalette("rdpngfiledib", name, bits, dither, dib, control, callback);
}

bool rdgiffiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback)
{
    return ReadWithPalette("rdgiffiledib", name, bits, dither, dib, control, callback);
}

bool rdpcxfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                  ILProgress callback)
{
    return ReadWithPalette("rdpcxfiledib", name, bits, dither, dib, control, callback);
}

bool rdheiffiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                   ILProgress callback)
{
    return ReadWithPalette("rdheiffiledib", name, bits, dither, dib, control, callback);
}

bool rdwebpfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                   ILProgress callback)
{
    return ReadWithPalette("rdwebpfiledib", name, bits, dither, dib, control, callback);
}

bool readtgafiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                    ILProgress callback)
{
    return Read("readtgafiledib", name, bits, dither, dib, control, callback);
}

bool readepsfiledib(const QString& name, int16_t bits, int16_t dither, HDIB& dib, void* control,
                    ILProgress callback)
{
    return Read("readepsfiledib", name, bits, dither, dib, control, callback);
}

bool readtiffiledib(const QString& name, int16_t bits, int16_t dither, int16_t page, HDIB& dib,
                    void* control, ILProgress callback)
{
    return ReadPage("readtiffiledib", name, bits, dither, page, dib, control, callback);
}

bool readpcdfiledib(const QString& name, int16_t bits, int16_t dither, int16_t mode, HDIB& dib,
                    void* control, ILProgress callback)
{
    return ReadPage("readpcdfiledib", name, bits, dither, mode, dib, control, callback);
}

bool readdxftoddb(const QString& name, int16_t bits, HDIB& dib, void* control, ILProgress callback)
{
    dib = nullptr;
    return Codec<readdxftoddb_fn>("readdxftoddb", name, Reading(), [&](readdxftoddb_fn fn, const char* file) {
        return fn(file, bits, &dib, control, callback, S().reserved);
    });
}

bool wrjpgfiledib(const QString& name, int16_t quality, int16_t smoothing, int16_t colour,
                  HDIB dib, void* control, ILProgress callback)
{
    CodecRules rules;
    rules.status = "Writing ";
    rules.readsFile = false;
    rules.unloadOnFailure = true;
    return Codec<wrjpgfiledib_fn>("wrjpgfiledib", name, rules, [&](wrjpgfiledib_fn fn, const char* file) {
        return fn(file, quality, smoothing, colour, dib, control, callback, S().reserved);
    });
}

// ---- processing wrappers -----------------------------------------------------

HDIB DIB1to4(HDIB dib) { return Convert("DIB1to4", dib); }
HDIB DIB1To8(HDIB dib) { return Convert("DIB1To8", dib); }
HDIB DIB1To24(HDIB dib) { return Convert("DIB1To24", dib); }
HDIB DIB4To8(HDIB dib) { return Convert("DIB4To8", dib); }
HDIB DIB4To24(HDIB dib) { return Convert("DIB4To24", dib); }
HDIB DIB16To24(HDIB dib) { return Convert("DIB16To24", dib); }
HDIB DIB32To24(HDIB dib) { return Convert("DIB32To24", dib); }
HDIB DibtoDdb(HDIB dib) { return Convert("DibtoDdb", dib); }

// ---- annotation wrappers -----------------------------------------------------

void InitAnnotation(void* control, void* window, void* control2, ILAnnotationCallback c1,
                    ILAnnotationCallback c2, ILAnnotationCallback c3, ILAnnotationCallback c4,
                    ILAnnotationCallback c5, const QString& settingsPath)
{
    const auto proc = Annotation<InitAnnotation_fn>("InitAnnotation");
    const QByteArray path = QFile::encodeName(settingsPath);
    const ModuleCall inFlight(S().handle);
    proc(control, window, control2, c1, c2, c3, c4, c5, path.constData());
}

void DrawAnnotation(void* control, double scale, int32_t originX, int32_t originY,
                    int32_t offsetX, int32_t offsetY, int32_t barWidth)
{
    const auto proc = Annotation<DrawAnnotation_fn>("DrawAnnotation");
    const ModuleCall inFlight(S().handle);
    proc(control, scale, originX, originY, offsetX, offsetY, barWidth, 0);
}

void ClearAnnotation(void* control)
{
    const auto proc = Annotation<annotation_fn>("ClearAnnotation");
    const ModuleCall inFlight(S().handle);
    proc(control);
}

void DestroyAnnotation(void* control)
{
    const auto proc = Annotation<annotation_fn>("DestroyAnnotation");
    const ModuleCall inFlight(S().handle);
    proc(control);
}

}  // namespace imaging::DLL96V1
