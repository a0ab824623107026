#include "TPMultiMedia.h"

#include "TMIMediaPlayer.h"
#include "imaging/DllSP96.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QVideoWidget>

#include <cmath>

namespace dialogs {

namespace {

const QStringList kMediaExtensions = {QStringLiteral("MPG"), QStringLiteral("MPEG"), QStringLiteral("MID"),
                                      QStringLiteral("RMI"), QStringLiteral("AVI"),  QStringLiteral("MOV"),
                                      QStringLiteral("WAV")};

}  // namespace

TPMultiMedia::TPMultiMedia(QWidget* parent) : TPMultiImage(parent)
{
    m_timer = new QTimer(this);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, &TPMultiMedia::Tick);
}

bool TPMultiMedia::IsMedia(const QString& name)
{
    return kMediaExtensions.contains(QFileInfo(name).suffix().toUpper());
}

void TPMultiMedia::HideVideo()
{
    if (m_video)
        m_video->hide();
}

void TPMultiMedia::SetMediaName(const QString& name)
{
    m_mediaName = name;
    m_timer->stop();
    HideVideo();
    if (IsMedia(name)) {
        OpenMedia(name);
        return;
    }
    if (m_player && m_autoHidePlayer) {
        m_player->Close();
        m_player->hide();
    }
    SetImageName(name);
}

void TPMultiMedia::OpenMedia(const QString& name)
{
    if (!MediaRegistered(QFileInfo(name).suffix()) || !m_player)
        return;  // nothing shown for a type nothing here can play
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const imaging::TBitmap* current = Picture().BitmapOrNull();
    if (ILUndo() && current && current->HandleAllocated())
        imaging::DllSP96::PushUndo(*current);
    Picture().Clear();
    m_player->Close();
    m_player->show();
    m_player->SetFileName(name);
    m_player->Open();
    if (!m_video) {
        m_video = new QVideoWidget(this);
        m_video->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    m_video->setGeometry(0, 0, width(), height());
    m_video->show();
    m_player->SetDisplay(m_video);
    m_timer->start();
    if (m_autoPlay)
        m_player->Play();
    QApplication::restoreOverrideCursor();
}

void TPMultiMedia::Tick()
{
    if (!m_player || (!m_player->Playing() && !m_autoReplay))
        return;
    const qint64 length = m_player->Length();
    if (length <= 0)
        return;
    DoProgress(static_cast<int>(std::lround(static_cast<double>(m_player->Position()) * 100.0 /
                                            static_cast<double>(length))));
}

void TPMultiMedia::resizeEvent(QResizeEvent* event)
{
    TPMultiImage::resizeEvent(event);
    if (m_video)
        m_video->setGeometry(0, 0, width(), height());
}

}  // namespace dialogs
