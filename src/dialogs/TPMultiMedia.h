#pragma once

#include "preview/TPMultiImage.h"

class QTimer;
class QVideoWidget;

namespace dialogs {

class TMIMediaPlayer;

// The media twin of the preview control: pictures by `MediaName` exactly as
// by `ImageName`; sound and video files open in its player, video drawn over
// the whole control, and a 500 ms timer reports how much has played.
class TPMultiMedia : public preview::TPMultiImage {
    Q_OBJECT

public:
    explicit TPMultiMedia(QWidget* parent = nullptr);

    [[nodiscard]] const QString& MediaName() const noexcept { return m_mediaName; }
    void SetMediaName(const QString& name);

    void SetMediaPlayer(TMIMediaPlayer* player) noexcept { m_player = player; }
    [[nodiscard]] TMIMediaPlayer* MediaPlayer() const noexcept { return m_player; }
    void SetAutoPlay(bool play) noexcept { m_autoPlay = play; }
    void SetAutoReplay(bool replay) noexcept { m_autoReplay = replay; }
    void SetAutoHidePlayer(bool hide) noexcept { m_autoHidePlayer = hide; }
    // Takes away the area that video is drawn in (black for a sound), for
    // when the control no longer shows sound or video.
    void HideVideo();

    // Extensions played instead of shown: MPG, MPEG, MID, RMI, AVI, MOV, WAV.
    [[nodiscard]] static bool IsMedia(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OpenMedia(const QString& name);
    void Tick();

    QString m_mediaName;
    TMIMediaPlayer* m_player = nullptr;
    QVideoWidget* m_video = nullptr;
    QTimer* m_timer = nullptr;
    bool m_autoPlay = false;
    bool m_autoReplay = false;
    bool m_autoHidePlayer = true;
};

}  // namespace dialogs
