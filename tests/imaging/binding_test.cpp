#include "BoolRows.h"
#include "ImagingModules.h"
#include "TestBlocks.h"
#include "TestFiles.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/EFOpenError.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/MessageHandler.h"
#include "imaging/ModuleLoader.h"
#include "platform/PrivateProfile.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace imaging;
using namespace testblocks;

namespace {

const QString kModuleDir = QStringLiteral(SNIMKOREZ_MODULE_DIR);
const QString kFakeDir = QStringLiteral(SNIMKOREZ_FAKE_MODULE_DIR);
const QString kCantLoad = QStringLiteral(". Make sure its located in the application's searchpath.");

using testfiles::WriteAll;

// A function the fake module exports for the tests.
template <class Fn>
Fn Fake(ModuleHandle module, const char* name)
{
    return reinterpret_cast<Fn>(dlsym(module, name));
}

HGLOBAL OneBitBlock()
{
    return Make(8, 1, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, Stored({Bytes({0xA5})}, 4));
}

// ---- pictures generated for the reading tests ---------------------------
// Each is big enough (256 rows) that every decoder reports progress before
// it is done.

constexpr int kWide = 64;
constexpr int kTall = 256;
const QRgb kColour = qRgb(0x20, 0x80, 0xC0);

void Put16(QByteArray& bytes, int value)
{
    bytes.append(static_cast<char>(value & 0xFF));
    bytes.append(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(QByteArray& bytes, uint32_t value)
{
    Put16(bytes, static_cast<int>(value & 0xFFFF));
    Put16(bytes, static_cast<int>(value >> 16));
}

// Blue, green, red of kColour, as every row of the 24-bit pictures holds it.
QByteArray BgrRow(int width)
{
    QByteArray row;
    for (int x = 0; x < width; ++x)
        row += Bytes({qBlue(kColour), qGreen(kColour), qRed(kColour)});
    return row;
}

QByteArray Bmp24()
{
    const int stride = (kWide * 3 + 3) & ~3;
    QByteArray bytes("BM");
    Put32(bytes, 54 + stride * kTall);
    Put32(bytes, 0);
    Put32(bytes, 54);
    Put32(bytes, 40);
    Put32(bytes, kWide);
    Put32(bytes, kTall);
    Put16(bytes, 1);
    Put16(bytes, 24);
    Put32(bytes, 0);
    Put32(bytes, stride * kTall);
    Put32(bytes, 2835);
    Put32(bytes, 2835);
    Put32(bytes, 0);
    Put32(bytes, 0);
    QByteArray row = BgrRow(kWide);
    row.resize(stride, '\0');
    for (int y = 0; y < kTall; ++y)
        bytes += row;
    return bytes;
}

QByteArray TgaHeader(int width, int height)
{
    QByteArray bytes = Bytes({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Put16(bytes, width);
    Put16(bytes, height);
    bytes += Bytes({24, 0});
    return bytes;
}

QByteArray Tga24()
{
    QByteArray bytes = TgaHeader(kWide, kTall);
    for (int y = 0; y < kTall; ++y)
        bytes += BgrRow(kWide);
    return bytes;
}

// 8 bits, one plane, every byte stored as itself (all below 0xC0), and the
// VGA table at the end.
QByteArray Pcx8()
{
    QByteArray bytes = Bytes({0x0A, 5, 1, 8});
    Put16(bytes, 0);
    Put16(bytes, 0);
    Put16(bytes, kWide - 1);
    Put16(bytes, kTall - 1);
    Put16(bytes, 72);
    Put16(bytes, 72);
    bytes += QByteArray(48, '\0');
    bytes += Bytes({0, 1});
    Put16(bytes, kWide);
    Put16(bytes, 1);
    bytes.resize(128, '\0');
    for (int y = 0; y < kTall; ++y)
        for (int x = 0; x < kWide; ++x)
            bytes.append(static_cast<char>((x + y) % 0xC0));
    bytes.append('\x0C');
    for (int i = 0; i < 256; ++i)
        bytes += Bytes({i, i, i});
    return bytes;
}

// LZW without compression: nine-bit codes, a clear code before every 254
// pixels, so that the code size never grows.
QByteArray Gif8()
{
    QByteArray bytes("GIF89a");
    Put16(bytes, kWide);
    Put16(bytes, kTall);
    bytes += Bytes({0xF7, 0, 0});
    for (int i = 0; i < 256; ++i)
        bytes += Bytes({i, i, i});
    bytes += Bytes({0x2C});
    Put16(bytes, 0);
    Put16(bytes, 0);
    Put16(bytes, kWide);
    Put16(bytes, kTall);
    bytes += Bytes({0, 8});
    QByteArray stream;
    uint32_t bits = 0;
    int held = 0;
    const auto code = [&](int value) {
        bits |= static_cast<uint32_t>(value) << held;
        held += 9;
        while (held >= 8) {
            stream.append(static_cast<char>(bits & 0xFF));
            bits >>= 8;
            held -= 8;
        }
    };
    int sinceClear = 254;
    for (int i = 0; i < kWide * kTall; ++i) {
        if (sinceClear == 254) {
            code(256);
            sinceClear = 0;
        }
        code(i % 256);
        ++sinceClear;
    }
    code(257);
    if (held > 0)
        stream.append(static_cast<char>(bits & 0xFF));
    for (qsizetype at = 0; at < stream.size(); at += 255) {
        const QByteArray block = stream.mid(at, 255);
        bytes.append(static_cast<char>(block.size()));
        bytes += block;
    }
    bytes += Bytes({0, 0x3B});
    return bytes;
}

// Little-endian, uncompressed RGB in strips of 16 rows.
QByteArray Tiff24()
{
    constexpr int kRowsPerStrip = 16;
    constexpr int kStrips = kTall / kRowsPerStrip;
    constexpr int kEntries = 10;
    const uint32_t bitsAt = 8 + 2 + 12 * kEntries + 4;
    const uint32_t offsetsAt = bitsAt + 6;
    const uint32_t countsAt = offsetsAt + 4 * kStrips;
    const uint32_t pixelsAt = countsAt + 4 * kStrips;
    const uint32_t stripBytes = kWide * 3 * kRowsPerStrip;
    QByteArray bytes("II*\0", 4);
    Put32(bytes, 8);
    Put16(bytes, kEntries);
    const auto entry = [&](int tag, int type, uint32_t count, uint32_t value) {
        Put16(bytes, tag);
        Put16(bytes, type);
        Put32(bytes, count);
        Put32(bytes, value);
    };
    entry(256, 3, 1, kWide);
    entry(257, 3, 1, kTall);
    entry(258, 3, 3, bitsAt);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    entry(273, 4, kStrips, offsetsAt);
    entry(277, 3, 1, 3);
    entry(278, 4, 1, kRowsPerStrip);
    entry(279, 4, kStrips, countsAt);
    entry(284, 3, 1, 1);
    Put32(bytes, 0);
    for (int i = 0; i < 3; ++i)
        Put16(bytes, 8);
    for (int i = 0; i < kStrips; ++i)
        Put32(bytes, pixelsAt + i * stripBytes);
    for (int i = 0; i < kStrips; ++i)
        Put32(bytes, stripBytes);
    for (int i = 0; i < kWide * kTall; ++i)
        bytes += Bytes({qRed(kColour), qGreen(kColour), qBlue(kColour)});
    return bytes;
}

// Noise, so that PNG and JPEG files are not a few hundred bytes.
QByteArray NoiseRows()
{
    QByteArray pixels(kWide * 3 * kTall, '\0');
    uint32_t state = 12345;
    for (char& byte : pixels) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return pixels;
}

QByteArray Png24()
{
    const QByteArray pixels = NoiseRows();
    QImage image(reinterpret_cast<const uchar*>(pixels.constData()), kWide, kTall, kWide * 3,
                 QImage::Format_RGB888);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Through the codec module's own writer.
QByteArray Jpeg24(const QString& folder)
{
    HGLOBAL block = Make(kWide, kTall, 24, {}, NoiseRows());
    const QString path = folder + QStringLiteral("/made.jpg");
    const bool written = DLL96V1::wrjpgfiledib(path, 90, 0, 24, block, nullptr, nullptr);
    FreeDib(block);
    return written ? testfiles::ReadAll(path) : QByteArray();
}

// Reads `path` by the binding's reader for `format`.
bool ReadAs(const QString& format, const QString& path, HDIB& dib, void* control, ILProgress callback)
{
    if (format == QLatin1String("BMP"))
        return DLL96V1::rdbmpfiledib(path, 24, 0, dib, control, callback);
    if (format == QLatin1String("PNG"))
        return DLL96V1::rdpngfiledib(path, 24, 0, dib, control, callback);
    if (format == QLatin1String("GIF"))
        return DLL96V1::rdgiffiledib(path, 24, 0, dib, control, callback);
    if (format == QLatin1String("TIFF"))
        return DLL96V1::readtiffiledib(path, 24, 0, 0, dib, control, callback);
    if (format == QLatin1String("TGA"))
        return DLL96V1::readtgafiledib(path, 24, 0, dib, control, callback);
    if (format == QLatin1String("PCX"))
        return DLL96V1::rdpcxfiledib(path, 24, 0, dib, control, callback);
    return DLL96V1::rdjpgfiledib(path, 24, 0, dib, control, callback);
}

// Progress of a reading: when it was first told, and what happens then.
struct Reading {
    int firstPercent = -1;
    int calls = 0;
    std::function<void()> onFirst;
};

int OnProgress(int percent, void* control)
{
    auto* reading = static_cast<Reading*>(control);
    if (reading->calls++ == 0) {
        reading->firstPercent = percent;
        if (reading->onFirst)
            reading->onFirst();
    }
    return 1;
}

// Bytes this process has read with read and pread so far (rchar of
// /proc/self/io), or -1 when the kernel does not count them.
qint64 BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// The colour of the top left pixel of a 24-bit block.
QRgb TopLeft(HGLOBAL block)
{
    const BITMAPINFOHEADER header = HeaderOf(block);
    const QByteArray pixels = PixelsOf(block);
    const int stride = static_cast<int>(DibStride(header.biWidth, 24));
    const qsizetype top = header.biHeight > 0 ? qsizetype{stride} * (header.biHeight - 1) : 0;
    if (header.biBitCount != 24 || pixels.size() < top + 3)
        return 0;
    return qRgb(static_cast<uint8_t>(pixels[top + 2]), static_cast<uint8_t>(pixels[top + 1]),
                static_cast<uint8_t>(pixels[top]));
}

// Ends a test that waits on a FIFO instead of hanging it: after `patience`
// it notes that it fired and keeps opening the FIFO for writing (and closing
// it), which lets a blocked open for reading return and its reads end; a
// process still stuck after half a minute is ended.
class FifoWatchdog {
public:
    FifoWatchdog(const QString& fifo, std::chrono::milliseconds patience)
        : m_fifo(QFile::encodeName(fifo)), m_thread([this, patience] { Watch(patience); })
    {
    }
    ~FifoWatchdog()
    {
        {
            const std::lock_guard lock(m_lock);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    FifoWatchdog(const FifoWatchdog&) = delete;
    FifoWatchdog& operator=(const FifoWatchdog&) = delete;

    [[nodiscard]] bool Fired() const { return m_fired; }

private:
    void Watch(std::chrono::milliseconds patience)
    {
        std::unique_lock lock(m_lock);
        if (m_wake.wait_for(lock, patience, [this] { return m_done; }))
            return;
        m_fired = true;
        for (int round = 0; round < 300; ++round) {
            const int fd = ::open(m_fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
            if (m_wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_done; }))
                return;
        }
        std::fputs("binding_test: still blocked on a FIFO after 30 s\n", stderr);
        std::_Exit(3);
    }

    QByteArray m_fifo;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

struct Nested {
    QString garbage;
    QString reread;  // read again from inside, after the failure, when not empty
    ModuleHandle module = nullptr;
    bool innerFailed = false;
    bool loadedAfterFailure = false;
    bool rereadOk = false;
    int inFlight = 0;
    int calls = 0;
};

bool Loaded(const QString& path)
{
    void* module = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (module)
        dlclose(module);
    return module != nullptr;
}

// From inside an outer read: a failing JPEG read (which asks for the module
// to be unloaded), and perhaps another read.
int NestedRead(int, void* control)
{
    auto* nested = static_cast<Nested*>(control);
    if (nested->calls++ > 0)
        return 1;
    nested->module = DLL96V1::Handle();
    HDIB dib = nullptr;
    nested->innerFailed = !DLL96V1::rdjpgfiledib(nested->garbage, 24, 0, dib, nullptr, nullptr) && !dib;
    nested->inFlight = CallsInFlight(nested->module);
    nested->loadedAfterFailure = Loaded(kModuleDir + QStringLiteral("/CRDE2001.so"));
    if (!nested->reread.isEmpty()) {
        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        nested->rereadOk = DLL96V1::fileinfo(nested->reread, format, width, height, bits, figure1,
                                             figure2, compression) &&
                           width == kWide && height == kTall;
    }
    return 1;
}

}  // namespace

class BindingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    QStringList m_messages;
    QTemporaryDir m_temp;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_temp.isValid());
        SetMessageHandler([this](const QString& text) { m_messages << text; });
    }

    // Each test starts the binding afresh.
    void init()
    {
        m_modules = std::make_unique<testfiles::ImagingModules>(kModuleDir);
        m_messages.clear();
    }

    void cleanup() { m_modules.reset(); }

    void startUpRecordsProgramName()
    {
        const QString ini = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                            QStringLiteral("/snimkorez/iltwain.ini");
        QCOMPARE(platform::GetPrivateProfileString(QStringLiteral("Imaging Twain"),
                                                   QStringLiteral("App Name"), QString(), ini),
                 QStringLiteral("binding_test"));
        QCOMPARE(DllSP96::EffectsHelpPath(), ProgramFolder() + QStringLiteral("/effects.hlp"));
        QVERIFY(DLL96V1::DllDirectory() == kModuleDir);
        DLL96V1::Initialize();
        QVERIFY(DLL96V1::DllDirectory().isEmpty());
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{0});
    }

    // Each module is loaded once, from the DLL directory, which gains its separator.
    void loadsOnceFromDllDirectory()
    {
        QVERIFY(!kModuleDir.endsWith(QLatin1Char('/')));
        HGLOBAL block = OneBitBlock();
        const int before = LoadCount();
        HGLOBAL first = DLL96V1::DIB1To8(block);
        QVERIFY(first);
        QCOMPARE(DLL96V1::DllDirectory(), kModuleDir + QLatin1Char('/'));
        QCOMPARE(LoadCount(), before + 1);
        Dl_info info{};
        QVERIFY(dladdr(DLL96V1::Handle() ? dlsym(DLL96V1::Handle(), "DIB1To8") : nullptr, &info));
        QCOMPARE(QString::fromLocal8Bit(info.dli_fname), kModuleDir + QStringLiteral("/CRDE2001.so"));
        HGLOBAL second = DLL96V1::DIB1To8(block);
        QVERIFY(second);
        QCOMPARE(LoadCount(), before + 1);

        QVERIFY(DllSP96::Resolve("ScaleDib"));
        QVERIFY(DllSP96::Resolve("ReduceDib"));
        QCOMPARE(LoadCount(), before + 2);
        QVERIFY(m_messages.isEmpty());
        for (HGLOBAL h : {block, first, second})
            FreeDib(h);
    }

    // The TIFF and HEIF readers' module, with libtiff and libheif, loads
    // with the first TIFF rather than with the codec module, and goes when
    // it goes. Beside a codec module without it, a TIFF is a format the
    // module does not read, and the rest reads as ever.
    void tiffAndHeifLoadOnFirstUse()
    {
        const QString companion = kModuleDir + QStringLiteral("/CRDE2001-tiff-heif.so");
        const QString bmp = m_temp.filePath(QStringLiteral("first.bmp"));
        const QString tiff = m_temp.filePath(QStringLiteral("first.tif"));
        WriteAll(bmp, Bmp24());
        WriteAll(tiff, Tiff24());
        HDIB dib = nullptr;
        QVERIFY(DLL96V1::rdbmpfiledib(bmp, 24, 0, dib, nullptr, nullptr));
        FreeDib(dib);
        QVERIFY(DLL96V1::Handle());
        for (const QString& library : {companion, QStringLiteral("libtiff.so.6"), QStringLiteral("libheif.so.1")})
            QVERIFY2(!Loaded(library), qPrintable(library));
        dib = nullptr;
        QVERIFY(DLL96V1::readtiffiledib(tiff, 24, 0, 0, dib, nullptr, nullptr));
        QCOMPARE(HeaderOf(dib).biWidth, kWide);
        QCOMPARE(TopLeft(dib), kColour);
        FreeDib(dib);
        QVERIFY(Loaded(companion));
        QVERIFY(Loaded(QStringLiteral("libtiff.so.6")));
        DLL96V1::Finalize();
        QVERIFY(!Loaded(companion));

        QTemporaryDir alone;
        QVERIFY(QFile::copy(kModuleDir + QStringLiteral("/CRDE2001.so"), alone.filePath(QStringLiteral("CRDE2001.so"))));
        DLL96V1::SetDllDirectory(alone.path());
        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        QVERIFY(!DLL96V1::fileinfo(tiff, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_UNSUPPORTED});
        QVERIFY(DLL96V1::fileinfo(bmp, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(format, QStringLiteral("BMP"));
        DLL96V1::Finalize();
    }

    void modulesThatCannotBeFound()
    {
        QTemporaryDir empty;
        DLL96V1::SetDllDirectory(empty.path());
        HGLOBAL block = OneBitBlock();
        try {
            (void)DLL96V1::DIB1To8(block);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(), QStringLiteral("Can't load CRDE2001.so") + kCantLoad);
        }
        QVERIFY(!DllSP96::ScaleDib(block, 2, 2));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Can't load ISP2000.so") + kCantLoad});
        FreeDib(block);
    }

    // Entries a loaded module lacks: silence for processing and codec
    // wrappers, an error for the annotation layer.
    void missingEntries()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        QVERIFY(!DLL96V1::DIB4To8(block));
        QVERIFY(!DllSP96::Better(block, 10, 0, 0, 1, 1, nullptr, nullptr));
        const QString file = m_temp.filePath(QStringLiteral("picture.png"));
        WriteAll(file, QByteArray(64, 'x'));
        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        DLL96V1::RecordError(-1);
        QVERIFY(!DLL96V1::fileinfo(file, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{-1});
        QVERIFY(m_messages.isEmpty());
        try {
            DLL96V1::ClearAnnotation(nullptr);
            QFAIL("no error raised");
        } catch (const ErrorInvalid& error) {
            QCOMPARE(error.Message(),
                     QStringLiteral("Error. Could not get a procaddress for ClearAnnotation. This could "
                                    "berelated to a dll name or version missmatch of CRDE2001.so"));
        }
        FreeDib(block);
    }

    void annotationEntriesOfTheRealModule()
    {
        int control = 0;
        DLL96V1::InitAnnotation(&control, nullptr, &control, nullptr, nullptr, nullptr, nullptr,
                                nullptr, m_temp.path());
        DLL96V1::DrawAnnotation(&control, 1.0, 0, 0, 0, 0, 16);
        DLL96V1::ClearAnnotation(&control);
        DLL96V1::DestroyAnnotation(&control);
        QVERIFY(DLL96V1::Handle());
    }

    // A short file is the module's to judge like any other: a 1 × 1 TGA (21
    // bytes) is read, a short file of rubbish gets the module's own error,
    // not the text of an earlier failure or none at all.
    void shortFilesReachTheModule()
    {
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{0});  // a fresh start
        const QString tga = m_temp.filePath(QStringLiteral("dot.tga"));
        const QByteArray dot = TgaHeader(1, 1) + Bytes({0x30, 0x60, 0x90});
        QCOMPARE(dot.size(), 21);
        WriteAll(tga, dot);
        HDIB dib = nullptr;
        QVERIFY(DLL96V1::readtgafiledib(tga, 24, 0, dib, nullptr, nullptr));
        QVERIFY(dib);
        QCOMPARE(HeaderOf(dib).biWidth, 1);
        QCOMPARE(HeaderOf(dib).biHeight, 1);
        QCOMPARE(TopLeft(dib), qRgb(0x90, 0x60, 0x30));
        FreeDib(dib);
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Reading ") + tga);

        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        QVERIFY(DLL96V1::fileinfo(tga, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(format, QStringLiteral("TGA"));
        QCOMPARE(width, 1);
        QCOMPARE(height, 1);
        QCOMPARE(bits, int16_t{24});

        // After another failure, the short file's own error replaces it.
        DLL96V1::RecordError(IL_ERR_PAGE);
        const QString rubbish = m_temp.filePath(QStringLiteral("short.bmp"));
        WriteAll(rubbish, QByteArray(29, 'B'));
        QVERIFY(!DLL96V1::rdbmpfiledib(rubbish, 24, 0, dib, nullptr, nullptr));
        QVERIFY(!dib);
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_FORMAT});
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("Формат файла не распознан"));
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Reading ") + rubbish);
        const QString empty = m_temp.filePath(QStringLiteral("empty.png"));
        WriteAll(empty, QByteArray());
        QVERIFY(!DLL96V1::fileinfo(empty, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_FORMAT});

        // A file that is not there still raises the open error, worded as before.
        const QString none = m_temp.filePath(QStringLiteral("none.bmp"));
        try {
            (void)DLL96V1::rdbmpfiledib(none, 24, 0, dib, nullptr, nullptr);
            QFAIL("no error raised");
        } catch (const EFOpenError& error) {
            QCOMPARE(error.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(none));
        }
        QVERIFY_THROWS_EXCEPTION(EFOpenError, DLL96V1::fileinfo(QString(), format, width, height, bits, figure1,
                                                                figure2, compression));
    }

    // A FIFO (or a device, or a folder) chosen as the picture: refused at
    // once as a file that cannot be opened, by the binding and by the module
    // itself, never waiting for a writer.
    void nonRegularFilesAreRefusedAtOnce()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString fifo = folder.filePath(QStringLiteral("picture.jpg"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString names[] = {fifo, folder.path(), QStringLiteral("/dev/null")};
        const FifoWatchdog watchdog(fifo, std::chrono::milliseconds(2000));
        QElapsedTimer timer;
        timer.start();
        for (const QString& name : names) {
            QString format, compression;
            int32_t width = 0, height = 0;
            int16_t bits = 0, figure1 = 0, figure2 = 0;
            DLL96V1::RecordError(-1);
            QVERIFY2(!DLL96V1::fileinfo(name, format, width, height, bits, figure1, figure2, compression),
                     qPrintable(name));
            QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
            QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("Не удалось открыть файл изображения"));
            for (const char* reader : {"JPEG", "BMP", "TIFF"}) {
                HDIB dib = nullptr;
                DLL96V1::RecordError(-1);
                QVERIFY(!ReadAs(QString::fromLatin1(reader), name, dib, nullptr, nullptr));
                QVERIFY(!dib);
                QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
            }
            QVERIFY(!DLL96V1::getinfo(name, 0, width, height, bits, figure1, compression));

            // The module's own entries, as snimkorez-reduce calls them.
            HGLOBAL block = OneBitBlock();
            FreeDib(DLL96V1::DIB1To8(block));  // loads the module
            FreeDib(block);
            const QByteArray path = QFile::encodeName(name);
            const auto info = Fake<fileinfo_fn>(DLL96V1::Handle(), "fileinfo");
            const auto page = Fake<getinfo_fn>(DLL96V1::Handle(), "getinfo");
            const auto bmp = Fake<rdpalettefiledib_fn>(DLL96V1::Handle(), "rdbmpfiledib");
            const auto jpeg = Fake<rdjpgfiledibatleast_fn>(DLL96V1::Handle(), "rdjpgfiledibatleast");
            QVERIFY(info && page && bmp && jpeg);
            char formatName[IL_FORMAT_NAME_SIZE] = {};
            char compressionName[IL_COMPRESSION_NAME_SIZE] = {};
            QCOMPARE(info(path.constData(), formatName, &width, &height, &bits, &figure1, &figure2,
                          compressionName, 0),
                     int16_t{IL_ERR_OPEN});
            QCOMPARE(page(path.constData(), 0, &width, &height, &bits, &figure1, compressionName, 0),
                     int16_t{IL_ERR_OPEN});
            HDIB dib = nullptr;
            QCOMPARE(bmp(path.constData(), 24, 0, &dib, nullptr, nullptr, nullptr, 0), int16_t{IL_ERR_OPEN});
            QCOMPARE(jpeg(path.constData(), 10, 10, &dib, nullptr, nullptr, 0), int16_t{IL_ERR_OPEN});
            QVERIFY(!dib);
        }
        QVERIFY2(!watchdog.Fired(), "a call waited on the FIFO");
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }

    // A file shortened while it is read (another program rewrites it, a USB
    // stick is pulled out): the reading fails, the process lives.
    void fileShortenedWhileRead_data()
    {
        QTest::addColumn<QString>("format");
        for (const char* format : {"BMP", "PNG", "GIF", "TIFF", "TGA", "PCX", "JPEG"})
            QTest::newRow(format) << QString::fromLatin1(format);
    }

    void fileShortenedWhileRead()
    {
        QFETCH(QString, format);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QByteArray bytes;
        if (format == QLatin1String("BMP"))
            bytes = Bmp24();
        else if (format == QLatin1String("PNG"))
            bytes = Png24();
        else if (format == QLatin1String("GIF"))
            bytes = Gif8();
        else if (format == QLatin1String("TIFF"))
            bytes = Tiff24();
        else if (format == QLatin1String("TGA"))
            bytes = Tga24();
        else if (format == QLatin1String("PCX"))
            bytes = Pcx8();
        else
            bytes = Jpeg24(folder.path());
        QVERIFY(bytes.size() > 4096);
        const QString path = folder.filePath(QStringLiteral("picture"));
        WriteAll(path, bytes);

        // Whole, it reads, and tells progress before the end.
        Reading whole;
        HDIB dib = nullptr;
        QVERIFY(ReadAs(format, path, dib, &whole, OnProgress));
        QVERIFY(dib);
        QCOMPARE(HeaderOf(dib).biWidth, kWide);
        QCOMPARE(HeaderOf(dib).biHeight, kTall);
        FreeDib(dib);
        QVERIFY(whole.firstPercent >= 0 && whole.firstPercent < 100);

        // Shortened to nothing at the first progress report.
        const QByteArray name = QFile::encodeName(path);
        Reading shortened;
        shortened.onFirst = [&name] { QCOMPARE(::truncate(name.constData(), 0), 0); };
        DLL96V1::RecordError(-1);
        QVERIFY(!ReadAs(format, path, dib, &shortened, OnProgress));
        QVERIFY(!dib);
        QVERIFY(shortened.firstPercent >= 0 && shortened.firstPercent < 100);
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
        QVERIFY(!DLL96V1::ErrorText().isEmpty());

        // Rewritten to other bytes of the same length at the first report.
        WriteAll(path, bytes);
        Reading rewritten;
        rewritten.onFirst = [&path, &bytes] {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QCOMPARE(file.write(QByteArray(bytes.size() / 2, '\x55')), bytes.size() / 2);
        };
        QVERIFY(!ReadAs(format, path, dib, &rewritten, OnProgress));
        QVERIFY(!dib);
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
    }

    // Header queries on a file far larger than its header.
    void fileInformationOfALargeFile()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        // A JPEG with 300 kB of APP segments before its frame header, so the
        // first bytes read are not enough.
        QByteArray jpeg = Jpeg24(folder.path());
        QVERIFY(jpeg.startsWith("\xFF\xD8"));
        QByteArray segments;
        for (int i = 0; i < 5; ++i) {
            segments += Bytes({0xFF, 0xE9, 0xFF, 0xFF});
            segments += QByteArray(0xFFFF - 2, 'x');
        }
        jpeg.insert(2, segments);
        // A TGA known only by its footer (its header alone looks like none).
        QByteArray tga = TgaHeader(kWide, kTall);
        tga[17] = static_cast<char>(0xC0);  // interleaving bits no header test trusts
        for (int y = 0; y < kTall * 8; ++y)
            tga += BgrRow(kWide);
        tga += QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18);
        const QString jpegPath = folder.filePath(QStringLiteral("big.jpg"));
        const QString tgaPath = folder.filePath(QStringLiteral("big.tga"));
        WriteAll(jpegPath, jpeg);
        WriteAll(tgaPath, tga);

        QString format, compression;
        int32_t width = 0, height = 0;
        int16_t bits = 0, figure1 = 0, figure2 = 0;
        QVERIFY(DLL96V1::fileinfo(jpegPath, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(format, QStringLiteral("JPEG"));
        QCOMPARE(width, kWide);
        QCOMPARE(height, kTall);
        QVERIFY(DLL96V1::fileinfo(tgaPath, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(format, QStringLiteral("TGA"));
        QCOMPARE(width, kWide);
        QCOMPARE(height, kTall);

        // A 64 MB BMP: its header is read, not the whole file.
        const QString bmpPath = folder.filePath(QStringLiteral("big.bmp"));
        WriteAll(bmpPath, Bmp24());
        QVERIFY(QFile::resize(bmpPath, 64 * 1024 * 1024));
        const qint64 before = BytesReadSoFar();
        if (before < 0)
            QSKIP("the kernel does not count the bytes a process reads");
        QVERIFY(DLL96V1::fileinfo(bmpPath, format, width, height, bits, figure1, figure2, compression));
        QCOMPARE(format, QStringLiteral("BMP"));
        QVERIFY(!DLL96V1::getinfo(bmpPath, 0, width, height, bits, figure1, compression));
        const qint64 read = BytesReadSoFar() - before;
        QVERIFY2(read < 1024 * 1024, qPrintable(QString::number(read)));
    }

    // A name that does not fit the module's 512-byte buffer is not cut short
    // (which would name another file) but refused as unopenable.
    void namesTooLongForTheModule()
    {
        QString folder = m_temp.path();
        for (int i = 0; i < 3; ++i) {
            folder += QLatin1Char('/') + QString(200, QLatin1Char('d'));
            QVERIFY(QDir().mkpath(folder));
        }
        const QString name = folder + QStringLiteral("/picture.bmp");
        QVERIFY(QFile::encodeName(name).size() >= IL_NAME_BUFFER);
        WriteAll(name, QByteArray(64, 'B'));
        DLL96V1::SetDllDirectory(kFakeDir);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(name, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_OPEN});
        QVERIFY(DLL96V1::StatusText().isEmpty());
    }

    // A failed JPEG read or write unloads the codec module; the next call loads it again.
    void jpegFailureUnloadsTheCodecModule()
    {
        const QString garbage = m_temp.filePath(QStringLiteral("garbage.jpg"));
        QByteArray bytes(100, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 37 + 11);
        WriteAll(garbage, bytes);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdjpgfiledib(garbage, 24, 0, dib, nullptr, nullptr));
        QVERIFY(!dib);
        QVERIFY(DLL96V1::ErrorNumber() < 0);
        QVERIFY(!DLL96V1::ErrorText().isEmpty());
        QVERIFY(!DLL96V1::Handle());

        const int before = LoadCount();
        HGLOBAL block = OneBitBlock();
        HGLOBAL wide = DLL96V1::DIB1To24(block);
        QVERIFY(wide);
        QCOMPARE(LoadCount(), before + 1);
        QVERIFY(DLL96V1::Handle());

        QVERIFY(!DLL96V1::wrjpgfiledib(m_temp.filePath(QStringLiteral("out.jpg")), 0, 1, 24, wide,
                                       nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_ARGUMENT});
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Writing ") + m_temp.filePath(QStringLiteral("out.jpg")));
        QVERIFY(!DLL96V1::Handle());
        FreeDib(block);
        FreeDib(wide);
    }

    // Every output name a folder takes can be written: the temporary file
    // beside it has a short name of its own, not NAME.XXXXXX, which passes
    // the 255-byte limit; none is left behind, the photo has the mode of any
    // new file.
    void longOutputNamesAreWritten()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const mode_t mask = ::umask(0);
        ::umask(mask);
        HGLOBAL block = Make(8, 8, 24, {}, QByteArray(24 * 8, '\x80'));
        QStringList names;
        for (const int length : {249, 250, 255}) {
            // Cyrillic letters are two bytes each.
            QString name = QString((length - 4) / 2, QChar(0x0436));
            if ((length - 4) % 2)
                name += QLatin1Char('z');
            name += QStringLiteral(".jpg");
            QCOMPARE(QFile::encodeName(name).size(), length);
            const QString path = folder.filePath(name);
            QVERIFY2(DLL96V1::wrjpgfiledib(path, 90, 5, 24, block, nullptr, nullptr),
                     qPrintable(QString::number(length)));
            QVERIFY(testfiles::ReadAll(path).startsWith("\xFF\xD8\xFF"));
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, 0666 & ~mask);
            names << name;
        }
        // Written again over itself: renamed into place.
        QVERIFY(DLL96V1::wrjpgfiledib(folder.filePath(names.first()), 50, 5, 24, block, nullptr, nullptr));
        names.sort();
        QStringList found = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                          QDir::NoDotAndDotDot);
        found.sort();
        QCOMPARE(found, names);
        FreeDib(block);
    }

    // A read whose progress callback starts a failing JPEG read: the inner
    // failure asks for the codec module to be unloaded, which waits until the
    // outer read (still running inside the module) has returned.
    void unloadWaitsForTheOutermostCall_data()
    {
        testfiles::BoolRows("reread", "unloaded after", "loaded again inside");
    }

    void unloadWaitsForTheOutermostCall()
    {
        QFETCH(bool, reread);
        const QString modulePath = kModuleDir + QStringLiteral("/CRDE2001.so");
        QVERIFY(!Loaded(modulePath));
        const QString bmp = m_temp.filePath(QStringLiteral("outer.bmp"));
        WriteAll(bmp, Bmp24());
        Nested nested;
        nested.garbage = m_temp.filePath(QStringLiteral("inner.jpg"));
        WriteAll(nested.garbage, QByteArray(100, '\x11'));
        if (reread)
            nested.reread = bmp;

        const int loads = LoadCount();
        HDIB dib = nullptr;
        QVERIFY(DLL96V1::rdbmpfiledib(bmp, 24, 0, dib, &nested, NestedRead));
        QVERIFY(nested.module);
        QVERIFY(nested.innerFailed);
        QVERIFY(nested.loadedAfterFailure);
        QVERIFY(nested.inFlight > 0);
        QCOMPARE(CallsInFlight(nested.module), 0);
        QVERIFY(dib);
        QCOMPARE(HeaderOf(dib).biWidth, kWide);
        QCOMPARE(HeaderOf(dib).biHeight, kTall);
        QCOMPARE(TopLeft(dib), kColour);
        FreeDib(dib);

        if (!reread) {
            QVERIFY(!DLL96V1::Handle());
            QVERIFY(!Loaded(modulePath));
            QCOMPARE(LoadCount(), loads + 1);
            HGLOBAL block = OneBitBlock();
            HGLOBAL wide = DLL96V1::DIB1To24(block);  // loads it again
            QVERIFY(wide);
            QCOMPARE(LoadCount(), loads + 2);
            FreeDib(block);
            FreeDib(wide);
        } else {
            // The load inside holds a reference of its own.
            QVERIFY(nested.rereadOk);
            QCOMPARE(LoadCount(), loads + 2);
            QVERIFY(DLL96V1::Handle());
            QVERIFY(Loaded(modulePath));
        }
        DLL96V1::Finalize();
        QVERIFY(!Loaded(modulePath));
    }

    void errorTexts_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << -1 << QStringLiteral("Unknown error in Imaging Dll");
        QTest::newRow("in the table") << int{IL_ERR_CORRUPT} << QStringLiteral("fake: corrupt");
        QTest::newRow("not in the table") << int{IL_ERR_WRITE} << QString();
    }

    void errorTexts()
    {
        QFETCH(int, number);
        QFETCH(QString, text);
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        HGLOBAL converted = DLL96V1::DIB1To8(block);  // loads the fake module
        DLL96V1::RecordError(static_cast<int16_t>(number));
        QCOMPARE(DLL96V1::ErrorNumber(), static_cast<int16_t>(number));
        QCOMPARE(DLL96V1::ErrorText(), text);
        FreeDib(block);
        FreeDib(converted);
    }

    void codecFailureIsRecorded()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        const QString file = m_temp.filePath(QStringLiteral("damaged.bmp"));
        WriteAll(file, QByteArray(40, 'B'));
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(file, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_CORRUPT});
        QCOMPARE(DLL96V1::ErrorText(), QStringLiteral("fake: corrupt"));
        QVERIFY(DLL96V1::Handle());  // only JPEG failures unload

        // Page information succeeds with 0, and its failures are not recorded.
        int32_t width = 0, height = 0;
        int16_t bits = 0, pages = 0;
        QString compression;
        QVERIFY(DLL96V1::getinfo(file, 0, width, height, bits, pages, compression));
        QCOMPARE(width, 7);
        QVERIFY(!DLL96V1::getinfo(file, 1, width, height, bits, pages, compression));
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{IL_ERR_CORRUPT});
    }

    // An exception caught inside a module: the trap message, a failed call,
    // the module kept; the report is taken, so the next call is clean.
    void exceptionTrap()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        HGLOBAL block = OneBitBlock();
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        HGLOBAL converted = DLL96V1::DIB1To8(block);
        QVERIFY(converted);
        const auto setCrde = Fake<void (*)(int)>(DLL96V1::Handle(), "FakeSetThrow");
        const auto setIsp = Fake<void (*)(int)>(DllSP96::Handle(), "FakeSetThrow");
        QVERIFY(setCrde && setIsp);
        setCrde(1);
        setIsp(1);

        const QString trap = QString::fromLatin1(kTrapMessage);
        QVERIFY(!DLL96V1::DIB1To8(block));
        QCOMPARE(m_messages, QStringList{trap});
        QVERIFY(!DllSP96::ScaleDib(converted, 2, 2));
        QCOMPARE(m_messages.size(), 2);
        QCOMPARE(m_messages.last(), trap);

        const QString file = m_temp.filePath(QStringLiteral("trap.bmp"));
        WriteAll(file, QByteArray(40, 'B'));
        DLL96V1::RecordError(-1);
        HDIB dib = nullptr;
        QVERIFY(!DLL96V1::rdbmpfiledib(file, 24, 0, dib, nullptr, nullptr));
        QCOMPARE(m_messages.size(), 3);
        QCOMPARE(DLL96V1::ErrorNumber(), int16_t{-1});
        QVERIFY(DLL96V1::Handle());
        QVERIFY(DllSP96::Handle());

        setCrde(0);
        setIsp(0);
        HGLOBAL again = DLL96V1::DIB1To8(block);
        QVERIFY(again);
        QCOMPARE(m_messages.size(), 3);
        for (HGLOBAL h : {block, converted, again})
            FreeDib(h);
    }

    void moduleNameCheck()
    {
        QTemporaryDir folder;
        const QString fake = kFakeDir + QStringLiteral("/CRDE2001.so");
        QVERIFY(QFile::copy(fake, folder.filePath(QStringLiteral("WRONG2001.so"))));
        QVERIFY(QFile::copy(fake, folder.filePath(QStringLiteral("MYCRDE.so"))));
        DLL96V1::SetDllDirectory(folder.path());

        ModuleHandle handle = nullptr;
        void* proc = nullptr;
        QVERIFY(!DLL96V1::LoadProc(handle, QStringLiteral("WRONG2001.so"), "DIB1To8", proc));
        QCOMPARE(m_messages, QStringList{QStringLiteral("Wrong dll Name in DLL96V1")});
        QVERIFY(!handle);
        QVERIFY(!proc);

        QVERIFY(DLL96V1::LoadProc(handle, QStringLiteral("MYCRDE.so"), "DIB1To8", proc));
        QVERIFY(handle);
        QCOMPARE(proc, dlsym(handle, "DIB1To8"));
        QVERIFY(!DLL96V1::LoadProc(handle, QStringLiteral("MYCRDE.so"), "NoSuchEntry", proc));
        QVERIFY(handle);
        FreeModule(handle);
        QCOMPARE(m_messages.size(), 1);
    }

    // Depends on ISP2000's ScaleDib.
    void scaleWithTheRealModule()
    {
        const QByteArray pixels = Stored({QByteArray(12, '\x40'), QByteArray(12, '\x80')}, 12);
        HGLOBAL block = Make(4, 2, 24, {}, pixels);
        const QByteArray before = BytesOf(block);
        HGLOBAL scaled = ResizeDib(block, 2, 1, 24);
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Resizing Image"));
        QVERIFY(scaled);
        const BITMAPINFOHEADER header = HeaderOf(scaled);
        QCOMPARE(header.biWidth, 2);
        QCOMPARE(header.biHeight, 1);
        QCOMPARE(header.biBitCount, uint16_t{24});
        QCOMPARE(BytesOf(block), before);
        FreeDib(block);
        FreeDib(scaled);
    }

    // The branches of scaling, counted in the fake processing module.
    void scaleBranches_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("resultDepth");
        QTest::addColumn<int>("reduceCalls");
        QTest::newRow("24 bits: scaled as it is") << 24 << 8 << 24 << 0;
        QTest::newRow("8 bits back to 8") << 8 << 8 << 8 << 1;
        QTest::newRow("8 bits kept at 24") << 8 << 24 << 24 << 0;
        QTest::newRow("280 is 24 as a byte") << 8 << 280 << 24 << 0;
        QTest::newRow("1 bit comes back as 4") << 1 << 1 << 4 << 1;
        QTest::newRow("4 bits back to 4") << 4 << 8 << 4 << 1;
    }

    void scaleBranches()
    {
        QFETCH(int, depth);
        QFETCH(int, requested);
        QFETCH(int, resultDepth);
        QFETCH(int, reduceCalls);
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        DLL96V1::SetDllDirectory(kModuleDir);  // the real codec module for the depth steps
        const auto scaleCalls = Fake<int (*)()>(DllSP96::Handle(), "FakeScaleCalls");
        const auto reduces = Fake<int (*)()>(DllSP96::Handle(), "FakeReduceCalls");
        QVERIFY(scaleCalls && reduces);
        const int scaledBefore = scaleCalls();
        const int reducedBefore = reduces();

        const QList<QRgb> palette = depth <= 8 ? QList<QRgb>(1 << depth, qRgb(1, 2, 3)) : QList<QRgb>();
        const int stride = static_cast<int>(DibStride(4, depth));
        HGLOBAL block = Make(4, 4, depth, palette, QByteArray(stride * 4, '\x11'));
        const QByteArray before = BytesOf(block);
        HGLOBAL scaled = ResizeDib(block, 2, 3, requested);
        QVERIFY(scaled);
        QCOMPARE(int{HeaderOf(scaled).biBitCount}, resultDepth);
        QCOMPARE(HeaderOf(scaled).biWidth, 2);
        QCOMPARE(HeaderOf(scaled).biHeight, 3);
        QCOMPARE(scaleCalls() - scaledBefore, 1);
        QCOMPARE(reduces() - reducedBefore, reduceCalls);
        QCOMPARE(BytesOf(block), before);
        QVERIFY(m_messages.isEmpty());
        FreeDib(block);
        FreeDib(scaled);
    }

    void scaleWithoutABlockReadsNothing()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ScaleDib"));
        const auto scaleCalls = Fake<int (*)()>(DllSP96::Handle(), "FakeScaleCalls");
        const int before = scaleCalls();
        QVERIFY(!ResizeDib(nullptr, 10, 10, 24));
        HGLOBAL tiny = GlobalAlloc(GHND, 8);
        QVERIFY(!ResizeDib(tiny, 10, 10, 24));
        QCOMPARE(scaleCalls(), before);
        FreeDib(tiny);
    }

    void reduceDepthOfA32BitBlockGoesTo24()
    {
        DLL96V1::SetDllDirectory(kFakeDir);
        QVERIFY(DllSP96::Resolve("ReduceDib"));
        DLL96V1::SetDllDirectory(kModuleDir);
        const auto reduces = Fake<int (*)()>(DllSP96::Handle(), "FakeReduceCalls");
        const int before = reduces();
        HGLOBAL block = Make(1, 1, 32, {}, Bytes({1, 2, 3, 4}));
        HGLOBAL reduced = ReduceDepth(block, 8, 0, nullptr, nullptr);
        QCOMPARE(DLL96V1::StatusText(), QStringLiteral("Reducing colors "));
        QVERIFY(reduced);
        QCOMPARE(HeaderOf(reduced).biBitCount, uint16_t{24});
        QCOMPARE(reduces(), before);
        QVERIFY(!ReduceDepth(nullptr, 8, 0, nullptr, nullptr));
        QCOMPARE(reduces(), before);
        FreeDib(block);
        FreeDib(reduced);
    }

    void undoStoreKeepsTheLastFour()
    {
        QVERIFY(!DllSP96::UndoAvailable());
        QVERIFY(!DllSP96::UndoBitmap(0).HandleAllocated());
        for (int i = 1; i <= 5; ++i)
            DllSP96::PushUndo(TBitmap(QImage(i, 1, QImage::Format_RGB32)));
        QVERIFY(DllSP96::UndoAvailable());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(DllSP96::UndoBitmap(i).Width(), 5 - i);
        DllSP96::Finalize();
        QVERIFY(!DllSP96::UndoAvailable());
    }
};

QTEST_GUILESS_MAIN(BindingTest)
#include "binding_test.moc"
