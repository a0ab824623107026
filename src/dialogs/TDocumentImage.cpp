#include "TDocumentImage.h"

#include "imaging/DLL96V1.h"
#include "imaging/ErrorInvalid.h"
#include "imaging/ILDibCls.h"
#include "imaging/TBitmap.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>

namespace dialogs {

TDocumentImage::TDocumentImage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DocumentImage"));
}

int TDocumentImage::Progress(int percent, void* viewer)
{
    auto* self = static_cast<TDocumentImage*>(viewer);
    bool cancel = false;
    if (self && self->OnProgress)
        self->OnProgress(percent, cancel);
    return cancel ? 0 : 1;
}

void TDocumentImage::LoadPage(const QString& fileName, int page)
{
    if (!QFileInfo(fileName).isFile())
        throw imaging::ErrorInvalid(QStringLiteral("Input filename isn't valid"));
    namespace DLL = imaging::DLL96V1;
    int32_t width = 0, height = 0;
    int16_t bits = 0, pages = 0;
    QString compression;
    if (!DLL::getinfo(fileName, 0, width, height, bits, pages, compression))
        throw imaging::ErrorInvalid(DLL::ErrorText());
    page = std::clamp(page, 0, std::max(0, pages - 1));
    HDIB dib = nullptr;
    if (!DLL::readtiffiledib(fileName, 24, 0, static_cast<int16_t>(page), dib, this, &TDocumentImage::Progress)) {
        imaging::FreeDib(dib);
        throw imaging::ErrorInvalid(DLL::ErrorText());
    }
    imaging::TBitmap bitmap;
    const bool converted = imaging::DibToBitmap(dib, bitmap);
    imaging::FreeDib(dib);
    if (!converted)
        throw imaging::ErrorInvalid(QStringLiteral("Input image is empty"));
    m_fileName = fileName;
    m_page = bitmap.Handle();
    m_pages = pages;
    m_current = page;
    m_bits = bits;
    m_compression = compression;
    update();
    if (OnInfo)
        OnInfo(m_page.width(), m_page.height(), m_bits, QFileInfo(fileName).size(), m_pages, m_current,
               m_compression, true, m_fileName);
}

void TDocumentImage::Go(int page)
{
    LoadPage(m_fileName, page);
    FitPage();
}

void TDocumentImage::First()
{
    if (m_pages > 0)
        Go(0);
}

void TDocumentImage::Prior()
{
    if (m_current > 0)
        Go(m_current - 1);
}

void TDocumentImage::Next()
{
    if (m_current + 1 < m_pages)
        Go(m_current + 1);
}

void TDocumentImage::Last()
{
    if (m_pages > 0)
        Go(m_pages - 1);
}

void TDocumentImage::FitPage()
{
    if (m_page.isNull())
        return;
    m_scale = std::min(static_cast<double>(width() - 4) / m_page.width(),
                       static_cast<double>(height() - 4) / m_page.height()) *
              100.0;
    update();
}

void TDocumentImage::ClearPages()
{
    m_page = QImage();
    m_pages = 0;
    m_current = 0;
    update();
}

void TDocumentImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_page.isNull() || m_scale <= 0)
        return;
    const QSizeF size(m_page.width() * m_scale / 100.0, m_page.height() * m_scale / 100.0);
    const QRectF target(QPointF((width() - size.width()) / 2.0, (height() - size.height()) / 2.0), size);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_page);
}

}  // namespace dialogs
