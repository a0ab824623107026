#include "OwnBoardsCategory.h"

#include "Catalogue.h"
#include "TfcCustomTreeCombo.h"
#include "TfcTreeComboTreeNode.h"

#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace boards {

const QString OwnBoardsCategory::kCategory = QStringLiteral("Мои доски");

namespace {

bool HasNonAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return true;
    }
    return false;
}

// The host a board node posts to, in the form files and catalogue compare.
QString AsciiHostOf(const TfcTreeNode* node)
{
    if (!node->DataText2().isEmpty())
        return node->DataText2().toLower();
    return QString::fromLatin1(QUrl::toAce(node->Text())).toLower();
}

std::optional<QString> AskAddressDialog(QWidget* parent, const QString& typed)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Добавить доску"));
    dialog.setLabelText(QStringLiteral("Адрес страницы, где подают объявление, например\n"
                                       "https://доска.рф/add или doska.ru/board/add.php:"));
    dialog.setTextValue(typed);
    dialog.setOkButtonText(QStringLiteral("Добавить"));
    dialog.setCancelButtonText(QStringLiteral("Отмена"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

bool ConfirmDialog(QWidget* parent, const QString& question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Удалить доску"), question, QMessageBox::NoButton, parent);
    QPushButton* remove = box.addButton(QStringLiteral("Удалить"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.exec();
    return box.clickedButton() == remove;
}

void MessageBox(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, OwnBoardsCategory::kCategory, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

OwnBoardsCategory::OwnBoardsCategory(TfcCustomTreeCombo* selector, const QString& fileName)
    : QObject(selector),
      m_selector(selector),
      m_file(fileName),
      m_menu(new QMenu(selector)),
      m_add(m_menu->addAction(QStringLiteral("Добавить доску…"))),
      m_remove(m_menu->addAction(QStringLiteral("Удалить доску")))
{
    AskAddress = AskAddressDialog;
    Confirm = ConfirmDialog;
    ShowMessage = MessageBox;
    connect(m_add, &QAction::triggered, this, &OwnBoardsCategory::AddBoard);
    connect(m_remove, &QAction::triggered, this, &OwnBoardsCategory::RemoveBoard);
    selector->SetPopupMenu(m_menu);
    selector->OnContextPopup = [self = QPointer<OwnBoardsCategory>(this)](TfcCustomCombo*, QPoint, bool&) {
        if (self)
            self->m_remove->setEnabled(self->BoardOf(self->m_selector->SelectedNode()).has_value());
    };

    Rebuild();
    const QString problems = m_file.ProblemsMessage();
    if (!problems.isEmpty()) {
        QTimer::singleShot(0, this, [this, problems] {
            if (ShowMessage)
                ShowMessage(Parent(), problems);
        });
    }
}

OwnBoardsCategory* OwnBoardsCategory::Of(const TfcCustomTreeCombo* selector)
{
    return selector ? selector->findChild<OwnBoardsCategory*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

TfcTreeNode* OwnBoardsCategory::Category() const
{
    // Only a category still in the tree: the tree may have been reloaded.
    const TfcTreeNodes& items = m_selector->Items();
    for (int i = 0; i < items.Count(); ++i) {
        if (items.Item(i) == m_category)
            return m_category;
    }
    return nullptr;
}

std::optional<OwnBoard> OwnBoardsCategory::BoardOf(const TfcTreeNode* node) const
{
    const TfcTreeNode* category = Category();
    if (!node || !category || node->Parent() != category)
        return std::nullopt;
    for (int i = 0; i < category->Count() && i < static_cast<int>(m_shown.size()); ++i) {
        if (category->Item(i) == node)
            return m_shown[static_cast<std::size_t>(i)];
    }
    return std::nullopt;
}

QString OwnBoardsCategory::Scheme(const TfcTreeNode* node) const
{
    const std::optional<OwnBoard> board = BoardOf(node);
    return board ? board->Scheme() : QStringLiteral("http://");
}

void OwnBoardsCategory::AddBoard()
{
    QString typed;
    for (;;) {
        const std::optional<QString> answer = AskAddress(Parent(), typed);
        if (!answer)
            return;
        typed = answer->trimmed();
        if (typed.isEmpty()) {
            ShowMessage(Parent(), QStringLiteral("Введите адрес страницы подачи объявления, например:\n"
                                                 "https://доска.рф/add или doska.ru/board/add.php"));
            continue;
        }
        OwnBoardError error;
        const std::optional<OwnBoard> board = OwnBoards::ParseAddress(typed, &error);
        if (!board) {
            ShowMessage(Parent(), QStringLiteral("«%1» — не адрес доски: %2.\n\n"
                                                 "Введите адрес страницы подачи объявления, например:\n"
                                                 "https://доска.рф/add или doska.ru/board/add.php")
                                      .arg(typed, error.reason));
            continue;
        }
        const QString ascii = board->AsciiHost();
        if (CatalogueHosts().contains(ascii)) {
            // The selector knows a board by its host: a second one of the
            // same host could never be chosen again at the next start.
            TfcTreeNode* known = FindBoard(ascii);
            ShowMessage(Parent(), QStringLiteral("Доска %1 уже есть в разделе «%2», она выбрана.")
                                      .arg(known->Text(), known->Parent()->Text()));
            m_selector->SetSelectedNode(known);
            return;
        }
        if (const QString failed = m_file.Add(*board); !failed.isEmpty()) {
            ShowMessage(Parent(), failed);
            return;
        }
        Rebuild();
        m_selector->SetSelectedNode(FindBoard(ascii));
        return;
    }
}

void OwnBoardsCategory::RemoveBoard()
{
    const std::optional<OwnBoard> board = BoardOf(m_selector->SelectedNode());
    if (!board)
        return;
    if (!Confirm(Parent(), QStringLiteral("Удалить доску %1 из раздела «%2»?").arg(board->host, kCategory)))
        return;
    if (const QString failed = m_file.Remove(board->AsciiHost()); !failed.isEmpty()) {
        ShowMessage(Parent(), failed);
        return;
    }
    Rebuild();
    // The choice went with the board: the program's default board instead.
    for (TfcTreeNode* node : m_selector->Items().AllNodes()) {
        if (node->Parent() && node->Text() == DefaultBoardHost()) {
            m_selector->SetSelectedNode(node);
            break;
        }
    }
}

void OwnBoardsCategory::Rebuild()
{
    if (TfcTreeNode* old = Category())
        m_selector->DeleteNode(old);
    m_category = nullptr;
    m_shown.clear();
    m_file.Load(CatalogueHosts());
    if (m_file.Boards().empty())
        return;
    m_category = m_selector->Items().AddRoot(kCategory);
    if (auto* comboNode = dynamic_cast<TfcTreeComboTreeNode*>(m_category))
        comboNode->SetSelectable(false);
    for (const OwnBoard& board : m_file.Boards()) {
        TfcTreeNode* node = m_category->AddChild(board.host);
        node->SetDataText1(board.path);
        // As in the catalogue: a Cyrillic host is reached through its ASCII form.
        if (HasNonAscii(board.host))
            node->SetDataText2(board.AsciiHost());
    }
    m_shown = m_file.Boards();
}

QSet<QString> OwnBoardsCategory::CatalogueHosts() const
{
    QSet<QString> hosts;
    const TfcTreeNode* category = Category();
    for (const TfcTreeNode* node : m_selector->Items().AllNodes()) {
        if (!node->Parent() || node->Parent() == category)
            continue;
        const QString ascii = AsciiHostOf(node);
        if (!ascii.isEmpty())
            hosts.insert(ascii);
    }
    return hosts;
}

TfcTreeNode* OwnBoardsCategory::FindBoard(const QString& asciiHost) const
{
    for (TfcTreeNode* node : m_selector->Items().AllNodes()) {
        if (node->Parent() && AsciiHostOf(node) == asciiHost)
            return node;
    }
    return nullptr;
}

QWidget* OwnBoardsCategory::Parent() const
{
    return m_selector->window();
}

}  // namespace boards
