#pragma once

#include <QString>
#include <QWidget>

class QFrame;
class QLabel;

namespace boards { class TfcTreeCombo; }
namespace preview { class TPMultiImage; }

namespace app {

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

private:
    void CreateControls();
    void CreateExport();
    void FormCreate(const QString& executablePath);

    QString m_settingsPath;
    bool m_exitRequested = false;
    QFrame* m_panel1 = nullptr;
    QLabel* m_label2 = nullptr;
    boards::TfcTreeCombo* m_board = nullptr;
    preview::TPMultiImage* m_export = nullptr;
};

}  // namespace app
