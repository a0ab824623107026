#include "TMMOpenDialog.h"

#include "TDocumentImage.h"
#include "TMIMediaPlayer.h"
#include "TPMultiMedia.h"
#include "imaging/DLL96V1.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>
#include <QProgressBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

namespace dialogs {

namespace {

constexpr int kPreviewWidth = 230;
constexpr int kPageButton = 23;
const char* const kGlyphNames[4] = {"ILTB_FIRST", "ILTB_PRIOR", "ILTB_NEXT", "ILTB_LAST"};

// The page buttons' glyphs, drawn here and kept under their resource names:
// a bar and a triangle for first and last, a triangle for prior and next.
QPixmap PageGlyph(int index, bool enabled)
{
    const QString key = QString::fromLatin1(kGlyphNames[index]) + (enabled ? QString() : QStringLiteral("/off"));
    QPixmap glyph;
    if (QPixmapCache::find(key, &glyph))
        return glyph;
    glyph = QPixmap(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(enabled ? QColor(0, 0, 0) : QColor(150, 150, 150));
    const bool left = index < 2;
    const QPolygonF triangle = left ? QPolygonF({QPointF(11, 3), QPointF(11, 13), QPointF(4, 8)})
                                    : QPolygonF({QPointF(5, 3), QPointF(5, 13), QPointF(12, 8)});
    painter.drawPolygon(triangle);
    if (index == 0)
        painter.drawRect(QRectF(2, 3, 2, 10));
    if (index == 3)
        painter.drawRect(QRectF(12, 3, 2, 10));
    painter.end();
    QPixmapCache::insert(key, glyph);
    return glyph;
}

QIcon PageIcon(int index)
{
    QIcon icon;
    icon.addPixmap(PageGlyph(index, true), QIcon::Normal);
    icon.addPixmap(PageGlyph(index, false), QIcon::Disabled);
    return icon;
}

QFrame* Panel(const QString& name, int border, QWidget* parent)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setContentsMargins(border, border, border, border);
    return panel;
}

// Halves to even, as the layout's rounding does.
int RoundHalfEven(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

}  // namespace

QStringList QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            // Files on Linux keep their letter case: "photo.jpg" must show under *.JPG.
            QString either;
            for (const QChar c : pattern) {
                if (c.isLetter())
                    either += u'[' + QString(c.toUpper()) + QString(c.toLower()) + u']';
                else
                    either += c;
            }
            patterns << either;
        }
        filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

QString DefaultMediaFilter()
{
    struct Media {
        const char* extension;
        const char* description;
    };
    const Media media[] = {{"WAV", "Wave Sound    (WAV) "},
                           {"MID", "Midi Sound    (MID) "},
                           {"RMI", "RMI Sound    (RMI) "},
                           {"AVI", "Video for Windows    (AVI) "},
                           {"MOV", "Apple Quicktime Video    (MOV) "}};
    QString filter = QStringLiteral(
        "All Supported Media Formats|*.BMP;*.CMS;*.GIF;*.JPG;*.PCX;*.PNG;*.SCM;*.TIF;*.PCD;*.EMF;*.WMF;*.TGA;");
    for (const Media& m : media) {
        if (MediaRegistered(QString::fromLatin1(m.extension)))
            filter += QStringLiteral("*.") + QString::fromLatin1(m.extension) + u';';
    }
    filter += QStringLiteral(
        "|Windows Bitmap    (BMP) |*.BMP|Credit Message    (CMS) |*.CMS|Compuserve Gif    (GIF) |*.GIF"
        "|Jpeg    (JPG) |*.JPG|PaintShop Pro    (PCX) |*.PCX|Portable Graphics    (PNG) |*.PNG"
        "|Scrolling Message    (SCM) |*.SCM|Tagged Image    (TIF) |*.TIF|Kodak Photo CD    (PCD) |*.PCD"
        "|Windows Metafile    (WMF) |*.WMF|Enhanced Metafile    (EMF) |*.EMF|Targe Image    (TGA) |*.TGA");
    for (const Media& m : media) {
        if (MediaRegistered(QString::fromLatin1(m.extension)))
            filter += u'|' + QString::fromLatin1(m.description) + QStringLiteral("|*.") +
                      QString::fromLatin1(m.extension);
    }
    return filter;
}

TMMOpenDialog::TMMOpenDialog(QWidget* parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::HideNameFilterDetails);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);

    auto* previewArea = new QWidget(this);
    previewArea->setObjectName(QStringLiteral("PreviewArea"));
    previewArea->setFixedWidth(kPreviewWidth);
    auto* column = new QVBoxLayout(previewArea);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(5);

    auto* trackerPanel = Panel(QStringLiteral("TrackerPanel"), 1, previewArea);
    trackerPanel->setFixedHeight(27);
    auto* tracker = new QVBoxLayout(trackerPanel);
    tracker->setContentsMargins(1, 1, 1, 1);
    m_mediaPlayer = new TMIMediaPlayer(trackerPanel);
    m_mediaPlayer->hide();
    tracker->addWidget(m_mediaPlayer);
    m_tifTrackPanel = Panel(QStringLiteral("TifTrackPanel"), 1, trackerPanel);
    m_tifTrackPanel->hide();
    tracker->addWidget(m_tifTrackPanel);
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton(m_tifTrackPanel);
        button->setObjectName(QStringList{QStringLiteral("TiffFirst"), QStringLiteral("TiffPrior"),
                                          QStringLiteral("TiffNext"), QStringLiteral("TiffLast")}[i]);
        button->setFixedSize(kPageButton, kPageButton);
        button->setIcon(PageIcon(i));
        QFont bold = button->font();
        bold.setBold(true);
        button->setFont(bold);
        button->setEnabled(false);
        m_pageButtons[i] = button;
        connect(button, &QToolButton::clicked, this, [this, i] {
            try {
                switch (i) {
                case 0:
                    m_documentImage->First();
                    break;
                case 1:
                    m_documentImage->Prior();
                    break;
                case 2:
                    m_documentImage->Next();
                    break;
                default:
                    m_documentImage->Last();
                }
            } catch (...) {
                EmptyPreview();
            }
        });
    }
    m_pageLabel = new QLabel(QStringLiteral(" "), m_tifTrackPanel);
    m_pageLabel->setObjectName(QStringLiteral("PageLabel"));
    m_pageLabel->move(2, 5);
    // The panel has its real width only once the layout shows it: the
    // buttons follow it there, and whenever it changes.
    m_tifTrackPanel->installEventFilter(this);

    auto* picturePanel = Panel(QStringLiteral("PicturePanel"), 4, previewArea);
    auto* pictureLayout = new QVBoxLayout(picturePanel);
    pictureLayout->setContentsMargins(4, 4, 4, 4);
    auto* paintPanel = Panel(QStringLiteral("PaintPanel"), 0, picturePanel);
    paintPanel->setFrameShape(QFrame::StyledPanel);
    paintPanel->setFrameShadow(QFrame::Sunken);
    pictureLayout->addWidget(paintPanel);
    auto* paint = new QGridLayout(paintPanel);
    paint->setContentsMargins(1, 1, 1, 1);
    m_documentImage = new TDocumentImage(paintPanel);
    m_documentImage->hide();
    paint->addWidget(m_documentImage, 0, 0);
    m_multiMedia = new TPMultiMedia(paintPanel);
    m_multiMedia->setObjectName(QStringLiteral("TMultiMedia"));
    m_multiMedia->hide();
    m_multiMedia->SetCenter(true);
    m_multiMedia->SetStretchRatio(true);
    m_multiMedia->SetAutoPlay(false);
    m_multiMedia->SetAutoReplay(false);
    m_multiMedia->SetAutoHidePlayer(true);
    m_multiMedia->SetColor(palette().color(QPalette::Button));
    m_multiMedia->SetImageDither(true);
    m_multiMedia->SetImageReadRes(preview::TLoadResolution::lAutoMatic);
    m_multiMedia->SetImageWriteRes(preview::TSaveResolution::sAutoMatic);
    m_multiMedia->SetJPegSaveQuality(25);
    m_multiMedia->SetJPegSaveSmooth(0);
    m_multiMedia->SetMediaPlayer(m_mediaPlayer);
    m_multiMedia->Loaded();
    paint->addWidget(m_multiMedia, 0, 0);

    auto* progressPanel = Panel(QStringLiteral("ProgressPanel"), 4, previewArea);
    progressPanel->setFixedHeight(24);
    auto* progress = new QHBoxLayout(progressPanel);
    progress->setContentsMargins(0, 2, 0, 2);
    progress->setSpacing(6);
    m_previewBtn = new QToolButton(progressPanel);
    m_previewBtn->setObjectName(QStringLiteral("PreviewBtn"));
    m_previewBtn->setText(QStringLiteral("P"));
    QFont bold = m_previewBtn->font();
    bold.setBold(true);
    m_previewBtn->setFont(bold);
    m_previewBtn->setFixedSize(20, 20);
    m_previewBtn->setCheckable(true);
    progress->addWidget(m_previewBtn);
    m_progressBar = new QProgressBar(progressPanel);
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
    progress->addWidget(m_progressBar, 1);

    column->addWidget(trackerPanel);
    column->addWidget(picturePanel, 1);
    column->addWidget(progressPanel);

    // To the right of the file list, over the dialog's whole height.
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(previewArea, 0, grid->columnCount(), grid->rowCount(), 1);

    m_multiMedia->OnProgress = [this](preview::TPMultiImage*, int16_t value, const QString&, bool& cancel) {
        Progress(value, cancel);
    };
    m_documentImage->OnProgress = [this](int value, bool& cancel) { Progress(value, cancel); };
    m_documentImage->OnInfo = [this](int, int, int, qint64, int pages, int thisPage, const QString&, bool,
                                     const QString&) { PageInfo(pages, thisPage); };
    connect(m_previewBtn, &QToolButton::toggled, this, &TMMOpenDialog::PreviewToggled);
    connect(this, &QFileDialog::currentChanged, this, &TMMOpenDialog::DoSelectionChange);

    SetFilter(DefaultMediaFilter());
}

TMMOpenDialog::~TMMOpenDialog() = default;

void TMMOpenDialog::SetFilter(const QString& filter)
{
    m_filter = filter;
    const QStringList filters = QtNameFilters(filter);
    setNameFilters(filters);
    if (!filters.isEmpty())
        selectNameFilter(filters.first());
}

bool TMMOpenDialog::Execute()
{
    return exec() == QDialog::Accepted && !selectedFiles().isEmpty();
}

QString TMMOpenDialog::FileName() const
{
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void TMMOpenDialog::showEvent(QShowEvent* event)
{
    DoShow();
    QFileDialog::showEvent(event);
}

void TMMOpenDialog::done(int result)
{
    DoClose();
    QFileDialog::done(result);
}

bool TMMOpenDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tifTrackPanel && event->type() == QEvent::Resize)
        LayOutPageButtons();
    return QFileDialog::eventFilter(watched, event);
}

void TMMOpenDialog::DoShow()
{
    m_previewBtn->setToolTip(PreviewBtnHint);
    {
        const QSignalBlocker quiet(m_previewBtn);
        m_previewBtn->setChecked(DoPreview);
    }
    const QString hints[4] = {TiffFirstHint, TiffPrior, TiffNextHint, TiffLast};
    for (int i = 0; i < 4; ++i)
        m_pageButtons[i]->setToolTip(hints[i]);
    LayOutPageButtons();
    m_pageLabel->move(2, 5);
    EmptyPreview();
}

void TMMOpenDialog::LayOutPageButtons()
{
    // Hidden and never laid out, the panel still has a new widget's default
    // width; the resize that the layout gives it when shown places the
    // buttons again.
    int left = RoundHalfEven(m_tifTrackPanel->width() / 2.0) - kPageButton;
    for (QToolButton* button : m_pageButtons) {
        button->move(left, 1);
        left += kPageButton + 1;
    }
}

void TMMOpenDialog::DoClose()
{
    // A load still running stops at its next progress report.
    m_cancel = true;
    m_mediaPlayer->Close();
    m_multiMedia->HideVideo();
    QToolTip::hideText();
}

void TMMOpenDialog::EmptyPreview()
{
    m_documentImage->ClearPages();
    m_tifTrackPanel->hide();
    m_mediaPlayer->hide();
    ClearPicture();
}

void TMMOpenDialog::ClearPicture()
{
    m_multiMedia->Picture().SetBitmap(imaging::TBitmap());
    // A sound's video area is black: it would stay over whatever comes next.
    m_multiMedia->HideVideo();
}

void TMMOpenDialog::PreviewToggled(bool down)
{
    if (down) {
        DoSelectionChange(m_selected);
        return;
    }
    EmptyPreview();
}

void TMMOpenDialog::DoSelectionChange(const QString& fileName)
{
    m_selected = fileName;
    if (!m_previewBtn->isChecked())
        return;
    if (m_previewing) {
        // A load is running below this call: it is asked to stop, and this
        // file is previewed once it has, by the loop below in that call.
        m_cancel = true;
        m_pending = fileName;
        m_hasPending = true;
        return;
    }
    Preview(fileName);
    // Each selection that interrupted a preview is shown here in turn, at
    // this call's depth however many there are.
    while (m_hasPending) {
        m_hasPending = false;
        const QString next = m_pending;
        m_selected = next;
        if (!m_previewBtn->isChecked())
            break;
        Preview(next);
    }
}

void TMMOpenDialog::Preview(const QString& fileName)
{
    const QFileInfo info(fileName);
    bool previewable = !fileName.isEmpty() && info.exists() && !info.isDir();
    if (OnMMFileName && !OnMMFileName(this, fileName))
        return;
    if (previewable) {
        m_previewing = true;
        bool waiting = false;
        try {
            QString format;
            const QString extension = info.suffix().toUpper();
            if (extension != QLatin1String("AVI") && extension != QLatin1String("MOV") &&
                extension != QLatin1String("MPG")) {
                int32_t width = 0, height = 0;
                int16_t bits = 0, figure1 = 0, figure2 = 0;
                QString compression;
                imaging::DLL96V1::fileinfo(fileName, format, width, height, bits, figure1, figure2, compression);
                QApplication::setOverrideCursor(Qt::WaitCursor);
                waiting = true;
            }
            if (format.toUpper() == QLatin1String("TIFF")) {
                int32_t width = 0, height = 0;
                int16_t bits = 0, pages = 0;
                QString compression;
                if (imaging::DLL96V1::getinfo(fileName, 0, width, height, bits, pages, compression)) {
                    if (pages - 1 < TiffSelectedPage)
                        TiffSelectedPage = static_cast<int16_t>(std::max(0, pages - 1));
                } else {
                    TiffSelectedPage = 0;
                }
                m_tifTrackPanel->show();
                m_mediaPlayer->hide();
                m_mediaPlayer->Close();
                m_cancel = false;
                m_documentImage->show();
                m_multiMedia->hide();
                ClearPicture();
                ShowTiffPage(TiffSelectedPage);
            } else {
                m_tifTrackPanel->hide();
                m_cancel = false;
                m_documentImage->hide();
                m_documentImage->ClearPages();
                m_multiMedia->show();
                m_multiMedia->SetMediaName(fileName);
            }
        } catch (...) {
            previewable = false;
            m_multiMedia->SetMediaName(QString());
        }
        if (waiting)
            QApplication::restoreOverrideCursor();
        m_previewing = false;
    }
    if (!previewable)
        ClearPicture();
}

void TMMOpenDialog::ShowTiffPage(int page)
{
    m_documentImage->ClearPages();
    m_documentImage->LoadPage(m_selected, page);
    m_documentImage->FitPage();
}

void TMMOpenDialog::Progress(int progress, bool& cancel)
{
    cancel = m_cancel;
    if (m_cancel)
        return;
    QCoreApplication::processEvents();
    if (m_progressBar->value() != progress)
        m_progressBar->setValue(progress);
}

void TMMOpenDialog::PageInfo(int pages, int thisPage)
{
    m_pageButtons[0]->setEnabled(pages >= 2 && thisPage > 0);
    m_pageButtons[1]->setEnabled(pages >= 2 && thisPage > 0);
    m_pageButtons[2]->setEnabled(pages >= 2 && thisPage + 1 < pages);
    m_pageButtons[3]->setEnabled(pages >= 2 && thisPage + 1 < pages);
    m_pageLabel->setText(QStringLiteral("P %1 of %2").arg(thisPage + 1).arg(pages));
    m_pageLabel->adjustSize();
    TiffSelectedPage = static_cast<int16_t>(thisPage);
}

}  // namespace dialogs
