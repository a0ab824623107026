// snimkorez-reduce: the photo command's reduction for batches and scripts.
// Each photo becomes "<name>_Resize728px.jpg" beside it, 728 pixels on the
// side the size rule fits, sharpened, at JPEG quality 90. No window, no
// display: the imaging modules are called directly, several photos at once.
#include "imaging/ModuleLoader.h"
#include "imglib.h"
#include "reduce/ReduceSize.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kTarget = 728;
constexpr int32_t kThreshold = 640;
constexpr int16_t kQuality = 90;
constexpr int16_t kSmoothing = 5;  // what the photo command's save ends up with
constexpr int32_t kAmount = 2;

const char kHelp[] =
    "Usage: snimkorez-reduce [--jobs N] PHOTO...\n"
    "Reduces each photo for a bulletin board as Snimkorez does: 728 pixels on the\n"
    "long side (small photos keep their size), sharpened, JPEG quality 90, written\n"
    "beside the photo as NAME_Resize728px.jpg. The photo itself is not changed.\n"
    "Prints the written file and its size for each photo; a photo that fails is\n"
    "reported on stderr and the others go on. Exit status 1 when any failed.\n"
    "\n"
    "  --jobs N   photos reduced at once (default: the number of processors)\n"
    "  --help     this text\n";

// The entries a reduction needs, resolved once before any work starts.
struct Modules {
    fileinfo_fn fileInfo = nullptr;
    rdjpgfiledibatleast_fn readJpeg = nullptr;
    rdpalettefiledib_fn readBmp = nullptr, readPng = nullptr, readGif = nullptr, readPcx = nullptr;
    readfiledib_fn readTga = nullptr;
    readpagefiledib_fn readTiff = nullptr;
    wrjpgfiledib_fn writeJpeg = nullptr;
    ScaleDib_fn scale = nullptr;
    Better_fn sharpen = nullptr;
    const ILStringEntry* texts = nullptr;

    template <class F>
    static bool Resolve(imaging::ModuleHandle module, const char* name, F& into)
    {
        into = reinterpret_cast<F>(imaging::ResolveSymbol(module, name));
        return into != nullptr;
    }

    bool Load(QString& failure)
    {
        imaging::ModuleHandle codecs = nullptr, processing = nullptr;
        QString noFolder;
        if (!imaging::LoadModule(codecs, QStringLiteral("CRDE2001.so"), noFolder) ||
            !imaging::LoadModule(processing, QStringLiteral("ISP2000.so"), noFolder)) {
            failure = QStringLiteral("the imaging modules CRDE2001.so and ISP2000.so were not found "
                                     "beside the program");
            return false;
        }
        texts = reinterpret_cast<const ILStringEntry*>(imaging::ResolveSymbol(codecs, "ILStringTable"));
        const bool ok = Resolve(codecs, "fileinfo", fileInfo) && Resolve(codecs, "rdjpgfiledibatleast", readJpeg) &&
                        Resolve(codecs, "rdbmpfiledib", readBmp) && Resolve(codecs, "rdpngfiledib", readPng) &&
                        Resolve(codecs, "rdgiffiledib", readGif) && Resolve(codecs, "rdpcxfiledib", readPcx) &&
                        Resolve(codecs, "readtgafiledib", readTga) &&
                        Resolve(codecs, "readtiffiledib", readTiff) &&
                        Resolve(codecs, "wrjpgfiledib", writeJpeg) && Resolve(processing, "ScaleDib", scale) &&
                        Resolve(processing, "Better", sharpen);
        if (!ok)
            failure = QStringLiteral("the imaging modules beside the program are of another version");
        return ok;
    }

    [[nodiscard]] QString Text(int16_t number) const
    {
        for (const ILStringEntry* entry = texts; entry && entry->text; ++entry) {
            if (entry->id == static_cast<uint16_t>(number))
                return QString::fromUtf8(entry->text);
        }
        return QStringLiteral("error %1 in the imaging module").arg(number);
    }
};

// Frees a block on every way out.
struct Block {
    HDIB dib = nullptr;
    ~Block() { GlobalFree(dib); }
};

[[nodiscard]] QString OutputName(const QString& photo)
{
    const QFileInfo info(photo);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return info.path() + u'/' + (dot > 0 ? name.left(dot) : name) + QStringLiteral("_Resize728px.jpg");
}

// Reduces one photo; on failure `failure` says why in plain words.
bool Reduce(const Modules& m, const QString& photo, QString& output, QSize& size, QString& failure)
{
    const QByteArray name = QFile::encodeName(photo);
    if (name.size() >= IL_NAME_BUFFER) {
        failure = QStringLiteral("the file name is too long");
        return false;
    }
    char format[IL_FORMAT_NAME_SIZE] = {};
    char compression[IL_COMPRESSION_NAME_SIZE] = {};
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0, orientation = 0;
    int16_t result = m.fileInfo(name.constData(), format, &width, &height, &bits, &pages, &orientation,
                                compression, 0);
    if (result <= 0) {
        failure = m.Text(result);
        return false;
    }
    size = reduce::ReduceSize(width, height, kTarget, kThreshold);
    Block source;
    const QByteArray kind(format);
    // Twice the target keeps a reduced-DCT decode as sharp as a whole one
    // after the Lanczos step, at a fraction of the time and memory.
    if (kind == "JPEG")
        result = m.readJpeg(name.constData(), 2 * size.width(), 2 * size.height(), &source.dib, nullptr, nullptr, 0);
    else if (kind == "PNG")
        result = m.readPng(name.constData(), 24, 0, &source.dib, nullptr, nullptr, nullptr, 0);
    else if (kind == "BMP")
        result = m.readBmp(name.constData(), 24, 0, &source.dib, nullptr, nullptr, nullptr, 0);
    else if (kind == "GIF")
        result = m.readGif(name.constData(), 24, 0, &source.dib, nullptr, nullptr, nullptr, 0);
    else if (kind == "PCX")
        result = m.readPcx(name.constData(), 24, 0, &source.dib, nullptr, nullptr, nullptr, 0);
    else if (kind == "TGA")
        result = m.readTga(name.constData(), 24, 0, &source.dib, nullptr, nullptr, 0);
    else if (kind == "TIFF")
        result = m.readTiff(name.constData(), 24, 0, 0, &source.dib, nullptr, nullptr, 0);
    else
        result = IL_ERR_UNSUPPORTED;
    if (result <= 0 || !source.dib) {
        failure = m.Text(result <= 0 ? result : int16_t{IL_ERR_UNKNOWN});
        return false;
    }

    Block scaled;
    scaled.dib = m.scale(source.dib, size.width(), size.height());
    GlobalFree(source.dib);
    source.dib = nullptr;
    if (!scaled.dib) {
        failure = QStringLiteral("the photo could not be scaled to %1 × %2").arg(size.width()).arg(size.height());
        return false;
    }
    Block sharp;
    sharp.dib = m.sharpen(scaled.dib, kAmount, 0, 0, size.width(), size.height(), nullptr, nullptr);
    const HDIB written = sharp.dib ? sharp.dib : scaled.dib;  // unsharpened rather than nothing
    output = OutputName(photo);
    result = m.writeJpeg(QFile::encodeName(output).constData(), kQuality, kSmoothing, 24, written, nullptr,
                         nullptr, 0);
    if (result <= 0) {
        failure = QStringLiteral("%1: %2").arg(output, m.Text(result));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList photos;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const QStringList arguments = application.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (argument == QLatin1String("--jobs") || argument.startsWith(QLatin1String("--jobs="))) {
            QString value = argument.mid(7);
            if (argument == QLatin1String("--jobs"))
                value = i + 1 < arguments.size() ? arguments[++i] : QString();
            bool number = false;
            jobs = value.toInt(&number);
            if (!number || jobs < 1) {
                std::fprintf(stderr, "snimkorez-reduce: --jobs needs a number of 1 or more\n");
                return 2;
            }
            continue;
        }
        if (argument.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "snimkorez-reduce: unknown option %s (see --help)\n", qPrintable(argument));
            return 2;
        }
        photos.append(argument);
    }
    if (photos.isEmpty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }

    Modules modules;
    QString failure;
    if (!modules.Load(failure)) {
        std::fprintf(stderr, "snimkorez-reduce: %s\n", qPrintable(failure));
        return 1;
    }

    std::mutex printing;
    std::atomic<qsizetype> next{0};
    std::atomic<bool> anyFailed{false};
    const auto work = [&] {
        for (qsizetype i = next++; i < photos.size(); i = next++) {
            QString output, reason;
            QSize size;
            const bool ok = Reduce(modules, photos[i], output, size, reason);
            const std::lock_guard lock(printing);
            if (ok) {
                std::printf("%s %dx%d\n", qPrintable(output), size.width(), size.height());
                std::fflush(stdout);
            } else {
                anyFailed = true;
                std::fprintf(stderr, "snimkorez-reduce: %s: %s\n", qPrintable(photos[i]), qPrintable(reason));
            }
        }
    };
    std::vector<std::thread> workers;
    const int count = std::min<int>(jobs, static_cast<int>(photos.size()));
    for (int i = 1; i < count; ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    return anyFailed ? 1 : 0;
}
