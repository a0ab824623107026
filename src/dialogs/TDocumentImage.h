#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>

namespace dialogs {

// One page of a TIFF file at a time, fitted into the viewer: load page n,
// first / previous / next / last, the fitting scale min((W − 4) / w,
// (H − 4) / h), and the page's figures reported through OnInfo.
class TDocumentImage : public QWidget {
    Q_OBJECT

public:
    explicit TDocumentImage(QWidget* parent = nullptr);

    // Loads page `page` (from 0) of `fileName`; raises ErrorInvalid "Input
    // filename isn't valid" for a missing file and the imaging layer's text
    // for a failed read.
    void LoadPage(const QString& fileName, int page);
    void First();
    void Prior();
    void Next();
    void Last();
    // The scale (percent) that shows the whole page.
    void FitPage();
    void ClearPages();

    [[nodiscard]] const QImage& Page() const noexcept { return m_page; }
    [[nodiscard]] int PageCount() const noexcept { return m_pages; }
    [[nodiscard]] int CurrentPage() const noexcept { return m_current; }
    [[nodiscard]] double Scale() const noexcept { return m_scale; }

    // (progress, cancel): a true cancel stops the read at this report.
    std::function<void(int progress, bool& cancel)> OnProgress;
    std::function<void(int width, int height, int bitsPerPixel, qint64 size, int pages, int thisPage,
                       const QString& compression, bool byFile, const QString& fileName)>
        OnInfo;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static int Progress(int percent, void* viewer);
    void Go(int page);

    QString m_fileName;
    QImage m_page;
    int m_pages = 0;
    int m_current = 0;
    double m_scale = 100.0;
    int m_bits = 0;
    QString m_compression;
};

}  // namespace dialogs
