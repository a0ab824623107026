#pragma once

#include "OwnBoards.h"

#include <QObject>

#include <functional>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace boards {

class TfcCustomTreeCombo;
class TfcTreeNode;

// The seller's own boards in a selector: the last category "Мои доски"
// (never chosen itself), built from the boards file, and the selector's
// menu with "Добавить доску…" and "Удалить доску" (for the chosen board of
// that category). A child of the selector, its menu too: both go with it.
class OwnBoardsCategory : public QObject {
    Q_OBJECT

public:
    static const QString kCategory;

    // Reads `fileName` and appends the category when it holds boards. Boards
    // whose host the selector already has are skipped. Lines that are no
    // boards are reported through ShowMessage once the event loop runs, so
    // the message shows over the window, not before it.
    OwnBoardsCategory(TfcCustomTreeCombo* selector, const QString& fileName);

    // The one a selector has, or null.
    [[nodiscard]] static OwnBoardsCategory* Of(const TfcCustomTreeCombo* selector);

    // The category node, or null while there are no own boards.
    [[nodiscard]] TfcTreeNode* Category() const;
    // "https://" for an own board given so, else "http://".
    [[nodiscard]] QString Scheme(const TfcTreeNode* node) const;
    // The own board behind `node`, or nothing when it is none.
    [[nodiscard]] std::optional<OwnBoard> BoardOf(const TfcTreeNode* node) const;

    // The menu's commands. Adding asks for the address until it is one or
    // the question is cancelled, writes the file and chooses the board.
    // Removing asks first; the default board is chosen afterwards.
    void AddBoard();
    void RemoveBoard();

    // The questions and messages; tests answer instead. AskAddress gets the
    // text to start with and returns nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& typed)> AskAddress;
    std::function<bool(QWidget* parent, const QString& question)> Confirm;
    std::function<void(QWidget* parent, const QString& text)> ShowMessage;

private:
    // Reads the file and builds the category again; a choice inside the
    // old one is dropped.
    void Rebuild();
    // ASCII hosts of every board outside the category.
    [[nodiscard]] QSet<QString> CatalogueHosts() const;
    [[nodiscard]] TfcTreeNode* FindBoard(const QString& asciiHost) const;
    [[nodiscard]] QWidget* Parent() const;

    TfcCustomTreeCombo* m_selector;
    OwnBoards m_file;
    TfcTreeNode* m_category = nullptr;
    // The boards as the category shows them, child by child.
    std::vector<OwnBoard> m_shown;
    QMenu* m_menu;
    QAction* m_add;
    QAction* m_remove;
};

}  // namespace boards
