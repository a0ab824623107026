#pragma once

#include "MessageStrip.h"
#include "imaging/TPicture.h"

#include <QColor>
#include <QPointer>
#include <QString>
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>

class QFrame;
class QPainter;
class QScrollBar;
class QTimer;

namespace preview {

struct Box;
struct ViewGeometry;

enum class TBlitMode { sLight, sDark, sLightest };
enum class TBorderStyle { bsNone, bsSingle };
enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum class TLoadResolution { lColorVga, lMonoChrome, lColor16, lColor256, lColorTrue, lAutoMatic };
enum class TSaveResolution { sColorVga, sMonoChrome, sColor16, sColor256, sColorTrue, sJpegGray, sAutoMatic };
enum class TTiffCompression { sNONE, sCCITT, sFAXCCITT3, sFAXCCITT4, sLZW, sPACKBITS };
enum class TPCDMode { pcd_BASE16, pcd_BASE4, pcd_BASE };
enum class TFXMethod { FXNone, FXHorizontal, FXVertical, FXDiagonal, FXDiagonalSquares, FXRectangles };

// What the last file looked at is (kept for others to read).
struct TFileInfo {
    QString imageType;
    int32_t width = 0;
    int32_t height = 0;
    int16_t bitsPerPixel = 0;
    int16_t figure1 = 0;
    int16_t figure2 = 0;
    QString compression;
    int32_t size = 0;
    int16_t tiffPage = 0;
};

// The preview control: shows a picture at scale 1.0 from a movable origin
// with scroll bars (or stretched, fitted, centred, tiled), loads it by file
// name through the imaging modules and saves it as JPEG.
//
// The display arithmetic lives in PreviewLayout (no widget); this class
// paints what it computes. Loading by name (ImageName) and saving
// (SaveAsJpeg, SharpenImage) are in TPMultiImageLoad.cpp and
// TPMultiImageSave.cpp. GUI thread only.
class TPMultiImage : public QWidget {
    Q_OBJECT

public:
    explicit TPMultiImage(QWidget* parent = nullptr);
    ~TPMultiImage() override;

    // ---- lifecycle and display -------------------------------------------
    // The form has set every stored property: scroll bars finished, the
    // annotation layer started.
    virtual void Loaded();
    [[nodiscard]] bool IsLoaded() const noexcept { return m_loaded; }
    // Position and size; once loaded, the scroll bars follow and a fitted
    // picture is fitted again.
    virtual void SetBounds(int left, int top, int width, int height);
    // The process-wide palette of the imaging layer, or none (empty).
    [[nodiscard]] QList<QRgb> GetPalette() const;

    [[nodiscard]] imaging::TPicture& Picture() noexcept { return m_picture; }
    // Copies `picture` into the control's own.
    void SetPicture(const imaging::TPicture& picture);

    [[nodiscard]] QColor Color() const noexcept { return m_color; }
    void SetColor(const QColor& color);
    [[nodiscard]] bool Scrolling() const noexcept { return m_scrolling; }
    void SetScrolling(bool scrolling);
    [[nodiscard]] bool ShowScrollbars() const noexcept { return m_showScrollbars; }
    void SetShowScrollbars(bool show);
    [[nodiscard]] int ScrollbarWidth() const noexcept { return m_scrollbarWidth; }
    void SetScrollbarWidth(int width);
    [[nodiscard]] int16_t GrabHandCursor() const noexcept { return m_grabHandCursor; }
    void SetGrabHandCursor(int16_t index);
    [[nodiscard]] bool Stretch() const noexcept { return m_stretch; }
    void SetStretch(bool stretch);
    [[nodiscard]] bool StretchRatio() const noexcept { return m_stretchRatio; }
    void SetStretchRatio(bool ratio);
    [[nodiscard]] bool Center() const noexcept { return m_center; }
    void SetCenter(bool center);
    [[nodiscard]] bool TileWindow() const noexcept { return m_tileWindow; }
    void SetTileWindow(bool tile);
    [[nodiscard]] TBlitMode BlitMode() const noexcept { return m_blitMode; }
    void SetBlitMode(TBlitMode mode);
    [[nodiscard]] bool AutoSize() const noexcept { return m_autoSize; }
    void SetAutoSize(bool autoSize);
    [[nodiscard]] TBorderStyle BorderStyle() const noexcept { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle style);
    [[nodiscard]] bool AllowRubberBand() const noexcept { return m_allowRubberBand; }
    void SetAllowRubberBand(bool allow) noexcept { m_allowRubberBand = allow; }
    [[nodiscard]] TMouseButton RubberBandBtn() const noexcept { return m_rubberBandBtn; }
    void SetRubberBandBtn(TMouseButton button) noexcept { m_rubberBandBtn = button; }
    [[nodiscard]] bool ParentColor() const noexcept { return m_parentColor; }
    void SetParentColor(bool parentColor);
    [[nodiscard]] bool TabStop() const;
    void SetTabStop(bool tabStop);

    // Text drawn over the picture.
    [[nodiscard]] const QString& Text() const noexcept { return m_text; }
    void SetText(const QString& text);
    [[nodiscard]] int TextLeft() const noexcept { return m_textLeft; }
    void SetTextLeft(int left);
    [[nodiscard]] int TextTop() const noexcept { return m_textTop; }
    void SetTextTop(int top);
    [[nodiscard]] int TextRotate() const noexcept { return m_textRotate; }
    void SetTextRotate(int degrees);
    [[nodiscard]] bool TextShadow() const noexcept { return m_textShadow; }
    void SetTextShadow(bool shadow);
    [[nodiscard]] QColor TextShadowColor() const noexcept { return m_textShadowColor; }
    void SetTextShadowColor(const QColor& color) noexcept { m_textShadowColor = color; }
    [[nodiscard]] bool TextTransParent() const noexcept { return m_textTransParent; }
    void SetTextTransParent(bool transparent);

    // The view: screen pixels per picture pixel and the top-left picture
    // pixel shown in the scrolling mode.
    [[nodiscard]] double Scale() const noexcept { return m_scale; }
    [[nodiscard]] int OriginX() const noexcept { return m_originX; }
    [[nodiscard]] int OriginY() const noexcept { return m_originY; }
    [[nodiscard]] QScrollBar* VerticalBar() const noexcept { return m_verticalBar; }
    [[nodiscard]] QScrollBar* HorizontalBar() const noexcept { return m_horizontalBar; }
    [[nodiscard]] QFrame* CornerSquare() const noexcept { return m_corner; }
    // Type and depth of the last loaded image ("JPEG", "ICO", ...).
    [[nodiscard]] const QString& ImageType() const noexcept { return m_fileInfo.imageType; }
    [[nodiscard]] int16_t BitsPerPixel() const noexcept { return m_fileInfo.bitsPerPixel; }
    // The toolkit skips erasing an opaque control.
    [[nodiscard]] bool Opaque() const noexcept { return m_opaque; }
    // Centring offsets of the last scrolling-mode paint.
    [[nodiscard]] uint16_t CenterOffsetX() const noexcept { return m_centerOffsetX; }
    [[nodiscard]] uint16_t CenterOffsetY() const noexcept { return m_centerOffsetY; }
    // The last scrolling-mode paint kept the scroll-bar strip free.
    [[nodiscard]] bool ScrollbarsReserved() const noexcept { return m_scrollbarsReserved; }

    // ---- loading by name ---------------------------------------------------
    [[nodiscard]] const QString& ImageName() const noexcept { return m_imageName; }
    // Loads the named file into the picture (see TPMultiImageLoad.cpp).
    void SetImageName(const QString& name);
    [[nodiscard]] TLoadResolution ImageReadRes() const noexcept { return m_imageReadRes; }
    void SetImageReadRes(TLoadResolution resolution) noexcept { m_imageReadRes = resolution; }
    [[nodiscard]] bool ImageDither() const noexcept { return m_imageDither; }
    void SetImageDither(bool dither) noexcept { m_imageDither = dither; }
    [[nodiscard]] int16_t TiffPage() const noexcept { return m_tiffPage; }
    void SetTiffPage(int16_t page) noexcept { m_tiffPage = page; }
    [[nodiscard]] TPCDMode PCDMode() const noexcept { return m_pcdMode; }
    void SetPCDMode(TPCDMode mode) noexcept { m_pcdMode = mode; }
    [[nodiscard]] bool ILUndo() const noexcept { return m_ilUndo; }
    void SetILUndo(bool undo) noexcept { m_ilUndo = undo; }
    // Module whose bitmap resources ".RES" names read; empty: the program.
    [[nodiscard]] const QString& ResourceModule() const noexcept { return m_resourceModule; }
    void SetResourceModule(const QString& module) { m_resourceModule = module; }

    [[nodiscard]] const TFileInfo& FileInfo() const noexcept { return m_fileInfo; }
    // The reduction's temporary control sets the size of its file information.
    [[nodiscard]] TFileInfo& FileInfo() noexcept { return m_fileInfo; }
    // Fills the file information for `name`; true on success.
    bool ReadFileInfo(const QString& name);
    [[nodiscard]] bool Loading() const noexcept { return m_loading; }
    // Calls OnProgress with the imaging status text in lower case; false when
    // the handler asked to stop.
    bool DoProgress(int percent);
    // OnIlibError with the binding's error number and text, or ErrorInvalid
    // with the text when no handler is assigned.
    void ReportLibError();
    // Bits asked of a reader: from ImageReadRes and the display's depth.
    [[nodiscard]] int16_t ReadBits() const;
    // The progress callback every library call of this control receives:
    // (percent, control) → DoProgress, 1 without a control.
    static int ProgressCallback(int percent, void* control);

    // ---- saving ----------------------------------------------------------
    [[nodiscard]] const QString& DefSaveFilename() const noexcept { return m_defSaveFilename; }
    void SetDefSaveFilename(const QString& name);
    [[nodiscard]] uint8_t JPegSaveQuality() const noexcept { return m_jpegSaveQuality; }
    void SetJPegSaveQuality(uint8_t quality);
    [[nodiscard]] uint8_t JPegSaveSmooth() const noexcept { return m_jpegSaveSmooth; }
    void SetJPegSaveSmooth(uint8_t smooth);
    [[nodiscard]] TSaveResolution ImageWriteRes() const noexcept { return m_imageWriteRes; }
    void SetImageWriteRes(TSaveResolution resolution) noexcept { m_imageWriteRes = resolution; }
    // Writes the picture as JPEG; never raises; OnFinishedLoadSave always fires.
    void SaveAsJpeg(const QString& name);
    // Sharpens the picture (right or bottom 0: the picture's width or height).
    void SharpenImage(int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t amount);

    // ---- input (TPMultiImageInput.cpp) -------------------------------------
    [[nodiscard]] bool Panning() const noexcept { return m_panning; }
    // The cursor registered under `index` (5: the grab hand).
    [[nodiscard]] static QCursor ControlCursor(int16_t index);

    // ---- message modes (TPMultiImageMessage.cpp) ----------------------------
    // Loading a ".SCM" or ".CMS" file by name shows its text moving over the
    // background colour until the next load by name.
    enum class MessageMode { Off, Scrolling, Credits };
    [[nodiscard]] MessageMode CurrentMessageMode() const noexcept { return m_messageMode; }
    [[nodiscard]] QPoint MessagePosition() const noexcept { return m_stripPosition; }
    [[nodiscard]] QSize MessageStripSize() const noexcept { return m_strip.Size(); }
    [[nodiscard]] int MessageLine() const noexcept { return m_messageLine; }
    // One tick of the mode: every (speed + 1)-th moves the text a pixel. The
    // control's own timer brings them; tests may call it.
    void MessageTick();
    // The timer's interval in milliseconds; 0 stops it.
    void SetMessageTickInterval(int milliseconds);

    // ---- kept for compatibility ------------------------------------------
    // Stored by the forms as the design has them; nothing here acts on them:
    // zoom steps, load transitions, annotation files (annotations are not
    // used), TIFF and black-and-white saving.
    [[nodiscard]] int ZoomBy() const noexcept { return m_zoomBy; }
    void SetZoomBy(int zoomBy) noexcept { m_zoomBy = zoomBy; }
    [[nodiscard]] TFXMethod FXMethod() const noexcept { return m_fxMethod; }
    void SetFXMethod(TFXMethod method) noexcept { m_fxMethod = method; }
    [[nodiscard]] bool AutoSaveAnno() const noexcept { return m_autoSaveAnno; }
    void SetAutoSaveAnno(bool save) noexcept { m_autoSaveAnno = save; }
    [[nodiscard]] bool AutoLoadAnno() const noexcept { return m_autoLoadAnno; }
    void SetAutoLoadAnno(bool load) noexcept { m_autoLoadAnno = load; }
    [[nodiscard]] const QString& AnnoFileName() const noexcept { return m_annoFileName; }
    void SetAnnoFileName(const QString& name) { m_annoFileName = name; }
    [[nodiscard]] TTiffCompression TifSaveCompress() const noexcept { return m_tifSaveCompress; }
    void SetTifSaveCompress(TTiffCompression compression) noexcept { m_tifSaveCompress = compression; }
    [[nodiscard]] bool TiffAppend() const noexcept { return m_tiffAppend; }
    void SetTiffAppend(bool append) noexcept { m_tiffAppend = append; }
    [[nodiscard]] int B_W_CopyFlags() const noexcept { return m_bwCopyFlags; }
    void SetB_W_CopyFlags(int flags) noexcept { m_bwCopyFlags = flags; }

public Q_SLOTS:
    // The clipboard commands (what WM_COPY, WM_CUT and WM_PASTE ask), also
    // run by the copy, cut and paste keys. Copy raises "Input image is
    // empty" for an empty picture and leaves the clipboard alone then.
    void Copy();
    void Cut();
    void Paste();

public:
    // ---- events ------------------------------------------------------------
    std::function<void(TPMultiImage*)> OnPaint;
    std::function<void(TPMultiImage*, int x, int y, int xx, int yy)> OnPaintArea;
    std::function<void(TPMultiImage*)> OnPictureChanged;
    std::function<void(TPMultiImage*, int16_t progress, const QString& message, bool& cancel)> OnProgress;
    std::function<void(TPMultiImage*, int16_t code, const QString& text, const char* textZ)> OnIlibError;
    std::function<void(TPMultiImage*)> OnFinishedLoadSave;
    // A finished selection band: button, modifiers, anchor and free corner.
    std::function<void(TPMultiImage*, TMouseButton, Qt::KeyboardModifiers, int x, int y, int xx, int yy)>
        OnRubberband;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Draws the whole control (choice of path, blocks, overlay).
    virtual void Paint(QPainter& painter);
    // Runs on every change of the picture.
    void PictureChanged();
    void LayOutScrollbars();

    // Set by loading by name for the duration of the load.
    bool m_resetViewOnChange = false;
    bool m_loading = false;
    TFileInfo m_fileInfo;

private:
    void ScrollTo(QScrollBar* bar, int position);
    // Display helpers (TPMultiImage.cpp).
    [[nodiscard]] ViewGeometry View() const;
    // The pixels the picture shows: the bitmap, or the icon's drawing.
    [[nodiscard]] const QImage* SourceImage() const;
    void AfterResize();
    void ApplyFittingScale();
    [[nodiscard]] QColor EraseColour() const;
    [[nodiscard]] bool PaintLaysOutBars() const;
    void BarsFollowView();
    void SetStretchingRule(QPainter& painter) const;
    void FillBackground(QPainter& painter, const Box& picture, int reserved) const;
    void PaintDrawPath(QPainter& painter);
    void PaintTiles(QPainter& painter);
    [[nodiscard]] Box PaintScrolling(QPainter& painter);
    void PaintText(QPainter& painter);
    // Input helpers (TPMultiImageInput.cpp).
    [[nodiscard]] bool PicturePans() const;
    void PanTo(int x, int y);
    void PaintBand(QPainter& painter) const;
    // Message helpers (TPMultiImageMessage.cpp).
    void StartMessageMode(const QString& name, bool credits);
    void EndMessageMode(bool giveColorBack);
    void RenderStrip();
    // Loading helpers (TPMultiImageLoad.cpp).
    // Runs a read; when it fails (raising, or reported and taken by the
    // error handler) the picture is emptied and the load finished. True when
    // it succeeded.
    bool ReadOrEmpty(const std::function<bool()>& read);
    void InstallBitmap(imaging::TBitmap& bitmap, bool tiff);
    void FinishLoad();
    [[nodiscard]] QString AnnotationFileName() const;

    imaging::TPicture m_picture;
    QScrollBar* m_verticalBar = nullptr;
    QScrollBar* m_horizontalBar = nullptr;
    QFrame* m_corner = nullptr;

    double m_scale = 1.0;
    int m_originX = 0;
    int m_originY = 0;
    int m_savedOriginX = 0;
    int m_savedOriginY = 0;
    double m_savedScale = 1.0;
    uint16_t m_centerOffsetX = 0;
    uint16_t m_centerOffsetY = 0;
    bool m_loaded = false;
    bool m_opaque = false;
    bool m_scrollbarsReserved = false;

    QColor m_color;
    bool m_scrolling = true;
    bool m_showScrollbars = true;
    int m_scrollbarWidth = 12;
    int16_t m_grabHandCursor = 5;
    bool m_stretch = false;
    bool m_stretchRatio = false;
    bool m_center = false;
    bool m_tileWindow = false;
    TBlitMode m_blitMode = TBlitMode::sLight;
    bool m_autoSize = false;
    TBorderStyle m_borderStyle = TBorderStyle::bsNone;
    bool m_allowRubberBand = false;
    TMouseButton m_rubberBandBtn = TMouseButton::mbLeft;
    int m_zoomBy = 10;
    bool m_parentColor = false;
    QString m_text;
    int m_textLeft = 0;
    int m_textTop = 0;
    int m_textRotate = 0;
    bool m_textShadow = false;
    QColor m_textShadowColor = Qt::black;
    bool m_textTransParent = true;

    QString m_imageName;
    TLoadResolution m_imageReadRes = TLoadResolution::lAutoMatic;
    bool m_imageDither = false;
    int16_t m_tiffPage = 0;
    TPCDMode m_pcdMode = TPCDMode::pcd_BASE4;
    bool m_ilUndo = true;
    TFXMethod m_fxMethod = TFXMethod::FXNone;
    // Input state.
    bool m_panning = false;
    QPoint m_lastMouse;
    QCursor m_savedCursor;
    bool m_screenCursorSet = false;
    bool m_banding = false;
    TMouseButton m_bandButton = TMouseButton::mbLeft;
    QPoint m_bandAnchor;
    QPoint m_bandCorner;
    // Message modes.
    MessageMode m_messageMode = MessageMode::Off;
    QColor m_rememberedColor;
    bool m_colorOwed = false;
    QStringList m_messageLines;
    QFont m_messageFont;
    QColor m_messageColor;
    int m_messageSpeed = 0;
    int m_messageLine = 0;
    int m_ticks = 0;
    MessageStrip m_strip;
    QPoint m_stripPosition;
    QTimer* m_messageTimer = nullptr;
    int m_tickInterval = 20;
    bool m_autoSaveAnno = false;
    bool m_autoLoadAnno = false;
    QString m_annoFileName;
    QString m_resourceModule;

    QString m_defSaveFilename;
    uint8_t m_jpegSaveQuality = 25;
    uint8_t m_jpegSaveSmooth = 0;
    TSaveResolution m_imageWriteRes = TSaveResolution::sAutoMatic;
    TTiffCompression m_tifSaveCompress = TTiffCompression::sNONE;
    bool m_tiffAppend = false;
    int m_bwCopyFlags = 0;
};

}  // namespace preview
