#include "TMIMediaPlayer.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QMediaFormat>
#include <QMediaPlayer>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVideoWidget>

namespace dialogs {

bool MediaRegistered(const QString& extension)
{
    const QString upper = extension.toUpper();
    QMediaFormat::FileFormat format = QMediaFormat::UnspecifiedFormat;
    if (upper == QLatin1String("WAV"))
        format = QMediaFormat::Wave;
    else if (upper == QLatin1String("AVI"))
        format = QMediaFormat::AVI;
    else if (upper == QLatin1String("MOV"))
        format = QMediaFormat::QuickTime;
    else if (upper == QLatin1String("MPG") || upper == QLatin1String("MPEG"))
        format = QMediaFormat::MPEG4;
    // MID and RMI (MIDI) have no decoder in Qt Multimedia.
    if (format == QMediaFormat::UnspecifiedFormat)
        return false;
    return QMediaFormat().supportedFileFormats(QMediaFormat::Decode).contains(format);
}

TMIMediaPlayer::TMIMediaPlayer(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MediaPlayer"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    const auto button = [&](QStyle::StandardPixmap icon, const QString& name, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        layout->addWidget(b);
        return b;
    };
    m_play = button(QStyle::SP_MediaPlay, QStringLiteral("Play"), QStringLiteral("Воспроизвести"));
    m_pause = button(QStyle::SP_MediaPause, QStringLiteral("Pause"), QStringLiteral("Пауза"));
    m_stop = button(QStyle::SP_MediaStop, QStringLiteral("Stop"), QStringLiteral("Стоп"));
    layout->addStretch(1);
    connect(m_play, &QToolButton::clicked, this, &TMIMediaPlayer::Play);
    connect(m_pause, &QToolButton::clicked, this, &TMIMediaPlayer::Pause);
    connect(m_stop, &QToolButton::clicked, this, &TMIMediaPlayer::Stop);
}

TMIMediaPlayer::~TMIMediaPlayer()
{
    Close();
}

void TMIMediaPlayer::Open()
{
    if (!m_player) {
        m_player = new QMediaPlayer(this);
        m_audio = new QAudioOutput(this);
        m_player->setAudioOutput(m_audio);
    }
    m_player->setSource(QUrl::fromLocalFile(m_fileName));
}

void TMIMediaPlayer::Close()
{
    if (m_player) {
        m_player->stop();
        m_player->setSource(QUrl());
    }
}

void TMIMediaPlayer::Play()
{
    if (m_player)
        m_player->play();
}

void TMIMediaPlayer::Pause()
{
    if (m_player)
        m_player->pause();
}

void TMIMediaPlayer::Stop()
{
    if (m_player)
        m_player->stop();
}

void TMIMediaPlayer::SetDisplay(QVideoWidget* display)
{
    if (!m_player)
        Open();
    m_player->setVideoOutput(display);
}

bool TMIMediaPlayer::Playing() const
{
    return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
}

qint64 TMIMediaPlayer::Position() const
{
    return m_player ? m_player->position() : 0;
}

qint64 TMIMediaPlayer::Length() const
{
    return m_player ? m_player->duration() : 0;
}

}  // namespace dialogs
