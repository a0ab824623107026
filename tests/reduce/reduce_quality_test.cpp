// The written 728-pixel files on real photographs: the photo command's
// reduction and snimkorez-reduce's, scored by SSIM on luma against an
// independent reduction in linear light sharpened by ImageMagick's unsharp
// mask (tests/data/make-reduce), no larger than ImageMagick's own file of that
// picture at quality 90.
//
// snimkorez-reduce decodes at a reduced DCT scale; the picture it writes must
// stay within SSIM 0.995 of the one a full decode gives. That is compared on
// the sharpened pictures the encoder receives: two JPEG files of slightly
// different pictures differ by their quantisation noise as well (0.987 on
// the most textured photos here), which says nothing about the decoding. The
// written files' own scores must agree within 0.004.
#include "OwnedBlock.h"
#include "ImagingModules.h"
#include "Ssim.h"
#include "reduce/ResizeImage_Block.h"

#include "imaging/ILDibCls.h"
#include "imaging/MessageHandler.h"
#include "imaging/TBitmap.h"
#include "imaging/ModuleLoader.h"
#include "imglib.h"
#include "reduce/ReduceSize.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <cmath>

using quality::FromImage;
using quality::Ssim;

namespace {

const QString kPhotos = QStringLiteral(SNIMKOREZ_PHOTOS);
const QString kReferences = QStringLiteral(SNIMKOREZ_TEST_DATA "/reduce");

// ImageMagick's quality-90 file sizes, by photo name.
QMap<QString, qint64> ImageMagickBytes()
{
    QMap<QString, qint64> bytes;
    QFile file(kReferences + QStringLiteral("/q90-bytes"));
    if (!file.open(QIODevice::ReadOnly))
        return bytes;
    while (!file.atEnd()) {
        const QList<QByteArray> words = file.readLine().simplified().split(' ');
        if (words.size() == 2)
            bytes.insert(QString::fromUtf8(words[0]), words[1].toLongLong());
    }
    return bytes;
}


// The luma of the sharpened picture snimkorez-reduce encodes (reduced DCT
// decoding) or the photo command encodes (full decoding), straight from the
// modules.
quality::Grey SharpenedLuma(const QString& photo, bool reducedDct)
{
    imaging::ModuleHandle codecs = nullptr, processing = nullptr;
    QString folder = QStringLiteral(SNIMKOREZ_PROGRAM_DIR);
    if (!imaging::LoadModule(codecs, QStringLiteral("CRDE2001.so"), folder) ||
        !imaging::LoadModule(processing, QStringLiteral("ISP2000.so"), folder))
        return {};
    const auto whole = reinterpret_cast<rdjpgfiledib_fn>(imaging::ResolveSymbol(codecs, "rdjpgfiledib"));
    const auto reduced = reinterpret_cast<rdjpgfiledibatleast_fn>(imaging::ResolveSymbol(codecs, "rdjpgfiledibatleast"));
    const auto scale = reinterpret_cast<ScaleDib_fn>(imaging::ResolveSymbol(processing, "ScaleDib"));
    const auto sharpen = reinterpret_cast<Better_fn>(imaging::ResolveSymbol(processing, "Better"));
    if (!whole || !reduced || !scale || !sharpen)
        return {};
    const QByteArray name = QFile::encodeName(photo);
    const QSize photoSize = QImageReader(photo).size();
    const reduce::Size size = reduce::ReduceSize(photoSize.width(), photoSize.height(), 728, 640);
    OwnedBlock decoded;
    const int16_t read = reducedDct ? reduced(name.constData(), 2 * size.width, 2 * size.height, decoded.Receive(),
                                              nullptr, nullptr, 0)
                                    : whole(name.constData(), 24, 1, 0, decoded.Receive(), nullptr, nullptr, nullptr, 0);
    if (read <= 0)
        return {};
    const OwnedBlock scaled(scale(decoded.Get(), size.width, size.height));
    const OwnedBlock sharp(sharpen(scaled.Get(), 2, 0, 0, size.width, size.height, nullptr, nullptr));
    imaging::TBitmap bitmap;
    if (!sharp || !imaging::DibToBitmap(sharp.Get(), bitmap))
        return {};
    return FromImage(bitmap.Handle());
}

}  // namespace

class ReduceQualityTest : public QObject {
    Q_OBJECT

private:
    QStringList m_messages;
    std::unique_ptr<testfiles::ImagingModules> m_modules;

private Q_SLOTS:
    void initTestCase()
    {
        imaging::SetMessageHandler([this](const QString& text) { m_messages << text; });
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_PROGRAM_DIR));
    }

    void cleanupTestCase()
    {
        m_modules.reset();
    }

    void writtenFilesAgainstReference()
    {
        const QMap<QString, qint64> imageMagick = ImageMagickBytes();
        QStringList names = imageMagick.keys();
        QVERIFY2(names.size() >= 10, "the references of tests/data/make-reduce are missing");
        const auto photo = [](const QString& name) { return kPhotos + QLatin1Char('/') + name + QStringLiteral(".jpg"); };
        // A missing package must not pass as good quality.
        QVERIFY2(QFileInfo::exists(photo(names.first())),
                 "the photos of Debian's lomiri-wallpapers package are not installed "
                 "(scripts/install-deps installs them)");
        if (quality::kSanitized) {
            std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
                const QSize sa = QImageReader(photo(a)).size(), sb = QImageReader(photo(b)).size();
                return int64_t{sa.width()} * sa.height() < int64_t{sb.width()} * sb.height();
            });
            names = names.mid(0, 3);
        }

        QTemporaryDir dir;
        QStringList copies;
        for (const QString& name : names) {
            copies << dir.filePath(name + QStringLiteral(".jpg"));
            QVERIFY(QFile::copy(photo(name), copies.last()));
        }
        QProcess batch;
        batch.start(QStringLiteral(SNIMKOREZ_PROGRAM_DIR "/snimkorez-reduce"), copies);
        QVERIFY(batch.waitForFinished(600000));
        QVERIFY2(batch.exitStatus() == QProcess::NormalExit && batch.exitCode() == 0,
                 batch.readAllStandardError().constData());

        QStringList failures;
        double commandSum = 0, batchSum = 0;
        for (const QString& name : names) {
            const QString command = dir.filePath(name + QStringLiteral("_command.jpg"));
            {
                preview::TPMultiImage control;
                control.SetImageName(dir.filePath(name + QStringLiteral(".jpg")));
                reduce::ResizeImage_Block(nullptr, control, 728, 640, 90, 2, command);
            }
            const QString batchFile = dir.filePath(name + QStringLiteral("_Resize728px.jpg"));
            const QImage ours(command), theirs(batchFile);
            const QImage reference(kReferences + QLatin1Char('/') + name + QStringLiteral(".png"));
            QVERIFY2(!ours.isNull() && !theirs.isNull() && !reference.isNull(), qPrintable(name));
            QCOMPARE(ours.size(), reference.size());
            QCOMPARE(theirs.size(), reference.size());

            const quality::Grey expected = FromImage(reference);
            const double commandSsim = Ssim(FromImage(ours), expected);
            const double batchSsim = Ssim(FromImage(theirs), expected);
            const quality::Grey fromWhole = SharpenedLuma(photo(name), false);
            const quality::Grey fromReduced = SharpenedLuma(photo(name), true);
            QVERIFY2(!fromWhole.values.empty() && !fromReduced.values.empty(), qPrintable(name));
            const double between = Ssim(fromReduced, fromWhole);
            const qint64 commandBytes = QFileInfo(command).size(), batchBytes = QFileInfo(batchFile).size();
            const QString line = QStringLiteral("%1: photo command SSIM %2, %3 bytes; snimkorez-reduce SSIM %4, "
                                                "%5 bytes; reduced-DCT picture %6 to the full decode's; "
                                                "ImageMagick q90 %7 bytes")
                                     .arg(name)
                                     .arg(commandSsim, 0, 'f', 5)
                                     .arg(commandBytes)
                                     .arg(batchSsim, 0, 'f', 5)
                                     .arg(batchBytes)
                                     .arg(between, 0, 'f', 5)
                                     .arg(imageMagick.value(name));
            qInfo("%s", qPrintable(line));
            // Every photo is scored before the verdict: one bad photo should
            // not hide another. The floor catches one photo gone wrong; the
            // most textured ones (sea, foliage) score about 0.95.
            if (between < 0.995 || std::abs(commandSsim - batchSsim) > 0.004 || commandBytes > imageMagick.value(name) || batchBytes > imageMagick.value(name) ||
                commandSsim < 0.945 || batchSsim < 0.945)
                failures << line;
            commandSum += commandSsim;
            batchSum += batchSsim;
        }
        const double commandMean = commandSum / names.size(), batchMean = batchSum / names.size();
        qInfo("mean SSIM over %lld photos: photo command %.5f, snimkorez-reduce %.5f",
              static_cast<long long>(names.size()), commandMean, batchMean);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
        if (!quality::kSanitized) {
            QVERIFY2(commandMean >= 0.980, qPrintable(QString::number(commandMean, 'f', 5)));
            QVERIFY2(batchMean >= 0.980, qPrintable(QString::number(batchMean, 'f', 5)));
        }
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(ReduceQualityTest)
#include "reduce_quality_test.moc"
