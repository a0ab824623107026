// The preview control as the seller sees it: pixel checks on grab() of a
// real control, with pictures whose every pixel tells where it came from.
#include "imaging/DLL96V1.h"
#include "imaging/TPicture.h"
#include "platform/Exception.h"
#include "preview/TPMultiImage.h"

#include <QFrame>
#include <QImageWriter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using preview::TPMultiImage;

namespace {

// Each picture pixel encodes its own coordinates (never black).
QRgb Marker(int x, int y)
{
    return qRgb(x & 0xFF, y & 0xFF, 16 * (x >> 8) + (y >> 8) + 1) & 0xFFFFFF;
}

imaging::TPicture MarkedPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, Marker(x, y));
    imaging::TPicture picture;
    picture.SetBitmap(imaging::TBitmap(image));
    return picture;
}

constexpr QRgb kBlack = 0;

QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, y) & 0xFFFFFF;
}

// Counts the pixels of `colour` inside `area`.
int CountColour(const QImage& image, QRgb colour, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += At(image, x, y) == (colour & 0xFFFFFF) ? 1 : 0;
    return n;
}

bool BarHidden(const QWidget* bar)
{
    return bar->isHidden() && bar->x() == -1 && bar->y() == -1 && bar->width() <= 0;
}

// Reaches the load side's view-reset flag and the image type, as loading by
// name does.
class Control : public TPMultiImage {
public:
    void LoadLike(const imaging::TPicture& picture)
    {
        m_resetViewOnChange = true;
        SetPicture(picture);
        m_resetViewOnChange = false;
    }
    void SetImageType(const QString& type) { m_fileInfo.imageType = type; }
};

// The control on a form of another colour, so that the window's own
// background erase (the form's colour) cannot pass for the control's paint.
struct OnForm {
    std::unique_ptr<QWidget> form = std::make_unique<QWidget>();
    Control* control = new Control;

    OnForm()
    {
        QPalette green = form->palette();
        green.setColor(QPalette::Window, Qt::green);
        form->setPalette(green);
        form->resize(800, 500);
        control->setParent(form.get());
    }
    Control* operator->() const { return control; }
    Control& operator*() const { return *control; }
};

// Set up as the main window sets up its control.
OnForm MainWindowControl()
{
    OnForm control;
    control->SetBounds(0, 0, 728, 400);
    control->SetGrabHandCursor(5);
    control->SetScrolling(true);
    control->SetShowScrollbars(true);
    control->SetColor(Qt::black);
    control->SetPicture(imaging::TPicture());
    (void)control->Picture().Bitmap();
    control->SetScrollbarWidth(16);
    control->SetParentColor(true);
    control->Loaded();
    control.form->show();
    if (!QTest::qWaitForWindowExposed(control.form.get()))
        qFatal("the form was never shown");
    return control;
}

QImage Grab(QWidget& widget)
{
    return widget.grab().toImage();
}

}  // namespace

class PreviewDisplayTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void constructionDefaults();
    void noGraphicShowsColour();
    void mainWindowAtStart();
    void fittingPictureAtTopLeft();
    void tallPictureScrolls();
    void barMovesTheOriginAndPaintsAtOnce();
    void loadResetsViewOtherChangesKeepIt();
    void stretchRatioFitsAndRestores();
    void stretchSwitchesStretchRatioOff();
    void zoomByChangesNothing();
    void showScrollbarsOffPullsBack();
    void centring_data();
    void centring();
    void plainAndTilePaths();
    void opaqueAndAutoSize();
    void textOverlay();
    void iconDrawnAsItIs();
    void metafileRefused();
};

void PreviewDisplayTest::initTestCase()
{
    imaging::DLL96V1::SetDllDirectory(QStringLiteral(SNIMKOREZ_MODULE_DIR));
}

void PreviewDisplayTest::constructionDefaults()
{
    TPMultiImage control;
    QCOMPARE(control.size(), QSize(105, 105));
    QCOMPARE(control.Color(), control.palette().color(QPalette::Button));
    QCOMPARE(control.Scale(), 1.0);
    QCOMPARE(control.OriginX(), 0);
    QCOMPARE(control.OriginY(), 0);
    QCOMPARE(control.ScrollbarWidth(), 12);
    QVERIFY(control.Scrolling() && control.ShowScrollbars() && control.TabStop());
    QCOMPARE(control.Picture().GraphicKind(), imaging::TPicture::Kind::Bitmap);
    QVERIFY(!control.Picture().Bitmap().HandleAllocated());
    QCOMPARE(control.GrabHandCursor(), int16_t{5});
    QVERIFY(!control.IsLoaded());
    // Vertical bar first, then horizontal, then the corner.
    const auto children = control.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(children.size(), 3);
    QCOMPARE(children[0], control.VerticalBar());
    QCOMPARE(children[1], control.HorizontalBar());
    QCOMPARE(children[2], static_cast<QWidget*>(control.CornerSquare()));
    QCOMPARE(control.VerticalBar()->orientation(), Qt::Vertical);
}

void PreviewDisplayTest::noGraphicShowsColour()
{
    OnForm control;
    control->SetParentColor(true);
    control->SetColor(Qt::red);
    control->Picture().Clear();
    control->Loaded();
    control.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(control.form.get()));
    const QImage shot = Grab(*control);
    QCOMPARE(CountColour(shot, qRgb(255, 0, 0), shot.rect()), 105 * 105);
    QVERIFY(BarHidden(control->VerticalBar()));
    QVERIFY(BarHidden(control->HorizontalBar()));
    QVERIFY(BarHidden(control->CornerSquare()));
}

void PreviewDisplayTest::mainWindowAtStart()
{
    const OnForm control = MainWindowControl();
    QVERIFY(control->IsLoaded());
    QCOMPARE(control->Picture().GraphicKind(), imaging::TPicture::Kind::Bitmap);
    const QImage shot = Grab(*control);
    QCOMPARE(shot.size(), QSize(728, 400));
    QCOMPARE(CountColour(shot, kBlack, shot.rect()), 728 * 400);
    QVERIFY(BarHidden(control->VerticalBar()));
    QVERIFY(BarHidden(control->HorizontalBar()));
    QCOMPARE(control->VerticalBar()->focusPolicy(), Qt::NoFocus);
    // Loaded set the bars' steps.
    QCOMPARE(control->VerticalBar()->singleStep(), 5);
    QCOMPARE(control->HorizontalBar()->pageStep(), 25);
}

void PreviewDisplayTest::fittingPictureAtTopLeft()
{
    const OnForm control = MainWindowControl();
    QRect area;
    control->OnPaintArea = [&](TPMultiImage*, int x, int y, int xx, int yy) {
        area = QRect(x, y, xx, yy);
    };
    control->SetPicture(MarkedPicture(300, 200));
    const QImage shot = Grab(*control);
    for (const QPoint p : {QPoint(0, 0), QPoint(299, 0), QPoint(0, 199), QPoint(299, 199),
                           QPoint(123, 77)})
        QCOMPARE(At(shot, p.x(), p.y()), Marker(p.x(), p.y()));
    // Black to the right and below, and nothing else there.
    QCOMPARE(CountColour(shot, kBlack, QRect(300, 0, 428, 400)), 428 * 400);
    QCOMPARE(CountColour(shot, kBlack, QRect(0, 200, 300, 200)), 300 * 200);
    QCOMPARE(area, QRect(0, 0, 300, 200));
    QVERIFY(BarHidden(control->VerticalBar()));
}

void PreviewDisplayTest::tallPictureScrolls()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 546));
    const QImage shot = Grab(*control);
    QScrollBar* vertical = control->VerticalBar();
    QScrollBar* horizontal = control->HorizontalBar();
    QVERIFY(vertical->isVisible() && horizontal->isVisible() &&
            control->CornerSquare()->isVisible());
    QCOMPARE(vertical->minimum(), 0);
    QCOMPARE(vertical->maximum(), 162);
    QCOMPARE(horizontal->minimum(), 0);
    QCOMPARE(horizontal->maximum(), 16);
    QCOMPARE(vertical->geometry(), QRect(712, 1, 16, 383));
    QCOMPARE(horizontal->geometry(), QRect(1, 384, 711, 16));
    QCOMPARE(control->CornerSquare()->geometry(), QRect(712, 384, 16, 16));
    QCOMPARE(vertical->focusPolicy(), Qt::StrongFocus);
    QVERIFY(control->ScrollbarsReserved());
    // Rows 0..383 of the picture, at full width up to the vertical bar.
    for (const int y : {0, 1, 200, 383}) {
        QCOMPARE(At(shot, 0, y), Marker(0, y));
        QCOMPARE(At(shot, 711, y), Marker(711, y));
    }
    // Row 384 is under the horizontal bar, not drawn over it.
    QVERIFY(At(shot, 300, 392) != Marker(300, 392));
    QVERIFY(At(shot, 300, 392) != Marker(300, 384));
}

void PreviewDisplayTest::barMovesTheOriginAndPaintsAtOnce()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 546));
    (void)Grab(*control);
    int paints = 0;
    control->OnPaint = [&](TPMultiImage*) { ++paints; };

    control->VerticalBar()->setValue(100);
    QCOMPARE(control->OriginY(), 100);
    QVERIFY(paints > 0);  // without waiting for the event loop

    control->HorizontalBar()->setValue(16);
    QCOMPARE(control->OriginX(), 16);
    const QImage shot = Grab(*control);
    QCOMPARE(At(shot, 0, 0), Marker(16, 100));
    QCOMPARE(At(shot, 695, 383), Marker(711, 483));
    QCOMPARE(control->VerticalBar()->value(), 100);
}

void PreviewDisplayTest::loadResetsViewOtherChangesKeepIt()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 546));
    (void)Grab(*control);
    control->VerticalBar()->setValue(120);
    control->HorizontalBar()->setValue(10);
    int changes = 0;
    control->OnPictureChanged = [&](TPMultiImage*) { ++changes; };

    // A paste or an assignment keeps the view.
    control->SetPicture(MarkedPicture(800, 600));
    QCOMPARE(changes, 1);
    QCOMPARE(control->OriginX(), 10);
    QCOMPARE(control->OriginY(), 120);
    QCOMPARE(At(Grab(*control), 0, 0), Marker(10, 120));

    // A load by name starts at the top-left.
    control->LoadLike(MarkedPicture(800, 600));
    QCOMPARE(changes, 2);
    QCOMPARE(control->OriginX(), 0);
    QCOMPARE(control->OriginY(), 0);
    const QImage shot = Grab(*control);
    QCOMPARE(At(shot, 0, 0), Marker(0, 0));
    QCOMPARE(control->VerticalBar()->value(), 0);
    QCOMPARE(control->HorizontalBar()->value(), 0);
}

void PreviewDisplayTest::stretchRatioFitsAndRestores()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(1456, 1000));
    (void)Grab(*control);
    control->HorizontalBar()->setValue(30);
    control->VerticalBar()->setValue(40);
    control->SetStretch(true);
    control->SetStretchRatio(true);
    QVERIFY(control->StretchRatio());
    QVERIFY(!control->Stretch());
    QCOMPARE(control->OriginX(), 0);
    QCOMPARE(control->OriginY(), 0);
    QCOMPARE(control->Scale(), 0.4);  // min(728 / 1456, 400 / 1000)

    // 1456 × 0.4 = 582.4 columns of picture, black after them, no bars.
    const QImage fitted = Grab(*control);
    QVERIFY(BarHidden(control->VerticalBar()));
    // Sampled at pixel centres: screen x covers picture x / 0.4 + 1.25.
    QCOMPARE(At(fitted, 0, 0), Marker(1, 1));
    QCOMPARE(At(fitted, 100, 100), Marker(251, 251));
    QVERIFY(At(fitted, 581, 399) != kBlack);
    QCOMPARE(CountColour(fitted, kBlack, QRect(582, 0, 146, 400)), 146 * 400);

    control->SetStretchRatio(false);
    QCOMPARE(control->Scale(), 1.0);
    QCOMPARE(control->OriginX(), 30);
    QCOMPARE(control->OriginY(), 40);
    const QImage back = Grab(*control);
    QCOMPARE(At(back, 0, 0), Marker(30, 40));
    QVERIFY(control->VerticalBar()->isVisible());

    // A resize fits again.
    control->SetStretchRatio(true);
    control->SetBounds(0, 0, 364, 400);
    QCOMPARE(control->Scale(), 0.25);
}

void PreviewDisplayTest::stretchSwitchesStretchRatioOff()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(1000, 800));
    (void)Grab(*control);
    control->VerticalBar()->setValue(50);
    control->SetStretchRatio(true);
    control->SetStretch(true);
    QVERIFY(control->Stretch());
    QVERIFY(!control->StretchRatio());
    QCOMPARE(control->Scale(), 1.0);
    QCOMPARE(control->OriginY(), 50);

    // The whole control is picture, no bars.
    const QImage shot = Grab(*control);
    QVERIFY(BarHidden(control->VerticalBar()));
    QVERIFY(BarHidden(control->HorizontalBar()));
    QVERIFY(BarHidden(control->CornerSquare()));
    QCOMPARE(At(shot, 0, 0), Marker(0, 0));
    QCOMPARE(CountColour(shot, kBlack, shot.rect()), 0);
    const QRgb corner = At(shot, 727, 399);
    QVERIFY(qRed(corner) > 200 && qBlue(corner) == 16 * 3 + 3 + 1);
}

void PreviewDisplayTest::zoomByChangesNothing()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 546));
    control->VerticalBar()->setValue(20);
    const QImage before = Grab(*control);
    control->SetZoomBy(50);
    QCOMPARE(control->ZoomBy(), 50);
    const QImage after = Grab(*control);
    QCOMPARE(after, before);
    QCOMPARE(At(after, 0, 0), Marker(0, 20));
}

void PreviewDisplayTest::showScrollbarsOffPullsBack()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 546));
    (void)Grab(*control);
    control->VerticalBar()->setValue(162);
    QCOMPARE(control->OriginY(), 162);

    control->SetShowScrollbars(false);
    QCOMPARE(control->OriginY(), 145);  // the 16-row gap closed, one row more
    QCOMPARE(control->OriginX(), 0);
    const QImage shot = Grab(*control);
    QVERIFY(BarHidden(control->VerticalBar()));
    QVERIFY(BarHidden(control->HorizontalBar()));
    QVERIFY(!control->ScrollbarsReserved());
    QCOMPARE(At(shot, 0, 0), Marker(0, 145));
    QCOMPARE(At(shot, 727, 399), Marker(727, 544));
}

void PreviewDisplayTest::centring_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QPoint>("offset");
    QTest::newRow("fits") << QSize(300, 200) << QPoint(214, 100);
    QTest::newRow("taller") << QSize(600, 546) << QPoint(64, 0);
    QTest::newRow("wider") << QSize(1000, 301) << QPoint(0, 49);
}

void PreviewDisplayTest::centring()
{
    QFETCH(QSize, picture);
    QFETCH(QPoint, offset);
    const OnForm control = MainWindowControl();
    control->SetCenter(true);
    control->SetPicture(MarkedPicture(picture.width(), picture.height()));
    const QImage shot = Grab(*control);
    QCOMPARE(control->CenterOffsetX(), offset.x());
    QCOMPARE(control->CenterOffsetY(), offset.y());
    QCOMPARE(At(shot, offset.x(), offset.y()), Marker(0, 0));
    if (offset.x() > 0)
        QCOMPARE(At(shot, offset.x() - 1, offset.y()), kBlack);
    if (offset.y() > 0)
        QCOMPARE(At(shot, offset.x(), offset.y() - 1), kBlack);

    // Offsets are worked out afresh at each paint.
    control->SetCenter(false);
    (void)Grab(*control);
    QCOMPARE(control->CenterOffsetX(), 0);
    QCOMPARE(control->CenterOffsetY(), 0);
}

void PreviewDisplayTest::plainAndTilePaths()
{
    OnForm form;
    Control& control = *form;
    control.SetParentColor(true);
    control.SetColor(Qt::black);
    control.SetPicture(MarkedPicture(50, 40));
    control.Loaded();
    form.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.form.get()));

    // 1:1 without scrolling, centred: (105 − 50) div 2, (105 − 40) div 2.
    control.SetScrolling(false);
    control.SetCenter(true);
    QImage shot = Grab(control);
    QCOMPARE(At(shot, 27, 32), Marker(0, 0));
    QCOMPARE(At(shot, 76, 71), Marker(49, 39));
    QCOMPARE(At(shot, 26, 32), kBlack);
    QCOMPARE(At(shot, 77, 71), kBlack);
    QCOMPARE(CountColour(shot, kBlack, shot.rect()), 105 * 105 - 50 * 40);

    control.SetTileWindow(true);
    shot = Grab(control);
    QCOMPARE(At(shot, 0, 0), Marker(0, 0));
    QCOMPARE(At(shot, 55, 45), Marker(5, 5));
    QCOMPARE(At(shot, 104, 104), Marker(4, 24));
}

void PreviewDisplayTest::opaqueAndAutoSize()
{
    const OnForm control = MainWindowControl();
    control->SetPicture(MarkedPicture(728, 400));
    QVERIFY(control->Opaque());
    QVERIFY(control->testAttribute(Qt::WA_OpaquePaintEvent));
    control->SetPicture(MarkedPicture(727, 400));
    QVERIFY(!control->Opaque());
    QVERIFY(!control->testAttribute(Qt::WA_OpaquePaintEvent));

    control->SetAutoSize(true);
    QCOMPARE(control->size(), QSize(727, 400));
    control->SetPicture(MarkedPicture(320, 240));
    QCOMPARE(control->size(), QSize(320, 240));
    QVERIFY(control->Opaque());
}

void PreviewDisplayTest::textOverlay()
{
    const OnForm control = MainWindowControl();
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    control->setPalette(palette);
    QFont font = control->font();
    font.setPixelSize(24);
    control->setFont(font);
    control->SetText(QStringLiteral("ЖЖЖЖ"));
    control->SetTextLeft(100);
    control->SetTextTop(200);
    const QRgb white = qRgb(255, 255, 255);
    const QRgb red = qRgb(255, 0, 0);

    QImage shot = Grab(*control);
    QVERIFY(CountColour(shot, white, QRect(100, 200, 200, 40)) > 20);
    QCOMPARE(CountColour(shot, white, shot.rect()),
             CountColour(shot, white, QRect(100, 200, 200, 40)));

    // The shadow lies 2 pixels right and down, under the text.
    control->SetTextShadow(true);
    control->SetTextShadowColor(Qt::red);
    control->update();
    shot = Grab(*control);
    QVERIFY(CountColour(shot, red, QRect(102, 202, 200, 40)) > 10);
    QCOMPARE(CountColour(shot, red, QRect(0, 0, 102, 400)), 0);
    QCOMPARE(CountColour(shot, red, QRect(0, 0, 728, 202)), 0);

    // Turned 90° counter-clockwise about its top-left corner: it runs upward.
    control->SetTextShadow(false);
    control->SetTextRotate(90);
    shot = Grab(*control);
    QVERIFY(CountColour(shot, white, QRect(100, 100, 40, 101)) > 20);
    QCOMPARE(CountColour(shot, white, QRect(0, 201, 728, 199)), 0);
}

void PreviewDisplayTest::iconDrawnAsItIs()
{
    QTemporaryDir folder;
    const QString name = folder.filePath(QStringLiteral("small.ico"));
    QImage icon(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            icon.setPixel(x, y, 0xFF000000 | Marker(x * 4, y * 4));
    QVERIFY(QImageWriter(name, "ico").write(icon));

    const OnForm control = MainWindowControl();
    control->SetImageType(QStringLiteral("ICO"));
    control->Picture().LoadFromFile(name);
    QCOMPARE(control->Picture().GraphicKind(), imaging::TPicture::Kind::Icon);
    QCOMPARE(control->Picture().Width(), 32);
    QRect area;
    control->OnPaintArea = [&](TPMultiImage*, int x, int y, int right, int bottom) {
        area = QRect(QPoint(x, y), QPoint(right - 1, bottom - 1));
    };
    QImage shot = Grab(*control);
    QCOMPARE(At(shot, 0, 0), Marker(0, 0));
    QCOMPARE(At(shot, 31, 31), Marker(124, 124));
    QCOMPARE(area, QRect(0, 0, 32, 32));
    // The icon is still there after painting.
    QCOMPARE(control->Picture().GraphicKind(), imaging::TPicture::Kind::Icon);

    control->SetCenter(true);
    shot = Grab(*control);
    QCOMPARE(At(shot, 348, 184), Marker(0, 0));
    QCOMPARE(area, QRect(348, 184, 32, 32));

    // Painted the same way when the image type does not say ICO.
    control->SetCenter(false);
    control->SetImageType(QStringLiteral("JPEG"));
    shot = Grab(*control);
    QCOMPARE(At(shot, 31, 31), Marker(124, 124));
    QCOMPARE(At(shot, 32, 0), kBlack);
}

void PreviewDisplayTest::metafileRefused()
{
    QTemporaryDir folder;
    const QString name = folder.filePath(QStringLiteral("drawing.WMF"));
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64, '\x01'));
    file.close();
    imaging::TPicture picture;
    picture.SetBitmap(imaging::TBitmap(QImage(4, 4, QImage::Format_RGB888)));
    int changes = 0;
    picture.OnChange = [&] { ++changes; };
    try {
        picture.LoadFromFile(name);
        QFAIL("a metafile was accepted");
    } catch (const platform::Exception& error) {
        QCOMPARE(error.Message(), QStringLiteral("Формат WMF не поддерживается"));
    }
    QVERIFY_THROWS_EXCEPTION(platform::Exception,
                             picture.LoadFromFile(folder.filePath(QStringLiteral("none.ico"))));
    // A failed load leaves the picture alone.
    QCOMPARE(changes, 0);
    QCOMPARE(picture.GraphicKind(), imaging::TPicture::Kind::Bitmap);
    QCOMPARE(picture.Width(), 4);
}

QTEST_MAIN(PreviewDisplayTest)
#include "preview_display_test.moc"
