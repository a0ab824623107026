#include "TForm2.h"

#include "browser/TWebHost.h"
#include "platform/Exception.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace app {

namespace {

// 760 × 670 outside with the usual frame: 752 × 619 for the host above a
// 17-pixel bar.
constexpr int kClientWidth = 752;
constexpr int kHostHeight = 619;
constexpr int kBarHeight = 17;

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle(QStringLiteral("Доска объявлений"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_webHost = new browser::TWebHost(this);
    m_webHost->setObjectName(QStringLiteral("WebHost"));
    m_webHost->SetUserInterfaceOptions({});
    m_webHost->SetReplaceCaption(false);
    m_webHost->SetEnableDDE(false);
    m_webHost->SetFpExceptions(true);
    m_webHost->PrintOptions().htmlHeader = {QStringLiteral("<HTML></HTML>")};
    m_webHost->PrintOptions().portrait = true;
    m_webHost->SetDownloadOptions({browser::TDownloadControlOption::DLCTL_DLIMAGES,
                                   browser::TDownloadControlOption::DLCTL_VIDEOS,
                                   browser::TDownloadControlOption::DLCTL_BGSOUNDS});
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(kBarHeight);
    layout->addWidget(m_webHost, 1);
    layout->addWidget(m_progressBar);
    setTabOrder(m_webHost, m_progressBar);
    resize(kClientWidth, kHostHeight + kBarHeight);

    m_webHost->OnBeforeNavigate2 = [this](browser::TWebHost*, QObject*, const QVariant&, const QVariant&,
                                          const QVariant&, const QVariant&, const QVariant&, bool&) {
        WebHostBeforeNavigate2();
    };
    m_webHost->OnProgressChange = [this](browser::TWebHost*, int32_t progress, int32_t progressMax) {
        WebHostProgressChange(progress, progressMax);
    };
    m_webHost->OnDocumentComplete = [this](browser::TWebHost*, QObject*, const QVariant&) {
        WebHostDocumentComplete();
    };
    m_webHost->Loaded();
}

void TForm2::WebHostBeforeNavigate2()
{
    setWindowTitle(QStringLiteral("Загрузка с ") + SelectorText() + QStringLiteral(". Ожидайте..."));
    m_progressBar->setVisible(true);
}

void TForm2::WebHostProgressChange(int32_t progress, int32_t progressMax)
{
    // A bar refuses a range below its minimum; the position stays as it was.
    if (progressMax < m_progressBar->minimum())
        throw platform::Exception(QStringLiteral("TProgressBar property out of range"));
    m_progressBar->setMaximum(progressMax);
    m_progressBar->setValue(std::clamp(progress, m_progressBar->minimum(), m_progressBar->maximum()));
}

void TForm2::WebHostDocumentComplete()
{
    setWindowTitle(QStringLiteral("Доска объявлений ") + SelectorText());
    m_progressBar->setVisible(false);
}

void TForm2::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm2::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

}  // namespace app
