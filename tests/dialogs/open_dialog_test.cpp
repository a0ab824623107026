// The media open dialog driven as a user would: pictures, TIFF pages, sound,
// the preview toggle, the file-name hook, and closing during a long load.
#include "dialogs/TDocumentImage.h"
#include "dialogs/TMIMediaPlayer.h"
#include "dialogs/TMMOpenDialog.h"
#include "dialogs/TPMultiMedia.h"
#include "ImagingModules.h"
#include "imaging/MessageHandler.h"

#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <memory>

using dialogs::TMMOpenDialog;

namespace {

const QString kData = QStringLiteral(SNIMKOREZ_TEST_DATA);
const QString kSmallPhoto = QStringLiteral(SNIMKOREZ_PHOTOS "/Picture_1A_by_freespace.jpg");  // 1365 × 1074
const QString kLargePhoto = QStringLiteral(SNIMKOREZ_PHOTOS "/Kleiber_by_Lukas_Baubkus.jpg");

// Two seconds of a quiet tone, 8 kHz mono 16-bit.
QByteArray Wave()
{
    const int rate = 8000, samples = 2 * rate;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + samples * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(samples * 2);
    for (int i = 0; i < samples; ++i)
        out << qint16(std::lround(1000 * std::sin(i * 2 * M_PI * 440 / rate)));
    return data;
}

}  // namespace

class OpenDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMMOpenDialog> m_dialog;
    QList<int> m_progress;

    QString Copy(const QString& from, const QString& name)
    {
        const QString to = m_dir->filePath(name);
        return QFile::copy(from, to) ? to : QString();
    }

    [[nodiscard]] bool PictureShown() const
    {
        return m_dialog->MultiMedia()->isVisible() && m_dialog->MultiMedia()->Picture().Width() > 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        imaging::SetMessageHandler([](const QString& text) { QFAIL(qPrintable(text)); });
        QVERIFY2(QFileInfo::exists(kSmallPhoto), "Debian's lomiri-wallpapers is not installed");
    }

    void init()
    {
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
        m_dir = std::make_unique<QTemporaryDir>();
        m_dialog = std::make_unique<TMMOpenDialog>();
        m_dialog->setDirectory(m_dir->path());
        m_dialog->resize(900, 500);
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        m_progress.clear();
        connect(m_dialog->ProgressBar(), &QProgressBar::valueChanged, this, [this](int v) { m_progress << v; });
    }

    void cleanup()
    {
        m_dialog.reset();
        m_dir.reset();
        m_modules.reset();
    }

    // Whole, centred on the button face, no scroll bars; the bar follows the
    // decoding up to its end.
    void photoShownWhole()
    {
        const QString photo = Copy(kSmallPhoto, QStringLiteral("photo.jpg"));
        // What the file list reports on a new selection.
        Q_EMIT m_dialog->currentChanged(photo);
        QVERIFY(PictureShown());
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 1365);
        QVERIFY(m_progress.size() >= 3);
        QVERIFY(std::is_sorted(m_progress.begin(), m_progress.end()));
        QVERIFY(m_progress.last() >= 90);
        const QImage shown = m_dialog->MultiMedia()->grab().toImage();
        const QColor face = m_dialog->palette().color(QPalette::Button);
        // Wider than the preview is: full width, button face above and below.
        QCOMPARE(shown.pixelColor(shown.width() / 2, 1), face);
        QCOMPARE(shown.pixelColor(shown.width() / 2, shown.height() - 2), face);
        QVERIFY(shown.pixelColor(shown.width() / 2, shown.height() / 2) != face);
        QVERIFY(shown.pixelColor(1, shown.height() / 2) != face);
        for (auto* bar : m_dialog->MultiMedia()->findChildren<QScrollBar*>())
            QVERIFY(!bar->isVisible());
    }

    void tiffPages_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("page");
        QTest::addColumn<QList<bool>>("enabled");
        QTest::newRow("3 pages, page 5 asked") << "tiff-pages.tif" << 5 << "P 3 of 3" << 2
                                                << QList<bool>{true, true, false, false};
        QTest::newRow("3 pages, page 1 asked") << "tiff-pages.tif" << 1 << "P 2 of 3" << 1
                                                << QList<bool>{true, true, true, true};
        QTest::newRow("single page") << "tiff-grey.tif" << 3 << "P 1 of 1" << 0
                                     << QList<bool>{false, false, false, false};
    }

    void tiffPages()
    {
        QFETCH(QString, file);
        QFETCH(int, selected);
        QFETCH(QString, label);
        QFETCH(int, page);
        QFETCH(QList<bool>, enabled);
        const QString tiff = Copy(kData + QStringLiteral("/raster/") + file, file);
        m_dialog->TiffSelectedPage = int16_t(selected);
        m_dialog->DoSelectionChange(tiff);
        QVERIFY(m_dialog->DocumentImage()->isVisible());
        QVERIFY(!m_dialog->MultiMedia()->isVisible());
        QVERIFY(m_dialog->TifTrackPanel()->isVisible());
        QCOMPARE(m_dialog->PageLabel()->text(), label);
        QCOMPARE(int(m_dialog->TiffSelectedPage), page);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(m_dialog->PageButton(i)->isEnabled(), enabled[i]);
        // Fitted: the page fills the viewer's narrower side less 4 pixels.
        const auto* viewer = m_dialog->DocumentImage();
        const QSize pageSize = viewer->Page().size();
        const double expected = std::min(double(viewer->width() - 4) / pageSize.width(),
                                         double(viewer->height() - 4) / pageSize.height()) * 100.0;
        QCOMPARE(viewer->Scale(), expected);
        if (page == 2) {
            // The pages differ: the buttons really turn them.
            const QImage third = viewer->Page();
            m_dialog->PageButton(0)->click();
            QCOMPARE(m_dialog->PageLabel()->text(), QStringLiteral("P 1 of 3"));
            QVERIFY(viewer->Page() != third);
            m_dialog->PageButton(3)->click();
            QCOMPARE(m_dialog->PageLabel()->text(), QStringLiteral("P 3 of 3"));
            QCOMPARE(viewer->Page(), third);
        }
    }

    void nothingToPreview()
    {
        m_dialog->DoSelectionChange(Copy(kSmallPhoto, QStringLiteral("photo.jpg")));
        QVERIFY(PictureShown());
        m_dialog->DoSelectionChange(m_dir->path());
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 0);
        m_dialog->DoSelectionChange(Copy(kSmallPhoto, QStringLiteral("again.jpg")));
        QVERIFY(PictureShown());
        m_dialog->DoSelectionChange(m_dir->filePath(QStringLiteral("missing.jpg")));
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 0);
    }

    // Toggle up: nothing on the right changes; down again: the selection shows.
    void previewToggle()
    {
        const QString photo = Copy(kSmallPhoto, QStringLiteral("photo.jpg"));
        QVERIFY(m_dialog->PreviewBtn()->isChecked());
        m_dialog->PreviewBtn()->click();
        QVERIFY(!m_dialog->PreviewBtn()->isChecked());
        m_dialog->DoSelectionChange(photo);
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 0);
        m_dialog->DoSelectionChange(Copy(kData + QStringLiteral("/raster/tiff-pages.tif"), QStringLiteral("p.tif")));
        QVERIFY(!m_dialog->DocumentImage()->isVisible());
        QVERIFY(m_progress.isEmpty());
        m_dialog->DoSelectionChange(photo);
        m_dialog->PreviewBtn()->click();
        QVERIFY(PictureShown());
    }

    void fileNameHookSaysNo()
    {
        const QString photo = Copy(kSmallPhoto, QStringLiteral("photo.jpg"));
        m_dialog->DoSelectionChange(photo);
        QVERIFY(PictureShown());
        QStringList asked;
        m_dialog->OnMMFileName = [&](TMMOpenDialog*, const QString& name) {
            asked << name;
            return false;
        };
        const QString tiff = Copy(kData + QStringLiteral("/raster/tiff-pages.tif"), QStringLiteral("p.tif"));
        m_dialog->DoSelectionChange(tiff);
        QCOMPARE(asked, QStringList{tiff});
        QVERIFY(PictureShown());
        QCOMPARE(m_dialog->MultiMedia()->MediaName(), photo);
        QVERIFY(!m_dialog->DocumentImage()->isVisible());
    }

    // A sound opens in the player and waits for play.
    void soundWaitsForPlay()
    {
        if (!dialogs::MediaRegistered(QStringLiteral("wav")))
            QSKIP("Qt Multimedia here decodes no WAV (GStreamer plug-ins missing)");
        QFile wave(m_dir->filePath(QStringLiteral("tone.wav")));
        QVERIFY(wave.open(QIODevice::WriteOnly));
        wave.write(Wave());
        wave.close();
        m_dialog->DoSelectionChange(wave.fileName());
        QVERIFY(m_dialog->MediaPlayer()->isVisible());
        QVERIFY(m_dialog->MediaPlayer()->PlayButton()->isVisible());
        QVERIFY(m_dialog->MediaPlayer()->PauseButton()->isVisible());
        QVERIFY(m_dialog->MediaPlayer()->StopButton()->isVisible());
        QCOMPARE(m_dialog->MediaPlayer()->FileName(), wave.fileName());
        QTest::qWait(700);
        QVERIFY(!m_dialog->MediaPlayer()->Playing());
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 0);
        m_dialog->MediaPlayer()->PlayButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_dialog->MediaPlayer()->Playing() || m_dialog->MediaPlayer()->Position() > 0, 5000);
        m_dialog->MediaPlayer()->StopButton()->click();
        QTRY_VERIFY(!m_dialog->MediaPlayer()->Playing());
    }

    // Closing the dialog in the middle of a long decode stops it at its next
    // progress report: nothing is shown, and no report moves the bar after.
    void closingStopsTheDecoding()
    {
        const QString photo = Copy(kLargePhoto, QStringLiteral("large.jpg"));
        int afterClose = 0;
        bool closed = false;
        connect(m_dialog->ProgressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (closed)
                ++afterClose;
            else if (value >= 5) {
                closed = true;
                m_dialog->reject();
            }
        });
        m_dialog->DoSelectionChange(photo);
        QVERIFY(closed);
        QVERIFY(m_dialog->Cancelled());
        QCOMPARE(afterClose, 0);
        QCOMPARE(m_dialog->MultiMedia()->Picture().Width(), 0);
    }

    // The look of the dialog on a real photo, for docs/open-dialog.png.
    void screenshot()
    {
        const QString target = qEnvironmentVariable("SNIMKOREZ_DIALOG_SHOT");
        if (target.isEmpty())
            QSKIP("set SNIMKOREZ_DIALOG_SHOT=<file.png> to write the screenshot");
        // As the program shows it: in Russian.
        QTranslator russian;
        if (russian.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&russian);
        m_dialog = std::make_unique<TMMOpenDialog>();
        m_dialog->resize(900, 500);
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        Copy(QStringLiteral(SNIMKOREZ_PHOTOS "/Wine_by_Jakkub_Mede.jpg"), QStringLiteral("Вино.jpg"));
        Copy(kSmallPhoto, QStringLiteral("Диван.jpg"));
        const QString shown = Copy(QStringLiteral(SNIMKOREZ_PHOTOS "/sunset_by_Aitzol_Berasategi.jpg"),
                                   QStringLiteral("Закат.jpg"));
        m_dialog->setDirectory(m_dir->path());
        m_dialog->selectFile(shown);
        Q_EMIT m_dialog->currentChanged(shown);
        QVERIFY(PictureShown());
        QTest::qWait(300);
        QVERIFY(m_dialog->grab().save(target));
    }
};

QTEST_MAIN(OpenDialogTest)
#include "open_dialog_test.moc"
