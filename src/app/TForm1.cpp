#include "TForm1.h"

#include "TApplication.h"
#include "TForm2.h"
#include "boards/Catalogue.h"
#include "boards/OwnBoardsCategory.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeNode.h"
#include "browser/TWebHost.h"
#include "dialogs/TMMOpenDialog.h"
#include "imaging/DLL96V1.h"
#include "imaging/EFOpenError.h"
#include "platform/TIniFile.h"
#include "preview/TPMultiImage.h"
#include "reduce/Recipe.h"
#include "reduce/ResizeImage_Block.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QFrame>
#include <QImageWriter>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QGuiApplication>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace app {

const QString kOpenFilter = QStringLiteral(
    "All Supported Media Formats|*.BMP;*.CMS;*.GIF;*.JPG;*.PCX;*.PNG;*.SCM;*.TIF;*.PCD;*.EMF;*.WMF;*.TGA;"
    "*.HEIC;*.HEIF;*.AVIF;*.WEBP;*.WAV;*.MID;*.RMI;*.AVI;|Windows Bitmap    (BMP) |*.BMP|Credit Message    (CMS) "
    "|*.CMS|Compuserve Gif    (GIF) |*.GIF|Jpeg    (JPG) |*.JPG|PaintShop Pro    (PCX) |*.PCX|Portable Graphics    (PNG) "
    "|*.PNG|Scrolling Message    (SCM) |*.SCM|Tagged Image    (TIF) |*.TIF|Kodak Photo CD    (PCD) |*.PCD|"
    "Windows Metafile    (WMF) |*.WMF|Enhanced Metafile    (EMF) |*.EMF|Targe Image    (TGA) |*.TGA|"
    "HEIF    (HEIC) |*.HEIC;*.HEIF|AVIF    (AVIF) |*.AVIF|WebP    (WEBP) |*.WEBP|Wave Sound    (WAV) |*.WAV|"
    "Midi Sound    (MID) |*.MID|RMI Sound    (RMI) |*.RMI|Video for Windows    (AVI) |*.AVI");

namespace {

const QString kWindowSection = QStringLiteral("Window");
const QString kBoardSection = QStringLiteral("Board");
const QString kPhotoSection = QStringLiteral("Photo");

// Whether this run wrote a file: one that existed before counts only when it
// was replaced (the writer renames a new file into place).
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};

    bool operator==(const FileStamp& other) const
    {
        return exists == other.exists && device == other.device && inode == other.inode &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileStamp StampOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {true, status.st_dev, status.st_ino, status.st_mtim};
}

void WriteErrorBox(QWidget* parent, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

QStringList UploadDialog(QWidget* parent, const TUploadChoice& choice)
{
    QFileDialog dialog(parent, QString(), choice.folder);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    using Mode = browser::FileRequest::Mode;
    switch (choice.mode) {
    case Mode::OpenMultiple:
        dialog.setFileMode(QFileDialog::ExistingFiles);
        break;
    case Mode::Folder:
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        break;
    case Mode::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        break;
    case Mode::Open:
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    }
    if (choice.mode != Mode::Folder)
        dialog.setNameFilters(choice.nameFilters);
    if (choice.preselected.size() == 1) {
        dialog.selectFile(choice.preselected.first());
    } else if (!choice.preselected.isEmpty()) {
        // Several names are chosen the way a user types them: each in quotes,
        // relative to the folder the dialog opens in.
        QStringList quoted;
        const QDir folder(choice.folder);
        for (const QString& file : choice.preselected)
            quoted << u'"' + folder.relativeFilePath(file) + u'"';
        dialog.selectFile(quoted.join(u' '));
    }
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

// The local files a drop carries, in its order; anything else is left out.
QStringList DroppedFiles(const QMimeData* data)
{
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

// A batch photo's failure in the user's words.
QString Reason(const std::exception& error)
{
    if (dynamic_cast<const imaging::EFOpenError*>(&error))
        return QStringLiteral("Не удалось открыть файл");
    const auto* own = dynamic_cast<const platform::Exception*>(&error);
    const QString message = own ? own->Message() : QString::fromUtf8(error.what());
    if (message == QLatin1String("Input image is empty"))
        return QStringLiteral("В файле нет фотографии");
    return message.isEmpty() ? QStringLiteral("Неизвестная ошибка") : message;
}

}  // namespace

std::optional<QString> SavePictureDialog(QWidget* parent)
{
    QFileDialog dialog(parent, QString(), PicturesFolder());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    QStringList patterns;
    for (const QByteArray& format : QImageWriter::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    dialog.setNameFilters({QStringLiteral("Изображения (") + patterns.join(u' ') + u')'});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

TForm1::TForm1(const QString& executablePath, QWidget* parent) : QWidget(parent)
{
    m_seam.openPhoto = [this](QWidget*) -> QStringList {
        // Made at the first photo command and reused by every later one:
        // making it starts the media framework, which a start-up that ends
        // at once (Tag=1) should not wait for.
        if (!m_openDialog) {
            m_openDialog = new dialogs::TMMOpenDialog(this);
            m_openDialog->setObjectName(QStringLiteral("MMOpenDialog1"));
            m_openDialog->SetFilter(kOpenFilter);
            m_openDialog->TiffSelectedPage = 0;
            m_openDialog->setDirectory(PicturesFolder());
            // Ctrl and Shift in the list, or several quoted names typed.
            m_openDialog->setFileMode(QFileDialog::ExistingFiles);
        }
        // Where the last photo was chosen, as the platform's own dialog
        // remembers it; the first time, the pictures folder.
        if (!m_photoFolder.isEmpty() && QFileInfo(m_photoFolder).isDir())
            m_openDialog->setDirectory(m_photoFolder);
        if (!m_openDialog->Execute())
            return {};
        return m_openDialog->Files();
    };
    m_seam.writeErrorBox = WriteErrorBox;
    m_seam.failedPhotosBox = WriteErrorBox;
    m_seam.savePicture = SavePictureDialog;
    m_seam.navigate = [this](const QString& address) {
        if (m_browser)
            m_browser->WebHost()->Navigate(address);
    };
    m_seam.chooseUpload = UploadDialog;
    CreateControls();
    FormCreate(executablePath);
}

void TForm1::SetSeam(TPhotoCommandSeam seam)
{
    m_seam = std::move(seam);
}

void TForm1::SetBrowserWindow(TForm2* window)
{
    m_browser = window;
    if (!window)
        return;
    // The posting page's file chooser opens where the reduced photos are,
    // with them chosen.
    window->WebHost()->OnChooseFiles = [this](const browser::FileRequest& request) {
        const QString opened = m_openDialog ? m_openDialog->directory().absolutePath() : QString();
        return m_seam.chooseUpload(m_browser, UploadChoiceFor(request, m_lastBatch, opened));
    };
}

void TForm1::submitClick()
{
    if (m_running)
        return;
    RunPhotoCommand(m_seam.openPhoto(this));
}

std::optional<QString> TForm1::ReducePhoto(const QString& source, QString* unreadable)
{
    if (unreadable) {
        // The preview takes a missing file or a folder for an empty picture,
        // which says nothing of why.
        const QFileInfo info(source);
        if (!info.exists())
            *unreadable = QStringLiteral("Файл не найден");
        else if (!info.isFile())
            *unreadable = QStringLiteral("Это не файл");
        if (!unreadable->isEmpty())
            return std::nullopt;
        // A reader's failure leaves the picture empty and only its text behind.
        imaging::DLL96V1::SetErrorText(QString());
    }
    m_export->SetImageName(source);
    if (unreadable) {
        const imaging::TBitmap* picture = m_export->Picture().BitmapOrNull();
        if (!picture || !picture->HandleAllocated()) {
            const QString text = imaging::DLL96V1::ErrorText();
            *unreadable = text.isEmpty() ? QStringLiteral("В файле нет фотографии") : text;
            return std::nullopt;
        }
    }
    // The folder with its closing separator, "/", and the name with its
    // extension (the last "." on) replaced. Intended: the separator comes
    // twice ("folder//name"), as the design builds it; the file system reads
    // it as one, and the caption, the upload helper and the tests see the
    // name as written.
    const std::string photo = source.toStdString();
    const reduce::PhotoPath path = reduce::SplitPhotoPath(photo);
    const QString name = QString::fromStdString(reduce::OutputName(path.name));
    const QString output = QString::fromStdString(std::string(path.folder)) + u'/' + name;

    // Whether this run wrote `target`: an older file of that name is no
    // proof.
    const auto reduceTo = [this](const QString& target) {
        const FileStamp before = StampOf(target);
        reduce::ResizeImage_Block(this, *m_export, reduce::kTarget, reduce::kThreshold, reduce::kQuality,
                                  reduce::kAmount, target);
        const FileStamp after = StampOf(target);
        return after.exists && !(after == before);
    };
    const auto written = [this](const QString& target, const QString& caption) {
        setWindowTitle(caption);
        m_export->SetImageName(target);
        return target;
    };
    if (reduceTo(output))
        return written(output, name);
    // Again and again until a write succeeds or the user gives up; then
    // caption and preview stay as they are.
    for (;;) {
        m_seam.writeErrorBox(this, QStringLiteral("Ошибка записи"),
                             QStringLiteral("Нет доступа для записи копии файла на выбранный диск.\r\n"
                                            "Нажмите \"OK\" и в откывшемся окне выберите диск для сохранения "
                                            "измененного изображения."));
        const std::optional<QString> chosen = m_seam.savePicture(this);
        if (!chosen)
            return std::nullopt;
        if (reduceTo(*chosen))
            return written(*chosen, *chosen);
    }
}

QStringList TForm1::ReduceBatch(const QStringList& photos)
{
    const int count = static_cast<int>(photos.size());
    QStringList written;
    QStringList failed;
    m_cancelBatch = false;
    {
        m_label1->hide();
        m_batchProgress->setRange(0, count);
        m_batchProgress->show();
        m_batchCancel->show();
        m_batchEscape->setEnabled(true);
        // Gone before the failures are shown, however the loop ends.
        const auto progressOff = qScopeGuard([this] {
            m_batchEscape->setEnabled(false);
            m_batchProgress->hide();
            m_batchCancel->hide();
            m_label1->show();
        });
        for (int i = 0; i < count && !m_cancelBatch; ++i) {
            const QString& source = photos[i];
            ShowBatchProgress(i, i + 1, count);
            QCoreApplication::processEvents();
            QString reason;
            try {
                if (const std::optional<QString> file = ReducePhoto(source, &reason))
                    written << *file;
            } catch (const std::exception& error) {
                reason = Reason(error);
            }
            if (!reason.isEmpty())
                failed << QFileInfo(source).fileName() + QStringLiteral(": ") + reason;
            ShowBatchProgress(i + 1, i + 1, count);
            // The reduced photo painted, a press of Escape taken.
            QCoreApplication::processEvents();
        }
        // A photo that failed after the last good one took it from the preview.
        if (!written.isEmpty() && m_export->ImageName() != written.last())
            m_export->SetImageName(written.last());
    }
    if (written.size() > 1)
        setWindowTitle(QStringLiteral("%1 фото").arg(written.size()));

    if (!failed.isEmpty()) {
        // A screenful at most; the count says how many there were.
        constexpr qsizetype kListed = 20;
        QString text = QStringLiteral("Не удалось обработать %1 из %2 фото:\n\n").arg(failed.size()).arg(count);
        text += failed.mid(0, kListed).join(u'\n');
        if (failed.size() > kListed)
            text += QStringLiteral("\n… и ещё %1").arg(failed.size() - kListed);
        m_seam.failedPhotosBox(this, QStringLiteral("Не все фото обработаны"), text);
    }
    return written;
}

void TForm1::ShowBatchProgress(int done, int current, int count)
{
    m_batchProgress->setValue(done);
    m_batchProgress->setFormat(QStringLiteral("%1 из %2").arg(current).arg(count));
}

void TForm1::RunPhotoCommand(const QStringList& chosen)
{
    // The reduction lets events run: a second click meanwhile does nothing.
    if (m_running)
        return;
    m_running = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{m_running};

    QStringList photos = chosen;
    photos.removeDuplicates();
    if (!photos.isEmpty())
        m_photoFolder = QFileInfo(photos.first()).absolutePath();
    if (photos.size() == 1) {
        if (const std::optional<QString> written = ReducePhoto(photos.first()))
            m_lastBatch = {*written};
    } else if (photos.size() > 1) {
        // A batch that wrote nothing leaves the last one on offer.
        if (const QStringList written = ReduceBatch(photos); !written.isEmpty())
            m_lastBatch = written;
    }

    if (m_browser) {
        m_browser->show();
        m_browser->raise();
        m_browser->activateWindow();
    }
    // A category is no board: a top-level node names no host to post to.
    const boards::TfcTreeNode* node = m_board->SelectedNode();
    if (node && node->Parent()) {
        const QString host = node->DataText2().isEmpty() ? node->Text() : node->DataText2();
        // A board of the seller's own posts over the scheme it was given.
        const boards::OwnBoardsCategory* own = boards::OwnBoardsCategory::Of(m_board);
        const QString scheme = own ? own->Scheme(node) : QStringLiteral("http://");
        m_seam.navigate(scheme + host + u'/' + node->DataText1() + QStringLiteral("#fosform"));
    } else {
        m_seam.navigate(QStringLiteral("http://") + boards::DefaultBoardHost() + QStringLiteral("/board/i.php#fosform"));
        m_board->SetText(boards::DefaultBoardHost());
    }
    WriteSettings();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    // The program ends with this window: photos still waiting are not begun.
    m_cancelBatch = true;
    Q_EMIT Closed();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const QStringList files = DroppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    TApplication::HandleEvent([&] { RunPhotoCommand(files); });
}

void TForm1::CreateControls()
{
    setWindowTitle(QStringLiteral("Снимкорез для досок объявлений"));
    // Single border, system menu and minimise only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    move(kDesignedLeft, kDesignedTop);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);

    CreateExport();

    m_panel1 = new QFrame(this);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFrameShape(QFrame::NoFrame);
    m_panel1->setGeometry(0, 400, 728, 40);

    m_label2 = new QLabel(QStringLiteral("Сайт:"), m_panel1);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setGeometry(8, 8, 27, 13);
    m_label2->adjustSize();  // labels size to their text; the fallback font is wider

    m_board = new boards::TfcTreeCombo(m_panel1);
    m_board->setObjectName(QStringLiteral("board"));
    m_board->setGeometry(48, 5, 177, 21);
    m_board->SetDropDownCount(8);
    m_board->SetOptions(boards::icoExpanded);
    m_board->SetShowMatchText(true);
    boards::LoadCatalogue(m_board->Items());

    m_submit = new QPushButton(QStringLiteral("Выбрать фото"), m_panel1);
    m_submit->setObjectName(QStringLiteral("submit"));
    m_submit->setGeometry(240, 4, 89, 25);
    connect(m_submit, &QPushButton::clicked, this, [this] { TApplication::HandleEvent([this] { submitClick(); }); });

    m_label1 = new QLabel(QStringLiteral("Сжатое фото создается в папке с оригиналом \"Оригинал_Resize728px.jpg\""),
                          m_panel1);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(336, 10, 383, 13);
    // The hint was laid out for a narrower font than Linux has: a little
    // smaller type keeps all of it in its place.
    QFont hint = m_label1->font();
    while (QFontMetrics(hint).horizontalAdvance(m_label1->text()) > m_label1->width() && hint.pointSizeF() > 6.0)
        hint.setPointSizeF(hint.pointSizeF() - 0.25);
    m_label1->setFont(hint);

    // In the hint's place while several photos are reduced.
    m_batchProgress = new QProgressBar(m_panel1);
    m_batchProgress->setObjectName(QStringLiteral("BatchProgress"));
    m_batchProgress->setGeometry(336, 7, 290, 19);
    m_batchProgress->setAlignment(Qt::AlignCenter);
    m_batchProgress->hide();
    m_batchCancel = new QPushButton(QStringLiteral("Прервать"), m_panel1);
    m_batchCancel->setObjectName(QStringLiteral("BatchCancel"));
    m_batchCancel->setGeometry(634, 4, 85, 25);
    m_batchCancel->setToolTip(QStringLiteral("Остановить после текущего фото (Esc)"));
    m_batchCancel->hide();
    connect(m_batchCancel, &QPushButton::clicked, this, [this] { m_cancelBatch = true; });
    // Not the button's own shortcut: that clicks a moment later, by when the
    // next photo may have begun.
    m_batchEscape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_batchEscape->setEnabled(false);
    connect(m_batchEscape, &QShortcut::activated, this, [this] { m_cancelBatch = true; });
    setTabOrder(m_board, m_submit);
    setAcceptDrops(true);
}

// Set in the order the window's definition stores them, then Loaded.
void TForm1::CreateExport()
{
    using namespace preview;
    m_export = new TPMultiImage(this);
    m_export->setObjectName(QStringLiteral("Export"));
    m_export->SetBounds(0, 0, 728, 400);
    m_export->SetGrabHandCursor(5);
    m_export->SetScrolling(true);
    m_export->SetShowScrollbars(true);
    m_export->SetColor(Qt::black);
    imaging::TPicture emptyBitmap;  // the stored picture: a bitmap without pixels
    emptyBitmap.SetBitmap(imaging::TBitmap());
    m_export->SetPicture(emptyBitmap);
    m_export->SetImageReadRes(TLoadResolution::lAutoMatic);
    m_export->SetBlitMode(TBlitMode::sLight);
    m_export->SetImageWriteRes(TSaveResolution::sAutoMatic);
    m_export->SetTifSaveCompress(TTiffCompression::sNONE);
    m_export->SetTiffPage(0);
    m_export->SetTiffAppend(false);
    m_export->SetJPegSaveQuality(90);
    m_export->SetJPegSaveSmooth(5);
    m_export->SetRubberBandBtn(TMouseButton::mbLeft);
    m_export->SetScrollbarWidth(16);
    m_export->SetParentColor(true);
    m_export->SetTextLeft(0);
    m_export->SetTextTop(0);
    m_export->SetTextRotate(0);
    m_export->SetZoomBy(10);
    m_export->Loaded();
}

QString TForm1::SettingsPathFor(const QString& executablePath)
{
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    return info.path() + u'/' + stem + QStringLiteral(".ini");
}

QString TForm1::SettingsFileFor(const QString& executablePath)
{
    const QString beside = SettingsPathFor(executablePath);
    const QString folder = QFileInfo(beside).absolutePath();
    // An installed program's folder is no place for settings, even for root,
    // who may write it.
    const bool installed = folder.startsWith(QLatin1String("/usr/"));
    if (!installed && ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return beside;
    const QString perUser =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/snimkorez");
    QDir().mkpath(perUser);
    return perUser + u'/' + QFileInfo(beside).fileName();
}

void TForm1::FormCreate(const QString& executablePath)
{
    m_settingsPath = SettingsFileFor(executablePath);
    const platform::TIniFile settings(m_settingsPath);
    if (settings.ReadInteger(kWindowSection, QStringLiteral("Tag"), 0) == 1) {
        m_exitRequested = true;
        return;
    }
    move(x(), settings.ReadInteger(kWindowSection, QStringLiteral("Top"), y()));
    move(settings.ReadInteger(kWindowSection, QStringLiteral("Left"), x()), y());
    KeepReachable();
    // The seller's own boards join the tree before the stored choice is matched.
    new boards::OwnBoardsCategory(m_board, boards::OwnBoards::DefaultFileName());
    m_board->SetText(
        settings.ReadString(kBoardSection, QStringLiteral("Select"), boards::DefaultBoardHost()));
    m_photoFolder = settings.ReadString(kPhotoSection, QStringLiteral("Folder"), QString());

    // Restores the stored choice; a failure leaves the selector as it is.
    try {
        m_board->DropDown();
        m_board->CloseUp(true);
    } catch (...) {
    }
}

// A stored position can leave the window out of reach (a monitor since
// unplugged, a hand-edited file), and only the photo command, which needs the
// window, writes it again: a window whose selector and button show on no
// screen comes back onto the primary screen's free area.
void TForm1::KeepReachable()
{
    const QRect strip = m_board->geometry().united(m_submit->geometry()).translated(m_panel1->pos() + pos());
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(strip))
            return;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect area = primary->availableGeometry();
    move(std::clamp(x(), area.left(), std::max(area.left(), area.right() + 1 - width())),
         std::clamp(y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
}

void TForm1::WriteSettings()
{
    platform::TIniFile settings(m_settingsPath);
    settings.WriteInteger(kWindowSection, QStringLiteral("Top"), y());
    settings.WriteInteger(kWindowSection, QStringLiteral("Left"), x());
    const boards::TfcTreeNode* node = m_board->SelectedNode();
    settings.WriteString(kBoardSection, QStringLiteral("Select"),
                         node && node->Parent() ? node->Text() : boards::DefaultBoardHost());
    // Unknown to older copies, which read on without it.
    if (!m_photoFolder.isEmpty())
        settings.WriteString(kPhotoSection, QStringLiteral("Folder"), m_photoFolder);
}

}  // namespace app
