#include "TForm1.h"

#include "boards/Catalogue.h"
#include "boards/TfcTreeCombo.h"
#include "platform/TIniFile.h"
#include "preview/TPMultiImage.h"

#include <QFileInfo>
#include <QFrame>
#include <QLabel>

namespace app {

namespace {

const QString kWindowSection = QStringLiteral("Window");
const QString kBoardSection = QStringLiteral("Board");

}  // namespace

TForm1::TForm1(const QString& executablePath, QWidget* parent) : QWidget(parent)
{
    CreateControls();
    FormCreate(executablePath);
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

void TForm1::FormCreate(const QString& executablePath)
{
    m_settingsPath = SettingsPathFor(executablePath);
    const platform::TIniFile settings(m_settingsPath);
    if (settings.ReadInteger(kWindowSection, QStringLiteral("Tag"), 0) == 1) {
        m_exitRequested = true;
        return;
    }
    move(x(), settings.ReadInteger(kWindowSection, QStringLiteral("Top"), y()));
    move(settings.ReadInteger(kWindowSection, QStringLiteral("Left"), x()), y());
    m_board->SetText(
        settings.ReadString(kBoardSection, QStringLiteral("Select"), boards::DefaultBoardHost()));

    // Restores the stored choice; a failure leaves the selector as it is.
    try {
        m_board->DropDown();
        m_board->CloseUp(true);
    } catch (...) {
    }
}

void TForm1::WriteSettings()
{
    platform::TIniFile settings(m_settingsPath);
    settings.WriteInteger(kWindowSection, QStringLiteral("Top"), y());
    settings.WriteInteger(kWindowSection, QStringLiteral("Left"), x());
    const boards::TfcTreeNode* node = m_board->SelectedNode();
    settings.WriteString(kBoardSection, QStringLiteral("Select"),
                         node ? node->Text() : boards::DefaultBoardHost());
}

}  // namespace app
