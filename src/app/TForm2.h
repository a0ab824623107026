#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QProgressBar;

namespace browser {
class TWebHost;
}

namespace app {

// The board browser window: the posting page of the chosen board, with the
// loading reported in the caption and a progress bar. Created hidden at
// start; the photo command shows it; closing it only hides it.
class TForm2 : public QWidget {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    [[nodiscard]] browser::TWebHost* WebHost() const noexcept { return m_webHost; }
    [[nodiscard]] QProgressBar* ProgressBar() const noexcept { return m_progressBar; }

    // The main window's board selector text, read when each event arrives.
    void SetSelectorText(std::function<QString()> text) { m_selectorText = std::move(text); }

    // The three handlers the host calls.
    void WebHostBeforeNavigate2();
    void WebHostProgressChange(int32_t progress, int32_t progressMax);
    void WebHostDocumentComplete();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    [[nodiscard]] QString SelectorText() const { return m_selectorText ? m_selectorText() : QString(); }

    browser::TWebHost* m_webHost = nullptr;
    QProgressBar* m_progressBar = nullptr;
    std::function<QString()> m_selectorText;
};

}  // namespace app
