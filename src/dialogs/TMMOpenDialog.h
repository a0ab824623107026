#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QFrame;
class QLabel;
class QProgressBar;
class QToolButton;

namespace dialogs {

class TDocumentImage;
class TMIMediaPlayer;
class TPMultiMedia;

// A filter in the form "description|pattern;pattern|…" as Qt's name filters
// ("description (patterns)"), each pattern matching either letter case.
[[nodiscard]] QStringList QtNameFilters(const QString& filter);
// The filter built from the picture types and the media types that can be
// played here.
[[nodiscard]] QString DefaultMediaFilter();

// The open dialog with a preview to the right of the file list: a picture
// fitted whole, a TIFF file a page at a time with page buttons, a sound or
// video file in a small player, a progress bar, and the "P" toggle.
class TMMOpenDialog : public QFileDialog {
    Q_OBJECT

public:
    explicit TMMOpenDialog(QWidget* parent = nullptr);
    ~TMMOpenDialog() override;

    // True when the user confirmed a file (several when the file mode is
    // ExistingFiles); FileName() is then the first, Files() all of them in
    // the order chosen.
    bool Execute();
    [[nodiscard]] QString FileName() const;
    [[nodiscard]] QStringList Files() const { return selectedFiles(); }
    // The filter in the "description|pattern;…" form; the first entry is chosen.
    void SetFilter(const QString& filter);
    [[nodiscard]] const QString& Filter() const noexcept { return m_filter; }

    bool DoPreview = true;
    QString PreviewBtnHint = QStringLiteral("Enable/Disable preview of selected file");
    QString TiffFirstHint = QStringLiteral("First Tif Page");
    QString TiffNextHint = QStringLiteral("Next Tif Page");
    QString TiffPrior = QStringLiteral("Prior Tif Page");
    QString TiffLast = QStringLiteral("Last Tif Page");
    int16_t TiffSelectedPage = 0;
    // Asked before each preview; false leaves the preview as it is.
    std::function<bool(TMMOpenDialog* sender, const QString& fileName)> OnMMFileName;

    // Previews `fileName` as a change of selection does.
    void DoSelectionChange(const QString& fileName);

    [[nodiscard]] TPMultiMedia* MultiMedia() const noexcept { return m_multiMedia; }
    [[nodiscard]] TDocumentImage* DocumentImage() const noexcept { return m_documentImage; }
    [[nodiscard]] TMIMediaPlayer* MediaPlayer() const noexcept { return m_mediaPlayer; }
    [[nodiscard]] QProgressBar* ProgressBar() const noexcept { return m_progressBar; }
    [[nodiscard]] QToolButton* PreviewBtn() const noexcept { return m_previewBtn; }
    [[nodiscard]] QFrame* TifTrackPanel() const noexcept { return m_tifTrackPanel; }
    [[nodiscard]] QToolButton* PageButton(int index) const noexcept { return m_pageButtons[index]; }
    [[nodiscard]] QLabel* PageLabel() const noexcept { return m_pageLabel; }
    [[nodiscard]] bool Cancelled() const noexcept { return m_cancel; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DoShow();
    void DoClose();
    // The page buttons side by side from the middle of TifTrackPanel, by the
    // width the panel has now.
    void LayOutPageButtons();
    void EmptyPreview();
    // The picture of "TMultiMedia" cleared, and with it the area a sound or
    // video was shown in.
    void ClearPicture();
    // One selection previewed: its picture, TIFF pages or sound.
    void Preview(const QString& fileName);
    void ShowTiffPage(int page);
    void Progress(int progress, bool& cancel);
    void PageInfo(int pages, int thisPage);
    void PreviewToggled(bool down);

    QString m_filter;
    QString m_selected;
    QFrame* m_tifTrackPanel = nullptr;
    TMIMediaPlayer* m_mediaPlayer = nullptr;
    TDocumentImage* m_documentImage = nullptr;
    TPMultiMedia* m_multiMedia = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QToolButton* m_previewBtn = nullptr;
    QToolButton* m_pageButtons[4] = {};
    QLabel* m_pageLabel = nullptr;
    bool m_cancel = false;
    // A selection that came while a preview was loading: shown when that one
    // has stopped, by the same call's loop rather than a second load inside
    // the first, so interruptions cost no stack.
    bool m_previewing = false;
    QString m_pending;
    bool m_hasPending = false;
};

}  // namespace dialogs
