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
#include <QVideoWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
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

    // The area a sound or video is drawn in, black for a sound, when it is on
    // screen over the preview.
    [[nodiscard]] bool VideoAreaShown() const
    {
        const auto* video = m_dialog->MultiMedia()->findChild<QVideoWidget*>();
        return video && video->isVisible();
    }

    QString WaveFile(const QString& name)
    {
        QFile wave(m_dir->filePath(name));
        if (!wave.open(QIODevice::WriteOnly) || wave.write(Wave()) < 0)
            return QString();
        return wave.fileName();
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

    // The page buttons are placed from the width their panel has on screen,
    // not from the default width of a panel still hidden when the dialog
    // opened: the first at the middle less its width, the others after it,
    // all right of the page label, which shows whole.
    void tiffPageButtonsBesideTheLabel()
    {
        const QString tiff = Copy(kData + QStringLiteral("/raster/tiff-pages.tif"), QStringLiteral("p.tif"));
        m_dialog->TiffSelectedPage = 0;
        m_dialog->DoSelectionChange(tiff);
        const QWidget* panel = m_dialog->TifTrackPanel();
        QVERIFY(panel->isVisible());
        const QLabel* label = m_dialog->PageLabel();
        QCOMPARE(label->text(), QStringLiteral("P 1 of 3"));
        // The preview is 230 wide: TrackerPanel's border and margin leave 226.
        QCOMPARE(panel->width(), 226);
        const int expected[4] = {90, 114, 138, 162};
        for (int i = 0; i < 4; ++i) {
            const QRect button = m_dialog->PageButton(i)->geometry();
            QCOMPARE(button.topLeft(), QPoint(expected[i], 1));
            QVERIFY(button.left() >= 0 && button.right() < panel->width());
            QVERIFY2(!button.intersects(label->geometry()), qPrintable(QStringLiteral("button %1 covers the label").arg(i)));
        }
        QVERIFY(label->isVisible());
        QVERIFY(panel->rect().contains(label->geometry()));
        QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
        // The same on the next opening, the panel hidden again in between.
        m_dialog->reject();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        m_dialog->DoSelectionChange(tiff);
        QCOMPARE(m_dialog->PageButton(0)->pos(), QPoint(90, 1));
    }

    // A sound's black video area goes whenever the preview stops showing the
    // sound: another selection that shows nothing, the toggle going up, the
    // next opening of the dialog, a TIFF page, a picture.
    void soundAreaGoesWithTheSound()
    {
        if (!dialogs::MediaRegistered(QStringLiteral("wav")))
            QSKIP("Qt Multimedia here decodes no WAV (GStreamer plug-ins missing)");
        const QString wave = WaveFile(QStringLiteral("tone.wav"));
        QVERIFY(!wave.isEmpty());
        const QString photo = Copy(kSmallPhoto, QStringLiteral("photo.jpg"));
        const QString tiff = Copy(kData + QStringLiteral("/raster/tiff-pages.tif"), QStringLiteral("p.tif"));

        m_dialog->DoSelectionChange(wave);
        QVERIFY(VideoAreaShown());
        m_dialog->DoSelectionChange(m_dir->path());
        QVERIFY(!VideoAreaShown());

        m_dialog->DoSelectionChange(wave);
        QVERIFY(VideoAreaShown());
        m_dialog->PreviewBtn()->click();
        QVERIFY(!m_dialog->PreviewBtn()->isChecked());
        QVERIFY(!VideoAreaShown());
        m_dialog->PreviewBtn()->click();
        QVERIFY(VideoAreaShown());

        m_dialog->reject();
        m_dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
        QVERIFY(!VideoAreaShown());

        m_dialog->DoSelectionChange(wave);
        QVERIFY(VideoAreaShown());
        m_dialog->DoSelectionChange(tiff);
        QVERIFY(!VideoAreaShown());
        m_dialog->DoSelectionChange(photo);
        QVERIFY(PictureShown());
        QVERIFY(!VideoAreaShown());
    }

    // Each selection made while a preview loads stops that load and is
    // previewed after it, at the same stack depth however many come: the
    // file-name hook, asked once per preview, sees the frame it runs in.
    void interruptionsKeepTheStackDepth()
    {
        constexpr int kInterruptions = 30;
        QStringList photos;
        for (int i = 0; i <= kInterruptions; ++i)
            photos << Copy(kSmallPhoto, QStringLiteral("photo-%1.jpg").arg(i));
        QStringList asked;
        QList<quintptr> frames;
        m_dialog->OnMMFileName = [&](TMMOpenDialog*, const QString& name) {
            asked << name;
            frames << reinterpret_cast<quintptr>(__builtin_frame_address(0));
            return true;
        };
        int interruptions = 0;
        connect(m_dialog->ProgressBar(), &QProgressBar::valueChanged, this, [&] {
            // Once in each preview, while it loads.
            if (interruptions < kInterruptions && interruptions + 1 == asked.size()) {
                ++interruptions;
                m_dialog->DoSelectionChange(photos[interruptions]);
            }
        });
        m_dialog->DoSelectionChange(photos[0]);
        QCOMPARE(interruptions, kInterruptions);
        QCOMPARE(asked, photos);
        const auto [low, high] = std::minmax_element(frames.begin(), frames.end());
        // One level of recursion per interruption would make this tens of
        // kilobytes; a loop leaves it at (nearly) nothing.
        QVERIFY2(*high - *low < 256, qPrintable(QStringLiteral("the stack grew by %1 bytes over %2 interruptions")
                                                      .arg(*high - *low)
                                                      .arg(kInterruptions)));
        QVERIFY(PictureShown());
        QCOMPARE(m_dialog->MultiMedia()->MediaName(), photos.last());
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
