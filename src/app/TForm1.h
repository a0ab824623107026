#pragma once

#include "UploadChoice.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QShortcut;

namespace boards { class TfcTreeCombo; }
namespace dialogs { class TMMOpenDialog; }
namespace preview { class TPMultiImage; }

namespace app {

class TForm2;

// What the photo command asks of the person at the screen and where it sends
// the browser. The program's answers are its dialogs and the browser window;
// tests answer instead.
struct TPhotoCommandSeam {
    // The chosen photos in the order chosen; none when the open dialog is
    // cancelled.
    std::function<QStringList(QWidget* parent)> openPhoto;
    // The "Ошибка записи" box: caption and text.
    std::function<void(QWidget* parent, const QString& caption, const QString& text)> writeErrorBox;
    // The one message after several photos that lists those that failed.
    std::function<void(QWidget* parent, const QString& caption, const QString& text)> failedPhotosBox;
    // The name chosen in the save dialog, or nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent)> savePicture;
    // The posting address handed to the browser window.
    std::function<void(const QString& address)> navigate;
    // The upload helper's file chooser: the chosen files, empty when cancelled.
    std::function<QStringList(QWidget* parent, const TUploadChoice& choice)> chooseUpload;
};

// The open dialog's filter as the window defines it: "description|pattern;…|…".
extern const QString kOpenFilter;

// The program's own save dialog for the reduced picture: non-native, ".jpg"
// added to a name typed without extension.
[[nodiscard]] std::optional<QString> SavePictureDialog(QWidget* parent);

// The main window: the photo area and, below it, the strip with the board
// selector. Creating it reads the settings file (FormCreate).
class TForm1 : public QWidget {
    Q_OBJECT

public:
    static constexpr int kDesignedLeft = 225;
    static constexpr int kDesignedTop = 92;
    static constexpr int kClientWidth = 728;
    static constexpr int kClientHeight = 440;

    // `executablePath` decides where the settings file lives; the program
    // passes its own path.
    explicit TForm1(const QString& executablePath, QWidget* parent = nullptr);

    // The executable's path with its extension replaced by ".ini" (appended
    // when the file name has none).
    [[nodiscard]] static QString SettingsPathFor(const QString& executablePath);
    // That file when the program's folder can be written (a portable copy);
    // else, and always for a program installed under /usr, the same name in
    // the per-user configuration folder's "snimkorez", made when missing.
    [[nodiscard]] static QString SettingsFileFor(const QString& executablePath);

    [[nodiscard]] const QString& SettingsPath() const noexcept { return m_settingsPath; }
    // True when the settings file told the program to end before showing anything.
    [[nodiscard]] bool ExitRequested() const noexcept { return m_exitRequested; }
    [[nodiscard]] boards::TfcTreeCombo* board() const noexcept { return m_board; }
    // The preview of the chosen and the reduced photo.
    [[nodiscard]] preview::TPMultiImage* Export() const noexcept { return m_export; }

    // Stores the window position and the chosen board. Raises
    // platform::EIniFileException when the file cannot be written; keys after
    // the refused one are not written.
    void WriteSettings();

    // The button's command: open dialog, reduction beside the photo, the
    // browser on the chosen board's posting page, the settings written. An
    // error ends it at its step and raises. A click while it runs does nothing.
    //
    // Several photos are reduced one after another in the order given, with
    // "k из N" shown; Escape or "Прервать" stops after the current one. One
    // that fails does not stop the others: failedPhotosBox lists them all at
    // the end, and the browser and the settings follow once, after the last.
    void submitClick();
    // The same from step 2 on with the photos already chosen (dropped files);
    // none chosen continues with the browser and the settings.
    void RunPhotoCommand(const QStringList& photos);
    [[nodiscard]] QPushButton* submit() const noexcept { return m_submit; }
    [[nodiscard]] QLabel* Label1() const noexcept { return m_label1; }
    // The open dialog; null until the first photo command makes it.
    [[nodiscard]] dialogs::TMMOpenDialog* MMOpenDialog1() const noexcept { return m_openDialog; }
    // Shown instead of Label1 while several photos are reduced.
    [[nodiscard]] QProgressBar* BatchProgress() const noexcept { return m_batchProgress; }
    [[nodiscard]] QPushButton* BatchCancel() const noexcept { return m_batchCancel; }

    void SetBrowserWindow(TForm2* window);
    void SetSeam(TPhotoCommandSeam seam);
    [[nodiscard]] const TPhotoCommandSeam& Seam() const noexcept { return m_seam; }
    // The last photo this window wrote; empty before the first.
    [[nodiscard]] QString LastReducedPhoto() const { return m_lastBatch.isEmpty() ? QString() : m_lastBatch.last(); }
    // What the last command that wrote anything wrote, in order.
    [[nodiscard]] const QStringList& LastBatch() const noexcept { return m_lastBatch; }

Q_SIGNALS:
    // The window was closed (by the window manager, Alt+F4, the system menu).
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateControls();
    void CreateExport();
    void FormCreate(const QString& executablePath);
    void KeepReachable();
    // Reduces one photo beside itself (or where the save dialog says), shows
    // it and captions the window with it; the file written, or nothing when
    // the user gave up. Raises what loading or reducing raises. With
    // `unreadable`, a file that gives no picture is not reduced: why is put
    // there in the user's words.
    std::optional<QString> ReducePhoto(const QString& source, QString* unreadable = nullptr);
    // Several photos; returns what was written.
    QStringList ReduceBatch(const QStringList& photos);
    void ShowBatchProgress(int done, int current, int count);

    QString m_settingsPath;
    bool m_exitRequested = false;
    QFrame* m_panel1 = nullptr;
    QLabel* m_label2 = nullptr;
    boards::TfcTreeCombo* m_board = nullptr;
    preview::TPMultiImage* m_export = nullptr;
    QPushButton* m_submit = nullptr;
    dialogs::TMMOpenDialog* m_openDialog = nullptr;
    QLabel* m_label1 = nullptr;
    TForm2* m_browser = nullptr;
    TPhotoCommandSeam m_seam;
    QStringList m_lastBatch;
    QProgressBar* m_batchProgress = nullptr;
    QPushButton* m_batchCancel = nullptr;
    QShortcut* m_batchEscape = nullptr;
    bool m_cancelBatch = false;
    // Where the last photo was chosen (kept in the settings).
    QString m_photoFolder;
    bool m_running = false;
};

}  // namespace app
