// The preview control's input: pan arithmetic and the band's corner on their
// own, then the real control dragged with the mouse and driven by its
// clipboard keys.
#include "ImagingModules.h"
#include "imaging/TPicture.h"
#include "preview/PreviewLayout.h"
#include "preview/TPMultiImage.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

#include <memory>

using preview::BandCorner;
using preview::BandCornerFor;
using preview::PanAxis;
using preview::TPMultiImage;

namespace {

QImage Marked(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, 1 + ((x >> 8) << 4) + (y >> 8)));
    return image;
}

}  // namespace

Q_DECLARE_METATYPE(BandCorner)

class PreviewInputTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testfiles::ImagingModules> m_modules;
    std::unique_ptr<TPMultiImage> m_control;

    void Show(const QImage& image)
    {
        imaging::TPicture picture;
        picture.SetBitmap(imaging::TBitmap(image));
        m_control->SetPicture(picture);
    }

private Q_SLOTS:
    void init()
    {
        m_modules = std::make_unique<testfiles::ImagingModules>(QStringLiteral(SNIMKOREZ_MODULE_DIR));
        m_control = std::make_unique<TPMultiImage>();
        m_control->SetBounds(0, 0, 300, 200);
        m_control->SetScrollbarWidth(16);
        m_control->SetColor(Qt::black);
        m_control->Loaded();
        m_control->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_control.get()));
    }

    void cleanup()
    {
        m_control.reset();
        m_modules.reset();
    }

    void panArithmetic_data()
    {
        QTest::addColumn<int>("origin");
        QTest::addColumn<int>("delta");
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("picture");
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("reserved");
        QTest::addColumn<int>("expected");
        QTest::newRow("drag right 1 at 1.0") << 10 << -1 << 300 << 1000 << 1.0 << 16 << 9;
        QTest::newRow("drag left 5 at 1.0") << 10 << 5 << 300 << 1000 << 1.0 << 16 << 15;
        QTest::newRow("one screen pixel at 4.0 moves one picture pixel") << 10 << 1 << 300 << 1000 << 4.0 << 0 << 11;
        QTest::newRow("three screen pixels at 0.5 move six") << 10 << 3 << 300 << 2000 << 0.5 << 0 << 16;
        QTest::newRow("eight screen pixels at 4.0 move two") << 10 << 8 << 300 << 1000 << 4.0 << 0 << 12;
        QTest::newRow("past the left edge") << 3 << -10 << 300 << 1000 << 1.0 << 16 << 0;
        QTest::newRow("picture narrower than the control") << 5 << 3 << 300 << 200 << 1.0 << 0 << 0;
        QTest::newRow("past the right edge meets the bar") << 700 << 50 << 300 << 1000 << 1.0 << 16 << 716;
        QTest::newRow("right edge at 2.0") << 300 << 100 << 300 << 400 << 2.0 << 16 << 258;
    }

    void panArithmetic()
    {
        QFETCH(int, origin);
        QFETCH(int, delta);
        QFETCH(int, control);
        QFETCH(int, picture);
        QFETCH(double, scale);
        QFETCH(int, reserved);
        QFETCH(int, expected);
        QCOMPARE(PanAxis(origin, delta, control, picture, scale, reserved), expected);
    }

    void bandCorner_data()
    {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<BandCorner>("expected");
        // Control 300 × 200 (k = 2/3), anchor (100, 100), pointer 50 away:
        // offsets 41.6 across and 27.7 down, truncated.
        QTest::newRow("right-down") << QPoint(130, 140) << BandCorner{141, 127};
        QTest::newRow("left-down") << QPoint(70, 140) << BandCorner{59, 127};
        QTest::newRow("left-up") << QPoint(70, 60) << BandCorner{59, 73};
        QTest::newRow("right-up") << QPoint(130, 60) << BandCorner{141, 73};
        QTest::newRow("straight right is right-down") << QPoint(150, 100) << BandCorner{141, 127};
        QTest::newRow("straight left is left-down") << QPoint(50, 100) << BandCorner{59, 127};
        QTest::newRow("straight up is left-up") << QPoint(100, 50) << BandCorner{59, 73};
        QTest::newRow("straight down is right-down") << QPoint(100, 150) << BandCorner{141, 127};
    }

    void bandCorner()
    {
        QFETCH(QPoint, pointer);
        QFETCH(BandCorner, expected);
        const BandCorner corner = BandCornerFor(100, 100, pointer.x(), pointer.y(), 300, 200);
        QCOMPARE(corner.x, expected.x);
        QCOMPARE(corner.y, expected.y);
    }

    // A drag to the right by 1 pixel moves the picture right by 1 pixel; the
    // grab hand shows while panning and both cursors come back.
    void dragPansTheBigPicture()
    {
        Show(Marked(1000, 800));
        const Qt::CursorShape before = m_control->cursor().shape();
        QTest::mousePress(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QVERIFY(m_control->Panning());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QTest::mouseMove(m_control.get(), QPoint(140, 90));
        QCOMPARE(m_control->OriginX(), 10);
        QCOMPARE(m_control->OriginY(), 10);
        QTest::mouseMove(m_control.get(), QPoint(141, 90));
        QCOMPARE(m_control->OriginX(), 9);
        // What is drawn follows at once.
        const QImage shown = m_control->grab().toImage();
        QCOMPARE(shown.pixel(0, 0) & 0xFFFFFF, Marked(1000, 800).pixel(9, 10) & 0xFFFFFF);
        QTest::mouseMove(m_control.get(), QPoint(400, 400));  // far past the left and top edges
        QCOMPARE(m_control->OriginX(), 0);
        QCOMPARE(m_control->OriginY(), 0);
        QTest::mouseMove(m_control.get(), QPoint(-2000, -2000));  // far past the right and bottom edges
        QCOMPARE(m_control->OriginX(), 1000 - (300 - 16));
        QCOMPARE(m_control->OriginY(), 800 - (200 - 16));
        QTest::mouseRelease(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(-2000, -2000));
        QVERIFY(!m_control->Panning());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(m_control->cursor().shape(), before);
    }

    void smallPictureDoesNotPan()
    {
        Show(Marked(100, 80));
        QTest::mousePress(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QVERIFY(!m_control->Panning());
        QTest::mouseMove(m_control.get(), QPoint(10, 10));
        QCOMPARE(m_control->OriginX(), 0);
        QTest::mouseRelease(m_control.get(), Qt::LeftButton);
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void grabHandIsOurs()
    {
        const QCursor hand = TPMultiImage::ControlCursor(5);
        QCOMPARE(hand.shape(), Qt::BitmapCursor);
        QVERIFY(!hand.pixmap().isNull());
        QCOMPARE(TPMultiImage::ControlCursor(99).shape(), Qt::ArrowCursor);
        // Under another index the hand is still the hand, panning included.
        m_control->SetGrabHandCursor(12);
        QCOMPARE(TPMultiImage::ControlCursor(12).shape(), Qt::BitmapCursor);
        Show(Marked(1000, 800));
        QTest::mousePress(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BitmapCursor);
        QCOMPARE(m_control->cursor().shape(), Qt::BitmapCursor);
        QTest::mouseRelease(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
    }

    // Every copy key gives the same picture; every cut leaves only Color; a
    // paste brings the picture back and keeps the view.
    void clipboardKeys()
    {
        const QImage picture = Marked(400, 300);
        const auto copied = [] {
            return qvariant_cast<QImage>(QGuiApplication::clipboard()->mimeData()->imageData())
                .convertToFormat(QImage::Format_RGB888);
        };
        // A key of none stands for the slot (what WM_COPY or WM_CUT ask).
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_C, Qt::ControlModifier},
                                              std::pair{Qt::Key_Insert, Qt::ControlModifier},
                                              std::pair{Qt::Key_unknown, Qt::NoModifier}}) {
            QGuiApplication::clipboard()->clear();
            Show(picture);
            if (key == Qt::Key_unknown)
                QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Copy"));
            else
                QTest::keyClick(m_control.get(), key, modifiers);
            QCOMPARE(copied(), picture);
            const QByteArray bmp = QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("image/bmp"));
            QCOMPARE(QImage::fromData(bmp, "BMP").convertToFormat(QImage::Format_RGB888), picture);
        }
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_X, Qt::ControlModifier},
                                              std::pair{Qt::Key_Delete, Qt::ShiftModifier},
                                              std::pair{Qt::Key_unknown, Qt::NoModifier}}) {
            QGuiApplication::clipboard()->clear();
            Show(picture);
            if (key == Qt::Key_unknown)
                QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Cut"));
            else
                QTest::keyClick(m_control.get(), key, modifiers);
            QVERIFY(!m_control->Picture().HasGraphic());
            QCOMPARE(m_control->grab().toImage().pixel(150, 100) & 0xFFFFFF, 0u);
            QCOMPARE(copied(), picture);
        }
        // Paste: both keys, the view kept.
        Show(Marked(1000, 800));
        QTest::mousePress(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 100));
        QTest::mouseMove(m_control.get(), QPoint(100, 60));
        QTest::mouseRelease(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 60));
        QCOMPARE(m_control->OriginX(), 50);
        QGuiApplication::clipboard()->setImage(Marked(900, 700));
        QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Paste"));
        QCOMPARE(m_control->Picture().Width(), 900);
        QCOMPARE(m_control->OriginX(), 50);
        QGuiApplication::clipboard()->setImage(Marked(900, 700));
        QTest::keyClick(m_control.get(), Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(m_control->Picture().Width(), 900);
        QCOMPARE(m_control->OriginX(), 50);
        QCOMPARE(m_control->OriginY(), 40);
        QGuiApplication::clipboard()->setImage(picture);
        QTest::keyClick(m_control.get(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_control->Picture().Bitmap().Handle().convertToFormat(QImage::Format_RGB888), picture);
    }

    // An empty control shows no bars: after a cut and after a failed load.
    void noGraphicNoBars()
    {
        m_control->SetScrolling(true);
        m_control->SetShowScrollbars(true);
        for (int way = 0; way < 2; ++way) {
            Show(Marked(1000, 800));
            QVERIFY(m_control->VerticalBar()->isVisible() && m_control->HorizontalBar()->isVisible());
            if (way == 0)
                QTest::keyClick(m_control.get(), Qt::Key_Delete, Qt::ShiftModifier);
            else
                m_control->SetImageName(QStringLiteral("/nonexistent/photo.jpg"));
            QVERIFY(!m_control->Picture().HasGraphic());
            QVERIFY(!m_control->VerticalBar()->isVisible());
            QVERIFY(!m_control->HorizontalBar()->isVisible());
        }
    }

    // A grey picture stays grey, a half-transparent one lies on white, as a
    // file's transparency does.
    void pasteKeepsItsLooks()
    {
        Show(Marked(50, 40));
        QImage grey(64, 48, QImage::Format_Grayscale8);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x)
                grey.scanLine(y)[x] = static_cast<uchar>(x * 4);
        QGuiApplication::clipboard()->setImage(grey);
        QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Paste"));
        const QImage pastedGrey = m_control->Picture().Bitmap().Handle().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pastedGrey.size(), grey.size());
        for (int x : {0, 1, 31, 63})
            QCOMPARE(pastedGrey.pixel(x, 10), qRgb(x * 4, x * 4, x * 4));

        QImage glass(40, 30, QImage::Format_ARGB32);
        glass.fill(qRgba(200, 0, 0, 128));
        for (int y = 0; y < 30; ++y)
            glass.setPixel(0, y, qRgba(0, 0, 0, 0));  // a clear column
        QGuiApplication::clipboard()->setImage(glass);
        QVERIFY(QMetaObject::invokeMethod(m_control.get(), "Paste"));
        const QImage pastedGlass = m_control->Picture().Bitmap().Handle().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(pastedGlass.pixel(0, 5), qRgb(255, 255, 255));
        const QRgb half = pastedGlass.pixel(20, 15);
        QVERIFY2(qAbs(qRed(half) - 228) <= 2 && qAbs(qGreen(half) - 127) <= 2 && qAbs(qBlue(half) - 127) <= 2,
                 qPrintable(QString::number(half, 16)));
    }

    void emptyCopyAndNothingToPaste()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("диван"));
        QVERIFY_THROWS_EXCEPTION(std::exception, m_control->Copy());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("диван"));
        Show(Marked(50, 40));
        m_control->Paste();  // text only: nothing happens
        QCOMPARE(m_control->Picture().Width(), 50);
        m_control->Cut();
        m_control->Cut();  // nothing left to cut
        QVERIFY(!m_control->Picture().HasGraphic());
    }

    // With the band on, a drag reports anchor and aspect-kept corner.
    void selectionBand()
    {
        Show(Marked(1000, 800));
        m_control->SetAllowRubberBand(true);
        QList<QList<int>> reports;
        m_control->OnRubberband = [&](TPMultiImage*, preview::TMouseButton, Qt::KeyboardModifiers, int x, int y,
                                      int xx, int yy) { reports << QList<int>{x, y, xx, yy}; };
        QTest::mousePress(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        QVERIFY(!m_control->Panning());
        QTest::mouseMove(m_control.get(), QPoint(130, 140));
        QTest::mouseRelease(m_control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(130, 140));
        QCOMPARE(reports, (QList<QList<int>>{{100, 100, 141, 127}}));
        QCOMPARE(m_control->OriginX(), 0);
        m_control->SetRubberBandBtn(preview::TMouseButton::mbMiddle);
        QTest::mousePress(m_control.get(), Qt::MiddleButton, Qt::NoModifier, QPoint(100, 100));
        QTest::mouseRelease(m_control.get(), Qt::MiddleButton, Qt::NoModifier, QPoint(130, 140));
        QCOMPARE(reports.size(), 1);
    }
};

QTEST_MAIN(PreviewInputTest)
#include "preview_input_test.moc"
