// Loading a picture by file name: the extension picks the way, the imaging
// modules' file information names the format, one of their readers decodes
// it into a block that becomes the picture's bitmap.
#include "TPMultiImage.h"

#include "imaging/DLL96V1.h"
#include "imaging/DllSP96.h"
#include "imaging/EFOpenError.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/ILTDib.h"
#include "reduce/Recipe.h"

#include "OwnedBlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

namespace preview {

namespace {

using imaging::TBitmap;
namespace DLL96V1 = imaging::DLL96V1;

template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : m_f(std::move(f)) {}
    ~ScopeExit() { m_f(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
};

// From the last dot of the file name part on, upper-cased; a dot in a folder
// name is not an extension.
QString Extension(const QString& name)
{
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? name.mid(dot).toUpper() : QString();
}

// A folder of that name is not a file to load.
bool FileExists(const QString& name)
{
    return !name.isEmpty() && QFileInfo(name).isFile();
}

int32_t ClampedSize(qint64 size)
{
    return static_cast<int32_t>(std::min<qint64>(size, std::numeric_limits<int32_t>::max()));
}

using reduce::Reader;

// The format an extension names; empty for one the library must recognise
// by content.
QString FormatForExtension(const QString& extension)
{
    static const std::array<std::pair<const char*, const char*>, 16> kTable{{
        {".BMP", "BMP"}, {".PNG", "PNG"}, {".GIF", "GIF"}, {".TIF", "TIF"},
        {".TIFF", "TIF"}, {".TGA", "TGA"}, {".PCX", "PCX"}, {".EPS", "EPS"},
        {".PCD", "PCD"}, {".DXF", "DXF"}, {".JPEG", "JPEG"}, {".JPG", "JPEG"},
        {".HEIC", "HEIF"}, {".HEIF", "HEIF"}, {".AVIF", "AVIF"}, {".WEBP", "WEBP"},
    }};
    for (const auto& [ext, format] : kTable) {
        if (extension == QLatin1String(ext))
            return QString::fromLatin1(format);
    }
    return {};
}

// The depth of the block a reader makes when asked for `bits`.
int BlockDepthFor(int16_t bits)
{
    switch (bits) {
    case 0:
        return 4;
    case 1:
    case 4:
    case 8:
    case 24:
        return bits;
    default:
        return 24;
    }
}

// One reader front end: the file into a block, the block into `bitmap` at
// the depth asked. False when the reader or the conversion failed.
bool ReadInto(Reader reader, const QString& name, int16_t bits, int16_t dither, int16_t page,
              int16_t pcdMode, TPMultiImage* control, TBitmap& bitmap)
{
    const ILProgress callback = &TPMultiImage::ProgressCallback;
    OwnedBlock block;
    HDIB& dib = *block.Receive();  // the reader fills it in place
    bool ok = false;
    switch (reader) {
    case Reader::Bmp:
        ok = DLL96V1::rdbmpfiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Png:
        ok = DLL96V1::rdpngfiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Gif:
        ok = DLL96V1::rdgiffiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Tif:
        ok = DLL96V1::readtiffiledib(name, bits, dither, page, dib, control, callback);
        break;
    case Reader::Tga:
        ok = DLL96V1::readtgafiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Pcx:
        ok = DLL96V1::rdpcxfiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Eps:
        ok = DLL96V1::readepsfiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Pcd:
        ok = DLL96V1::readpcdfiledib(name, bits, dither, pcdMode, dib, control, callback);
        break;
    case Reader::Dxf:
        ok = DLL96V1::readdxftoddb(name, bits, dib, control, callback);
        break;
    case Reader::Jpeg:
        ok = DLL96V1::rdjpgfiledib(name, bits, dither, dib, control, callback);
        bitmap.SetPalette(DLL96V1::SharedPalette());
        break;
    case Reader::Heif:
        ok = DLL96V1::rdheiffiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::Webp:
        ok = DLL96V1::rdwebpfiledib(name, bits, dither, dib, control, callback);
        break;
    case Reader::None:
        break;
    }
    // A block that cannot become a bitmap is a failed read, not an empty picture.
    return ok && imaging::DibToBitmap(dib, BlockDepthFor(bits), dither, callback, control, bitmap);
}

// The bytes a packed block of the bitmap would take: header, table, rows.
int32_t DibByteSize(const TBitmap* bitmap)
{
    if (!bitmap || !bitmap->HandleAllocated())
        return 0;
    const int depth = bitmap->Handle().depth() <= 8 ? bitmap->Handle().depth() : 24;
    const int64_t colours = imaging::ILTDib::ColoursForDepth(depth);
    const int64_t bytes = 40 + 4 * colours +
                          imaging::DibStride(bitmap->Width(), depth) * int64_t{bitmap->Height()};
    return static_cast<int32_t>(std::min<int64_t>(bytes, std::numeric_limits<int32_t>::max()));
}

// Qt resources stand in for a module's bitmap resources: the program's are
// ":/bitmaps/<NAME>.bmp", those of a module "<dir>/<module>.so" are
// ":/<module>/bitmaps/<NAME>.bmp"; the name upper-cased as resource names are.
QString ResourcePath(const QString& module, const QString& fileName)
{
    const QString resource = QFileInfo(fileName).completeBaseName().toUpper();
    const QString root = module.isEmpty()
                             ? QStringLiteral(":/bitmaps/")
                             : QStringLiteral(":/") + QFileInfo(module).completeBaseName() +
                                   QStringLiteral("/bitmaps/");
    return root + resource + QStringLiteral(".bmp");
}

bool LoadResourceBitmap(const QString& path, TBitmap& bitmap)
{
    QImage image(path);
    if (image.isNull())
        return false;
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_Indexed8:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        break;
    case QImage::Format_MonoLSB:
        image = image.convertToFormat(QImage::Format_Mono);
        break;
    default:
        image = image.convertToFormat(QImage::Format_RGB32);
        break;
    }
    bitmap.SetPalette(image.colorTable());
    bitmap.SetHandle(std::move(image));
    return true;
}

}  // namespace

QString TPMultiImage::AnnotationFileName() const
{
    if (!m_annoFileName.isEmpty())
        return m_annoFileName;
    if (m_imageName.isEmpty())
        return QStringLiteral("default.ant");
    // Cut at the first dot of the file's own name: a dotted folder would
    // otherwise put the annotations of every file in it into one file.
    const qsizetype slash =
        std::max(m_imageName.lastIndexOf(QLatin1Char('/')), m_imageName.lastIndexOf(QLatin1Char('\\')));
    const qsizetype dot = m_imageName.indexOf(QLatin1Char('.'), slash + 1);
    return (dot < 0 ? m_imageName : m_imageName.left(dot)) + QStringLiteral(".ant");
}

void TPMultiImage::SetImageName(const QString& name)
{
    const QString outgoingAnnotations = AnnotationFileName();
    // The next load by name ends a message mode and gives Color back.
    EndMessageMode(true);
    m_imageName = name;
    m_loading = true;
    m_resetViewOnChange = true;
    const ScopeExit loadingOff([this] {
        m_loading = false;
        m_resetViewOnChange = false;
    });
    const QString extension = Extension(name);

    if (extension != QLatin1String(".RES") && !FileExists(name)) {
        m_picture.Clear();
        return;
    }

    // The codec module has no SaveAnnotation (its annotation layer keeps
    // nothing), so there is nothing to save.
    if (m_autoSaveAnno)
        qWarning("AutoSaveAnno: annotations are not saved to %s: the codec module has no SaveAnnotation",
                 qUtf8Printable(outgoingAnnotations));
    imaging::DLL96V1::ClearAnnotation(this);
    DoProgress(0);
    const int16_t bits = ReadBits();
    const int16_t dither = m_imageDither ? 1 : 0;

    auto pushUndo = [this] {
        const TBitmap* current = m_picture.BitmapOrNull();
        if (m_ilUndo && current && current->HandleAllocated())
            imaging::DllSP96::PushUndo(*current);
    };

    if (extension == QLatin1String(".WMF") || extension == QLatin1String(".ICO")) {
        pushUndo();
        m_picture.LoadFromFile(name);
        ReadFileInfo(name);
        return;
    }

    if (extension == QLatin1String(".SCM") || extension == QLatin1String(".CMS")) {
        // A file that cannot be read or parsed leaves the picture empty.
        try {
            pushUndo();
            m_picture.Clear();
            StartMessageMode(name, extension == QLatin1String(".CMS"));
        } catch (...) {
            m_picture.Clear();
        }
        // The file's information is the message's now, not the last picture's.
        ReadFileInfo(name);
        FinishLoad();
        return;
    }

    if (extension == QLatin1String(".THB") || extension == QLatin1String(".THJ") ||
        extension == QLatin1String(".RES")) {
        TBitmap bitmap;
        const bool read = ReadOrEmpty([&] {
            if (extension == QLatin1String(".RES")) {
                const QString path = ResourcePath(m_resourceModule, name);
                if (LoadResourceBitmap(path, bitmap))
                    return true;
                DLL96V1::RecordError(IL_ERR_OPEN);
                DLL96V1::SetErrorText(QStringLiteral("No bitmap resource ") + path);
                return false;
            }
            ReadFileInfo(name);
            const bool mono = m_fileInfo.bitsPerPixel == 1;
            const Reader reader = extension == QLatin1String(".THB") ? Reader::Bmp : Reader::Jpeg;
            return ReadInto(reader, name, mono ? int16_t{1} : bits, dither, m_tiffPage,
                            static_cast<int16_t>(m_pcdMode), this, bitmap);
        });
        if (!read)
            return;
        InstallBitmap(bitmap, false);
        return;
    }

    ReadFileInfo(name);
    QString format = FormatForExtension(extension);
    if (format.isEmpty())
        format = m_fileInfo.imageType;
    const auto readerFor = [](const QString& format) { return reduce::ReaderFor(format.toStdString()); };
    const Reader named = readerFor(format);
    if (named == Reader::None) {
        FinishLoad();
        return;
    }
    // A file whose content is another format than its extension says (a
    // JPEG saved as .png) is read by its content's reader when the named
    // one fails.
    Reader content = readerFor(m_fileInfo.imageType);
    if (content == named)
        content = Reader::None;
    Reader used = named;
    TBitmap bitmap;
    const bool read = ReadOrEmpty([&] {
        const auto readWith = [&](Reader reader) {
            used = reader;
            // Two colours read as one bit; more keep their colours.
            const bool mono = m_fileInfo.bitsPerPixel == 1;
            if (reader == Reader::Tif) {
                // Pages count from 0: the last one is the page count less one.
                const int16_t pages = m_fileInfo.tiffPage > 0 ? m_fileInfo.tiffPage
                                      : m_fileInfo.imageType == QLatin1String("TIFF") ? m_fileInfo.figure1
                                                                                      : int16_t{0};
                if (pages > 0 && m_tiffPage > pages - 1)
                    m_tiffPage = static_cast<int16_t>(pages - 1);
            }
            return ReadInto(reader, name, mono ? int16_t{1} : bits, dither, m_tiffPage,
                            static_cast<int16_t>(m_pcdMode), this, bitmap);
        };
        return readWith(named) || (content != Reader::None && readWith(content));
    });
    if (!read)
        return;
    InstallBitmap(bitmap, used == Reader::Tif);
    FinishLoad();
}

bool TPMultiImage::ReadOrEmpty(const std::function<bool()>& read)
{
    bool ok = false;
    try {
        ok = read();
        if (!ok)
            ReportLibError();
    } catch (...) {
        ok = false;
    }
    // A failure that the error handler took without raising ends the same
    // way: an empty bitmap is no picture to install.
    if (!ok) {
        m_picture.Clear();
        FinishLoad();
    }
    return ok;
}

void TPMultiImage::InstallBitmap(imaging::TBitmap& bitmap, bool tiff)
{
    if (tiff)
        ReadFileInfo(m_imageName);
    const TBitmap* current = m_picture.BitmapOrNull();
    if (m_ilUndo && current && current->HandleAllocated())
        imaging::DllSP96::PushUndo(*current);
    // Transition effects are not drawn: the picture is set directly.
    m_picture.SetBitmap(bitmap);
    bitmap.Clear();
    if (!tiff)
        ReadFileInfo(m_imageName);
}

void TPMultiImage::FinishLoad()
{
    m_loading = false;
    m_resetViewOnChange = false;
    if (m_autoLoadAnno && QFileInfo::exists(AnnotationFileName()))
        qWarning("AutoLoadAnno: annotations are not loaded from %s: the codec module has no LoadAnnotation",
                 qUtf8Printable(AnnotationFileName()));
    if (OnFinishedLoadSave)
        OnFinishedLoadSave(this);
}

bool TPMultiImage::ReadFileInfo(const QString& name)
{
    TFileInfo& info = m_fileInfo;
    const QString key = Extension(name).left(4);

    if (key == QLatin1String(".RES")) {
        info.imageType = QStringLiteral("RES");
        info.width = m_picture.Width();
        info.height = m_picture.Height();
        info.bitsPerPixel = 0;
        info.figure1 = 0;
        info.figure2 = 0;
        info.compression = QStringLiteral("BMP");
        info.size = DibByteSize(m_picture.BitmapOrNull());
        return true;
    }

    if (key == QLatin1String(".WMF") || key == QLatin1String(".ICO") ||
        key == QLatin1String(".SCM") || key == QLatin1String(".CMS")) {
        const bool exists = FileExists(name);
        info.imageType = exists ? key.mid(1) : QStringLiteral("ERR");
        info.compression = info.imageType;
        info.width = exists ? m_picture.Width() : -1;
        info.height = exists ? m_picture.Height() : -1;
        info.bitsPerPixel = exists ? 0 : -1;
        info.figure1 = exists ? 0 : -1;
        info.figure2 = exists ? 0 : -1;
        info.size = exists ? ClampedSize(QFileInfo(name).size()) : -1;
        return exists;
    }

    {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly))
            throw imaging::EFOpenError(QStringLiteral("Cannot open file \"%1\". %2")
                                           .arg(QDir::toNativeSeparators(name), file.errorString()));
        info.size = ClampedSize(file.size());
    }
    info.tiffPage = 0;

    if (key == QLatin1String(".TIF")) {
        info.imageType = QStringLiteral("TIF");
        info.figure1 = 0;
        info.figure2 = 0;
        info.width = 0;
        info.height = 0;
        info.bitsPerPixel = 0;
        info.compression.clear();
        // A page past the end tells nothing; page 0 still gives the page
        // count that the reader's page is lowered to.
        if (!DLL96V1::getinfo(name, m_tiffPage, info.width, info.height, info.bitsPerPixel,
                              info.tiffPage, info.compression) &&
            m_tiffPage != 0)
            (void)DLL96V1::getinfo(name, 0, info.width, info.height, info.bitsPerPixel,
                                   info.tiffPage, info.compression);
        return true;
    }

    if (key == QLatin1String(".DXF")) {
        info.imageType = QStringLiteral("DXF");
        info.compression = QStringLiteral("DXF");
        info.width = 0;
        info.height = 0;
        info.bitsPerPixel = 0;
        info.figure1 = 0;
        info.figure2 = 0;
        (void)DLL96V1::getdxfinfo(name, info.width, info.height, info.bitsPerPixel);
        return true;
    }

    // What a failed call leaves is described too: nothing known.
    int32_t width = 0;
    int32_t height = 0;
    int16_t bits = 0;
    int16_t figure1 = 0;
    int16_t figure2 = 0;
    const bool ok = DLL96V1::fileinfo(name, info.imageType, width, height, bits, figure1, figure2,
                                      info.compression);
    info.width = width;
    info.height = height;
    info.bitsPerPixel = bits;
    info.figure1 = figure1;
    info.figure2 = figure2;
    if (!ok) {
        ReportLibError();
        return false;
    }
    return true;
}

bool TPMultiImage::DoProgress(int percent)
{
    if (!OnProgress)
        return true;
    bool cancel = false;
    OnProgress(this, static_cast<int16_t>(percent), DLL96V1::StatusText().toLower(), cancel);
    return !cancel;
}

int TPMultiImage::ProgressCallback(int percent, void* control)
{
    if (!control)
        return 1;
    // Called from inside a module: nothing may unwind through its C frames.
    // A handler that raises stops the work instead.
    try {
        return static_cast<TPMultiImage*>(control)->DoProgress(percent) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

void TPMultiImage::ReportLibError()
{
    const QString text = DLL96V1::ErrorText();
    if (!OnIlibError)
        throw imaging::ErrorInvalid(text);
    char copy[256] = {};
    QByteArray bytes = text.toUtf8();
    // Cut on a character boundary so that the copy stays valid UTF-8.
    qsizetype length = std::min<qsizetype>(bytes.size(), sizeof copy - 1);
    while (length > 0 && length < bytes.size() && (static_cast<uchar>(bytes[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(copy, bytes.constData(), static_cast<size_t>(length));
    OnIlibError(this, DLL96V1::ErrorNumber(), text, copy);
}

int16_t TPMultiImage::ReadBits() const
{
    switch (m_imageReadRes) {
    case TLoadResolution::lColorVga:
        return 0;
    case TLoadResolution::lMonoChrome:
        return 1;
    case TLoadResolution::lColor16:
        return 4;
    case TLoadResolution::lColor256:
        return 8;
    case TLoadResolution::lColorTrue:
        return 24;
    case TLoadResolution::lAutoMatic: {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const int depth = screen ? screen->depth() : 24;
        if (depth <= 4)
            return 4;
        return depth < 16 ? 8 : 24;
    }
    }
    return 8;
}

}  // namespace preview
