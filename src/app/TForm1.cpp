#include "TForm1.h"

#include "TApplication.h"
#include "TForm2.h"
#include "boards/Catalogue.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeNode.h"
#include "browser/TWebHost.h"
#include "dialogs/TMMOpenDialog.h"
#include "platform/TIniFile.h"
#include "preview/TPMultiImage.h"
#include "reduce/ResizeImage_Block.h"

#include <QCloseEvent>
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
#include <QPushButton>
#include <QScreen>
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
const QString kOutputSuffix = QStringLiteral("_Resize728px.jpg");
constexpr int32_t kTarget = 728;
constexpr int32_t kThreshold = 640;
constexpr int32_t kQuality = 90;
constexpr int32_t kAmount = 2;

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
    for (const QString& file : choice.preselected)
        dialog.selectFile(file);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

// The one local file a drop carries, or nothing.
std::optional<QString> DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return std::nullopt;
    return data->urls().first().toLocalFile();
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
    m_seam.openPhoto = [this](QWidget*) -> std::optional<QString> {
        // Made at the first photo command and reused by every later one:
        // making it starts the media framework, which a start-up that ends
        // at once (Tag=1) should not wait for.
        if (!m_openDialog) {
            m_openDialog = new dialogs::TMMOpenDialog(this);
            m_openDialog->setObjectName(QStringLiteral("MMOpenDialog1"));
            m_openDialog->SetFilter(kOpenFilter);
            m_openDialog->TiffSelectedPage = 0;
            m_openDialog->setDirectory(PicturesFolder());
        }
        // Where the last photo was chosen, as the platform's own dialog
        // remembers it; the first time, the pictures folder.
        if (!m_photoFolder.isEmpty() && QFileInfo(m_photoFolder).isDir())
            m_openDialog->setDirectory(m_photoFolder);
        if (!m_openDialog->Execute())
            return std::nullopt;
        return m_openDialog->FileName();
    };
    m_seam.writeErrorBox = WriteErrorBox;
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
    // The posting page's file chooser opens where the reduced photo is,
    // with it chosen.
    window->WebHost()->OnChooseFiles = [this](const browser::FileRequest& request) {
        const QString opened = m_openDialog ? m_openDialog->directory().absolutePath() : QString();
        return m_seam.chooseUpload(m_browser, UploadChoiceFor(request, m_lastReduced, opened));
    };
}

void TForm1::submitClick()
{
    if (m_running)
        return;
    RunPhotoCommand(m_seam.openPhoto(this));
}

void TForm1::RunPhotoCommand(const std::optional<QString>& photo)
{
    // The reduction lets events run: a second click meanwhile does nothing.
    if (m_running)
        return;
    m_running = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{m_running};

    if (photo) {
        const QString& source = *photo;
        m_photoFolder = QFileInfo(source).absolutePath();
        m_export->SetImageName(source);
        // The folder with its closing separator, "/", and the name with its
        // extension (the last "." on) replaced.
        const qsizetype slash = source.lastIndexOf(u'/');
        const QString folder = source.left(slash + 1);
        QString name = source.mid(slash + 1);
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot >= 0)
            name.truncate(dot);
        name += kOutputSuffix;
        const QString output = folder + u'/' + name;

        // Whether this run wrote `target`: an older file of that name is no
        // proof.
        const auto reduceTo = [this](const QString& target) {
            const FileStamp before = StampOf(target);
            reduce::ResizeImage_Block(this, *m_export, kTarget, kThreshold, kQuality, kAmount, target);
            const FileStamp after = StampOf(target);
            return after.exists && !(after == before);
        };
        const auto written = [this](const QString& target, const QString& caption) {
            setWindowTitle(caption);
            m_export->SetImageName(target);
            m_lastReduced = target;
        };
        if (reduceTo(output)) {
            written(output, name);
        } else {
            // Again and again until a write succeeds or the user gives up;
            // then caption and preview stay as they are.
            for (;;) {
                m_seam.writeErrorBox(this, QStringLiteral("Ошибка записи"),
                                     QStringLiteral("Нет доступа для записи копии файла на выбранный диск.\r\n"
                                                    "Нажмите \"OK\" и в откывшемся окне выберите диск для сохранения "
                                                    "измененного изображения."));
                const std::optional<QString> chosen = m_seam.savePicture(this);
                if (!chosen)
                    break;
                if (reduceTo(*chosen)) {
                    written(*chosen, *chosen);
                    break;
                }
            }
        }
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
        m_seam.navigate(QStringLiteral("http://") + host + u'/' + node->DataText1() + QStringLiteral("#fosform"));
    } else {
        m_seam.navigate(QStringLiteral("http://") + boards::DefaultBoardHost() + QStringLiteral("/board/i.php#fosform"));
        m_board->SetText(boards::DefaultBoardHost());
    }
    WriteSettings();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT Closed();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (DroppedFile(event->mimeData()))
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const std::optional<QString> file = DroppedFile(event->mimeData());
    if (!file)
        return;
    event->acceptProposedAction();
    TApplication::HandleEvent([&] { RunPhotoCommand(file); });
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
