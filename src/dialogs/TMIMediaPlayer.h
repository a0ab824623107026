#pragma once

#include <QString>
#include <QWidget>

class QAudioOutput;
class QMediaPlayer;
class QToolButton;
class QVideoWidget;

namespace dialogs {

// Whether a sound or video file type is one Qt Multimedia here can decode
// (standing in for the platform's registered media types); `extension`
// without the dot, either case.
[[nodiscard]] bool MediaRegistered(const QString& extension);

// A small player: play, pause and stop buttons over Qt Multimedia. Nothing
// plays until play is pressed.
class TMIMediaPlayer : public QWidget {
    Q_OBJECT

public:
    explicit TMIMediaPlayer(QWidget* parent = nullptr);
    ~TMIMediaPlayer() override;

    void SetFileName(const QString& name) { m_fileName = name; }
    [[nodiscard]] const QString& FileName() const noexcept { return m_fileName; }
    // Opens the file without playing it.
    void Open();
    void Close();
    void Play();
    void Pause();
    void Stop();
    // Where video is drawn; null for none.
    void SetDisplay(QVideoWidget* display);

    [[nodiscard]] bool Playing() const;
    [[nodiscard]] qint64 Position() const;
    [[nodiscard]] qint64 Length() const;

    [[nodiscard]] QToolButton* PlayButton() const noexcept { return m_play; }
    [[nodiscard]] QToolButton* PauseButton() const noexcept { return m_pause; }
    [[nodiscard]] QToolButton* StopButton() const noexcept { return m_stop; }

private:
    QString m_fileName;
    QMediaPlayer* m_player = nullptr;
    QAudioOutput* m_audio = nullptr;
    QToolButton* m_play = nullptr;
    QToolButton* m_pause = nullptr;
    QToolButton* m_stop = nullptr;
};

}  // namespace dialogs
