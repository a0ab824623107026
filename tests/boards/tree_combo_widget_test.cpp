// The selector driven by real key and mouse events, on a shown window.
#include "BoolRows.h"
#include "boards/Catalogue.h"
#include "boards/TfcPopupTreeView.h"
#include "boards/TfcTreeCombo.h"
#include "boards/TfcTreeNode.h"

#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QtTest>

#include <memory>

using namespace boards;

namespace {

// A window like the main one: the selector and one more control to take the focus.
struct Host {
    QWidget window;
    TfcTreeCombo* combo;
    QLineEdit* other;
    int selectionChanges = 0;
    int closeUps = 0;

    Host()
    {
        window.resize(300, 120);
        combo = new TfcTreeCombo(&window);
        combo->setGeometry(48, 5, 177, 21);
        combo->SetDropDownCount(8);
        combo->SetOptions(icoExpanded);
        combo->SetShowMatchText(true);
        LoadCatalogue(combo->Items());
        combo->OnSelectionChange = [this](TfcCustomTreeCombo*, TfcTreeNode*) { ++selectionChanges; };
        combo->OnCloseUp = [this](TfcCustomCombo*, bool) { ++closeUps; };
        other = new QLineEdit(&window);
        other->setGeometry(48, 60, 177, 21);
    }

    // Shows the window with the selector focused and `text` chosen as at start-up.
    bool Show(const QString& text, QPoint at = QPoint(10, 10))
    {
        combo->SetText(text);
        combo->DropDown();
        combo->CloseUp(true);
        window.move(at);
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            return false;
        combo->setFocus();
        return combo->hasFocus();
    }

    TfcTreeNode* Node(int category, int board = -1) const
    {
        TfcTreeNode* node = combo->Items().Item(category);
        return board < 0 ? node : node->Item(board);
    }

    TfcPopupTreeView* View() const { return combo->TreeView(); }
    QWidget* Viewport() const { return View()->viewport(); }

    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(combo, key, modifiers);
    }

    // Typed characters, Cyrillic ones included, as a keyboard layout delivers them.
    void Type(const QString& text)
    {
        for (const QChar c : text) {
            const int key = c.isLetter() && c.unicode() < 128 ? int(c.toUpper().unicode()) : int(Qt::Key_unknown);
            QTest::sendKeyEvent(QTest::Click, combo, Qt::Key(key), QString(c), Qt::NoModifier);
        }
    }

    // What the selector shows is what it holds.
    bool Agrees() const
    {
        return combo->SelectedNode() && combo->SelectedNode()->Text() == combo->Text() &&
               combo->TreeSelection() == combo->SelectedNode();
    }
};

}  // namespace

class TreeComboWidgetTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_host = std::make_unique<Host>(); }
    void cleanup() { m_host.reset(); }

    // Down from the last board of the first category passes over the category
    // nobody may choose; Up comes back. Closed and open alike.
    void arrowKeysSkipTheUnchoosableCategory_data()
    {
        testfiles::BoolRows("open", "closed", "open");
    }
    void arrowKeysSkipTheUnchoosableCategory()
    {
        QFETCH(bool, open);
        Host& h = *m_host;
        TfcTreeNode* last = h.Node(0, h.Node(0)->Count() - 1);
        QVERIFY(h.Show(last->Text()));
        QCOMPARE(h.combo->SelectedNode(), last);
        if (open)
            h.Key(Qt::Key_F4);
        QCOMPARE(h.combo->DroppedDown(), open);

        h.Key(Qt::Key_Down);
        QCOMPARE(h.combo->SelectedNode(), h.Node(1, 0));
        QVERIFY(h.Agrees());
        QCOMPARE(h.combo->selectedText(), h.combo->Text());
        QVERIFY(h.combo->Modified());
        QCOMPARE(h.selectionChanges, 1);

        h.Key(Qt::Key_Up);
        QCOMPARE(h.combo->SelectedNode(), last);
        QVERIFY(h.Agrees());
        QCOMPARE(h.selectionChanges, 2);
        if (open) {
            h.Key(Qt::Key_Return);
            QVERIFY(!h.combo->DroppedDown());
            QVERIFY(h.Agrees());
        }
    }

    void homeEndAndPagesFollowTheTable()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(h.Node(2, 3)->Text()));
        const std::vector<TfcTreeNode*> all = h.combo->Items().AllNodes();

        h.Key(Qt::Key_End);
        QCOMPARE(h.combo->SelectedNode(), all.back());
        h.Key(Qt::Key_Home);
        QCOMPARE(h.combo->SelectedNode(), h.Node(0));

        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_PageDown);
        const int page = h.combo->Popup()->height() / h.View()->RowHeight();
        QCOMPARE(page, 8);
        QCOMPARE(h.combo->SelectedNode(), all[8]);
        QCOMPARE(h.View()->Rows()[static_cast<std::size_t>(h.View()->TopRow())], all[1]);
        // Open, plain Home and End only move the caret.
        h.Key(Qt::Key_End);
        QCOMPARE(h.combo->SelectedNode(), all[8]);
        QCOMPARE(h.combo->cursorPosition(), h.combo->Text().size());
        h.Key(Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(h.combo->SelectedNode(), all.back());
        QCOMPARE(h.View()->TopRow(), static_cast<int>(all.size()) - 8);
        h.Key(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(h.combo->SelectedNode(), h.Node(0));
        QCOMPARE(h.View()->TopRow(), 0);
        h.Key(Qt::Key_PageUp);
        QCOMPARE(h.combo->SelectedNode(), h.Node(0));
        QVERIFY(h.Agrees());
    }

    // The choice the popup moved to goes back with a cancel, SelectedNode too,
    // so the photo command posts where the selector shows.
    void escapeAfterArrowKeysPutsTheChoiceBack()
    {
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(2, 0);
        QVERIFY(h.Show(start->Text()));
        h.Key(Qt::Key_Down, Qt::AltModifier);
        QVERIFY(h.combo->DroppedDown());
        h.Key(Qt::Key_Down);
        h.Key(Qt::Key_Down);
        QCOMPARE(h.combo->SelectedNode(), h.Node(2, 2));
        h.Key(Qt::Key_Escape);
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), start);
        QVERIFY(h.Agrees());
        QCOMPARE(h.closeUps, 2);  // the start-up selection and this one
        QVERIFY(!h.combo->MouseHookInstalled());
    }

    void keysThatDoNothingWhileClosed()
    {
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(3, 5);
        QVERIFY(h.Show(start->Text()));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Backspace, Qt::Key_Delete}) {
            h.Key(key);
            QCOMPARE(h.combo->SelectedNode(), start);
            QCOMPARE(h.combo->Text(), start->Text());
            QVERIFY(!h.combo->DroppedDown());
        }
        // Nothing edits the text: not paste, not cut, not undo.
        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        h.Key(Qt::Key_V, Qt::ControlModifier);
        h.Key(Qt::Key_X, Qt::ControlModifier);
        h.Key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(h.combo->Text(), start->Text());
        QCOMPARE(h.selectionChanges, 0);
    }

    void f4AndAltArrowsToggleTheDropDown()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(DefaultBoardHost()));
        h.Key(Qt::Key_F4);
        QVERIFY(h.combo->DroppedDown());
        QVERIFY(h.combo->Popup()->isVisible());
        QVERIFY(h.combo->MouseHookInstalled());
        h.Key(Qt::Key_F4);
        QVERIFY(!h.combo->DroppedDown());
        QVERIFY(!h.combo->Popup()->isVisible());
        QVERIFY(!h.combo->MouseHookInstalled());
        h.Key(Qt::Key_Up, Qt::AltModifier);
        QVERIFY(h.combo->DroppedDown());
        h.Key(Qt::Key_Up, Qt::AltModifier);
        QVERIFY(!h.combo->DroppedDown());
        h.Key(Qt::Key_F4, Qt::AltModifier);  // the window manager's, not ours
        QVERIFY(!h.combo->DroppedDown());
    }

    void tabAcceptsAndMovesTheFocus()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(h.Node(0, 0)->Text()));
        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        h.Key(Qt::Key_Tab);
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(0, 1));
        QVERIFY(h.Agrees());
        QVERIFY(h.other->hasFocus());
        // Coming back selects the whole text and forgets the earlier change.
        QVERIFY(h.combo->Modified());
        h.combo->setFocus(Qt::TabFocusReason);
        QVERIFY(!h.combo->Modified());
        QCOMPARE(h.combo->selectedText(), h.combo->Text());
    }

    // Typing searches; the found node's text is completed and the completion
    // selected so the next character replaces it.
    void typingSearchesAndCompletes()
    {
        Host& h = *m_host;
        TfcTreeNode* current = h.Node(0, 0);
        QVERIFY(h.Show(current->Text()));
        QCOMPARE(h.combo->selectedText(), h.combo->Text());

        // Continuing the current text keeps the current node.
        h.Type(current->Text().left(3));
        QCOMPARE(h.combo->SelectedNode(), current);
        QCOMPARE(h.combo->Text(), current->Text());
        QCOMPARE(h.combo->selectionStart(), 3);
        QCOMPARE(h.combo->selectedText(), current->Text().mid(3));
        QCOMPARE(h.selectionChanges, 0);

        // Backspace and Delete widen the completion, never change the choice.
        h.Key(Qt::Key_Backspace);
        QCOMPARE(h.combo->selectionStart(), 2);
        h.Key(Qt::Key_Delete);
        QCOMPARE(h.combo->selectionStart(), 1);
        h.Key(Qt::Key_Backspace);
        h.Key(Qt::Key_Backspace);
        QCOMPARE(h.combo->selectionStart(), 0);
        QCOMPARE(h.combo->SelectedNode(), current);

        // A Cyrillic host, found from the selection's start; the case of
        // Cyrillic letters must match.
        h.Type(QStringLiteral("ЯЛ"));
        QCOMPARE(h.combo->SelectedNode(), current);
        h.Type(QStringLiteral("ял"));
        QVERIFY(h.combo->Text().startsWith(QStringLiteral("ял")));
        QCOMPARE(h.combo->selectedText(), h.combo->Text().mid(2));
        QVERIFY(h.Agrees());
        QVERIFY(h.combo->Modified());
        QCOMPARE(h.selectionChanges, 1);

        // Latin letters match in either case; the node keeps its spelling.
        h.combo->selectAll();
        h.Type(QStringLiteral("YALTA-L"));
        QCOMPARE(h.combo->Text().left(7), QStringLiteral("yalta-l"));
        QVERIFY(h.Agrees());

        // Text no node begins with is swallowed.
        const QString before = h.combo->Text();
        h.Type(QStringLiteral("~"));
        QCOMPARE(h.combo->Text(), before);
    }

    void typingWithoutMatchTextSearchesOnlyWhileOpen()
    {
        Host& h = *m_host;
        h.combo->SetShowMatchText(false);
        TfcTreeNode* start = h.Node(0, 0);
        QVERIFY(h.Show(start->Text()));
        h.Type(QStringLiteral("ял"));
        QCOMPARE(h.combo->SelectedNode(), start);
        h.Key(Qt::Key_F4);
        h.combo->selectAll();
        h.Type(QStringLiteral("я"));
        QVERIFY(h.combo->Text().startsWith(QStringLiteral("я")));
        h.Key(Qt::Key_Return);
        QVERIFY(h.Agrees());
    }

    // The popup opens under the resting cursor without highlighting what is
    // there; moving does, but only choosable rows; a click picks.
    void mouseHoverAndClickPick()
    {
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(0, 0);
        QVERIFY(h.Show(start->Text()));
        h.Key(Qt::Key_F4);
        QCOMPARE(h.View()->TopRow(), 0);
        TfcTreeNode* category = h.Node(1);
        TfcTreeNode* target = h.Node(1, 2);
        const QPoint onCategory = h.View()->LabelRect(category).center();
        const QPoint onTarget = h.View()->LabelRect(target).center();
        QVERIFY(!onTarget.isNull());

        QTest::mouseMove(h.Viewport(), onTarget);
        QCOMPARE(h.combo->TreeSelection(), start);
        QTest::mouseMove(h.Viewport(), onTarget + QPoint(1, 0));
        QCOMPARE(h.combo->TreeSelection(), target);
        QCOMPARE(h.combo->SelectedNode(), start);  // hovering only highlights
        QTest::mouseMove(h.Viewport(), onCategory);
        QCOMPARE(h.combo->TreeSelection(), target);

        // Releasing on a category nobody may choose keeps the popup open.
        QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, onCategory);
        QVERIFY(h.combo->DroppedDown());
        // Right and double clicks do nothing.
        QTest::mouseClick(h.Viewport(), Qt::RightButton, {}, onTarget);
        QTest::mouseDClick(h.Viewport(), Qt::LeftButton, {}, onTarget);
        QVERIFY(h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), start);

        QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, onTarget);
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), target);
        QVERIFY(h.Agrees());
        QVERIFY(h.combo->Modified());
        QCOMPARE(h.selectionChanges, 1);
        // The popup never took the activation or the focus.
        QCOMPARE(QApplication::activeWindow(), &h.window);
        QVERIFY(h.combo->hasFocus());
    }

    void expandButtonTogglesAndPicksNothing()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(h.Node(0, 0)->Text()));
        h.Key(Qt::Key_F4);
        TfcTreeNode* category = h.Node(0);
        const std::size_t rows = h.View()->Rows().size();
        const QPoint button = h.View()->ButtonRect(category).center();
        QCOMPARE(h.View()->HitTest(button).part, TreeHitPart::Button);
        QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, button);
        QVERIFY(h.combo->DroppedDown());
        QVERIFY(!category->Expanded());
        QCOMPARE(h.View()->Rows().size(), rows - static_cast<std::size_t>(category->Count()));
        // Pressed on the button, released on a row: still nothing picked.
        const QPoint row = h.View()->LabelRect(h.Node(2)).center();
        QTest::mousePress(h.Viewport(), Qt::LeftButton, {}, button);
        QTest::mouseRelease(h.Viewport(), Qt::LeftButton, {}, row);
        QVERIFY(h.combo->DroppedDown());
        QVERIFY(category->Expanded());
        // The next drop-down expands everything again.
        QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, button);
        h.Key(Qt::Key_Escape);
        h.Key(Qt::Key_F4);
        QVERIFY(category->Expanded());
        QCOMPARE(h.View()->Rows().size(), rows);
    }

    void checkMarksToggleOrSet()
    {
        Host& h = *m_host;
        TfcTreeNode* box = h.Node(0, 0);
        TfcTreeNode* radio = h.Node(0, 1);
        box->SetCheckKind(TfcCheckKind::CheckBox);
        radio->SetCheckKind(TfcCheckKind::RadioButton);
        QVERIFY(h.Show(h.Node(0)->Text()));
        h.Key(Qt::Key_F4);
        for (int i = 0; i < 2; ++i) {
            QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, h.View()->CheckRect(box).center());
            QCOMPARE(box->Checked(), i == 0);
            QTest::mouseClick(h.Viewport(), Qt::LeftButton, {}, h.View()->CheckRect(radio).center());
            QVERIFY(radio->Checked());
        }
        QVERIFY(h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(0));
    }

    // Dragging below the list scrolls the choice down every 50 ms. Letting go
    // out there cancels, as any release outside the list does; coming back
    // into the list and letting go there picks the row under the cursor.
    void dragBelowTheListScrollsAndReleaseThereCancels()
    {
        Host& h = *m_host;
        TfcTreeNode* first = h.Node(0, 0);
        QVERIFY(h.Show(first->Text()));
        h.Key(Qt::Key_F4);
        const QPoint start = h.View()->LabelRect(h.Node(0, 1)).center();
        QTest::mouseMove(h.Viewport(), start);
        QTest::mousePress(h.Viewport(), Qt::LeftButton, {}, start);
        QTest::mouseMove(h.Viewport(), start + QPoint(0, 1));
        const QPoint below(start.x(), h.Viewport()->height() + 20);
        QTest::mouseMove(h.Viewport(), below);
        QVERIFY(h.View()->DragTimerActive());
        QTRY_VERIFY_WITH_TIMEOUT(h.View()->TopRow() >= 4, 5000);
        QVERIFY(h.Agrees());
        QVERIFY(h.combo->SelectedNode() != first);
        QTest::mouseRelease(h.Viewport(), Qt::LeftButton, {}, below);
        QVERIFY(!h.combo->DroppedDown());
        QVERIFY(!h.View()->DragTimerActive());
        QCOMPARE(h.combo->SelectedNode(), first);
        QVERIFY(h.Agrees());

        // Again, but back into the list before letting go.
        h.Key(Qt::Key_F4);
        QCOMPARE(h.combo->SelectedNode(), first);
        const QPoint from = h.View()->LabelRect(first).center();
        QTest::mousePress(h.Viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(h.Viewport(), from + QPoint(0, 1));
        QTest::mouseMove(h.Viewport(), below);
        QVERIFY(h.View()->DragTimerActive());
        const int top = h.View()->TopRow();
        QTRY_VERIFY_WITH_TIMEOUT(h.View()->TopRow() >= top + 2, 5000);
        const QPoint back(from.x(), h.Viewport()->height() - h.View()->RowHeight() / 2);
        QTest::mouseMove(h.Viewport(), back);
        QVERIFY(!h.View()->DragTimerActive());
        TfcTreeNode* under = h.View()->HitTest(back).node;
        QVERIFY(under && h.combo->IsChoosable(under) && under != first);
        QTest::mouseRelease(h.Viewport(), Qt::LeftButton, {}, back);
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), under);
        QVERIFY(h.Agrees());
    }

    // A press on a row, dragged out of the popup and released there, cancels:
    // the popup closes and the choice goes back, whichever side it left by.
    // Driven through the popup's window, as the window system delivers it.
    void pressOnARowReleasedOutsideThePopupCancels_data()
    {
        QTest::addColumn<QString>("side");
        QTest::newRow("right") << QStringLiteral("right");
        QTest::newRow("left") << QStringLiteral("left");
        QTest::newRow("below") << QStringLiteral("below");
        QTest::newRow("above, over the selector") << QStringLiteral("above");
    }
    void pressOnARowReleasedOutsideThePopupCancels()
    {
        QFETCH(QString, side);
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(0, 0);
        QVERIFY(h.Show(start->Text(), QPoint(100, 100)));
        h.Key(Qt::Key_F4);
        QWidget* popup = h.combo->Popup();
        QWindow* popupWindow = popup->windowHandle();
        QVERIFY(popupWindow);
        TfcTreeNode* target = h.Node(1, 2);
        const QPoint onTarget = h.Viewport()->mapTo(popup, h.View()->LabelRect(target).center());
        QTest::mouseMove(popupWindow, onTarget);
        QTest::mouseMove(popupWindow, onTarget + QPoint(1, 0));
        QCOMPARE(h.combo->TreeSelection(), target);
        QTest::mousePress(popupWindow, Qt::LeftButton, {}, onTarget);
        QVERIFY(h.combo->DroppedDown());
        QPoint out;
        if (side == QLatin1String("right"))
            out = QPoint(popup->width() + 15, onTarget.y());
        else if (side == QLatin1String("left"))
            out = QPoint(-15, onTarget.y());
        else if (side == QLatin1String("below"))
            out = QPoint(onTarget.x(), popup->height() + 15);
        else
            out = QPoint(onTarget.x(), -h.combo->height() / 2);
        QTest::mouseMove(popupWindow, out);
        QTest::mouseRelease(popupWindow, Qt::LeftButton, {}, out);
        QVERIFY(!h.combo->DroppedDown());
        QVERIFY(!popup->isVisible());
        QVERIFY(!h.combo->MouseHookInstalled());
        QVERIFY(!h.View()->DragTimerActive());
        QCOMPARE(h.combo->SelectedNode(), start);
        QVERIFY(h.Agrees());
        QVERIFY(h.combo->hasFocus());
        QCOMPARE(h.selectionChanges, 0);
    }

    // A left press on a control that takes the focus cancels, although Qt
    // moves the focus there before anyone sees the press. The press still
    // does its own work. Driven through the main window's window, as the
    // window system delivers it.
    void leftPressOnAFocusTakingControlCancels_data()
    {
        testfiles::BoolRows("onButton", "line edit", "push button");
    }
    void leftPressOnAFocusTakingControlCancels()
    {
        QFETCH(bool, onButton);
        Host& h = *m_host;
        auto* button = new QPushButton(QStringLiteral("Выбрать фото"), &h.window);
        button->setGeometry(48, 88, 120, 26);
        int clicks = 0;
        QObject::connect(button, &QPushButton::clicked, [&clicks] { ++clicks; });
        TfcTreeNode* start = h.Node(3, 0);
        QVERIFY(h.Show(start->Text()));
        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 1));
        const int closeUpsBefore = h.closeUps;

        QWidget* target = onButton ? static_cast<QWidget*>(button) : h.other;
        const QPoint at = target->mapTo(&h.window, target->rect().center());
        QTest::mouseClick(h.window.windowHandle(), Qt::LeftButton, {}, at);
        QVERIFY(target->hasFocus());
        QVERIFY(!h.combo->DroppedDown());
        QVERIFY(!h.combo->MouseHookInstalled());
        QCOMPARE(h.combo->SelectedNode(), start);
        QVERIFY(h.Agrees());
        QCOMPARE(h.closeUps, closeUpsBefore + 1);
        QCOMPARE(clicks, onButton ? 1 : 0);
    }

    // Focus that leaves without a left press accepts: a right press on a
    // control that takes the focus, or another window becoming active.
    void focusLossWithoutALeftPressAccepts()
    {
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(3, 0);
        QVERIFY(h.Show(start->Text()));
        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        const QPoint at = h.other->mapTo(&h.window, h.other->rect().center());
        QTest::mouseClick(h.window.windowHandle(), Qt::RightButton, {}, at);
        QVERIFY(h.other->hasFocus());
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 1));
        QVERIFY(h.Agrees());

        h.combo->setFocus();
        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        QWidget elsewhere;
        elsewhere.setGeometry(400, 300, 100, 50);
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QTRY_VERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 2));
        QVERIFY(h.Agrees());
    }

    // A left press elsewhere in the program cancels; clicks on the selector
    // itself and focus loss accept.
    void closingRules()
    {
        Host& h = *m_host;
        TfcTreeNode* start = h.Node(3, 0);
        QVERIFY(h.Show(start->Text()));

        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        QTest::mouseClick(&h.window, Qt::LeftButton, {}, QPoint(290, 110));
        QVERIFY(!h.combo->DroppedDown());
        QVERIFY(!h.combo->MouseHookInstalled());
        QCOMPARE(h.combo->SelectedNode(), start);
        QVERIFY(h.Agrees());

        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        QTest::mouseClick(h.combo, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 1));
        QVERIFY(h.Agrees());

        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        h.other->setFocus(Qt::OtherFocusReason);
        QVERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 2));
        QVERIFY(h.Agrees());

        // Moving the window (a press on its title bar) cancels.
        h.Key(Qt::Key_F4);
        h.Key(Qt::Key_Down);
        h.window.move(h.window.pos() + QPoint(5, 5));
        QTRY_VERIFY(!h.combo->DroppedDown());
        QCOMPARE(h.combo->SelectedNode(), h.Node(3, 2));
    }

    // A click on the closed selector focuses it and opens the drop-down once
    // the click has been handled; the button does the same.
    void clickOpensAfterTheClick()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(DefaultBoardHost()));
        h.other->setFocus();
        QTest::mouseClick(h.combo, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(h.combo->hasFocus());
        QVERIFY(!h.combo->DroppedDown());
        QTRY_VERIFY(h.combo->DroppedDown());
        QCOMPARE(h.combo->selectedText(), h.combo->Text());

        QWidget* button = h.combo->childAt(h.combo->width() - 6, 10);
        QVERIFY(button && button != h.combo);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(!h.combo->DroppedDown());
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, 4));
        QTRY_VERIFY(h.combo->DroppedDown());
        QCOMPARE(QApplication::activeWindow(), &h.window);
    }

    // Rows × row height plus the frame; below the selector, or above it when
    // the screen ends first.
    void popupSizeAndPlace()
    {
        Host& h = *m_host;
        const QRect screen = h.window.screen()->availableGeometry();
        QVERIFY(h.Show(DefaultBoardHost(), screen.topLeft()));
        h.Key(Qt::Key_F4);
        const QRect selector(h.combo->mapToGlobal(QPoint(0, 0)), h.combo->size());
        QRect popup = h.combo->Popup()->geometry();
        QCOMPARE(popup.height(), 8 * h.View()->RowHeight() + 2);
        QVERIFY(popup.width() >= selector.width());
        QVERIFY(popup.width() >= h.View()->WidestRow() + 2);
        QCOMPARE(popup.topLeft(), selector.bottomLeft() + QPoint(0, 1));
        h.Key(Qt::Key_F4);

        h.window.move(screen.left(), screen.bottom() - h.window.frameGeometry().height() + 1);
        QTRY_COMPARE(h.combo->mapToGlobal(QPoint(0, 0)).y() + 200 > screen.bottom(), true);
        h.Key(Qt::Key_F4);
        const QRect near(h.combo->mapToGlobal(QPoint(0, 0)), h.combo->size());
        popup = h.combo->Popup()->geometry();
        QCOMPARE(popup.bottom() + 1, near.top());
        QCOMPARE(popup.left(), near.left());
    }

    void emptyTextOpensAtTheTopWithNothingHighlighted()
    {
        Host& h = *m_host;
        QVERIFY(h.Show(QString()));
        QVERIFY(!h.combo->SelectedNode());
        h.Key(Qt::Key_F4);
        QVERIFY(!h.combo->TreeSelection());
        QCOMPARE(h.View()->TopRow(), 0);
        // Any key but Page Down and End starts at the first root.
        h.Key(Qt::Key_Down);
        QCOMPARE(h.combo->SelectedNode(), h.Node(0));
        QVERIFY(h.Agrees());
    }

    void aChosenRowFarDownOpensScrolledToIt()
    {
        Host& h = *m_host;
        const std::vector<TfcTreeNode*> all = h.combo->Items().AllNodes();
        TfcTreeNode* far = all[all.size() / 2];
        QVERIFY(h.Show(far->Text()));
        h.Key(Qt::Key_F4);
        QVERIFY(h.View()->RowRect(far).top() >= 0);
        QVERIFY(h.View()->RowRect(far).bottom() < h.Viewport()->height());
    }

    void checkValidItemAndReadOnlyRestrictChoices()
    {
        Host& h = *m_host;
        h.combo->OnCheckValidItem = [&h](TfcCustomTreeCombo*, TfcTreeNode* node, bool& valid) {
            if (node == h.Node(0, 1))
                valid = false;
        };
        QVERIFY(h.Show(h.Node(0, 0)->Text()));
        h.Key(Qt::Key_Down);
        QCOMPARE(h.combo->SelectedNode(), h.Node(1, 0));

        h.combo->SetOptions(icoExpanded | icoEndNodesOnly);
        h.Key(Qt::Key_Home);
        QCOMPARE(h.combo->SelectedNode(), h.Node(0, 0));

        h.combo->SetReadOnly(true);
        h.Key(Qt::Key_Down);
        h.Type(QStringLiteral("я"));
        QCOMPARE(h.combo->SelectedNode(), h.Node(0, 0));
        QVERIFY(h.Agrees());
    }

    void emptyTreeOpensAsTallAsTheSelector()
    {
        Host& h = *m_host;
        h.combo->Items().Clear();
        QVERIFY(h.Show(QStringLiteral("anything")));
        h.Key(Qt::Key_F4);
        QCOMPARE(h.combo->Popup()->height(), h.combo->height() + 2);
        h.Key(Qt::Key_Down);
        h.Type(QStringLiteral("a"));
        QCOMPARE(h.combo->Text(), QStringLiteral("anything"));
        QVERIFY(!h.combo->SelectedNode());
    }

    // The highlighted row is painted in the highlight colours although the
    // popup never has the focus; the other rows are not.
    void selectedRowIsPaintedHighlighted()
    {
        Host& h = *m_host;
        TfcTreeNode* chosen = h.Node(0, 1);
        QVERIFY(h.Show(chosen->Text()));
        h.Key(Qt::Key_F4);
        const QImage image = h.Viewport()->grab().toImage();
        const QColor highlight = h.View()->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor base = h.View()->palette().color(QPalette::Active, QPalette::Base);
        const QRect label = h.View()->LabelRect(chosen);
        QCOMPARE(image.pixelColor(label.left() + 1, label.top() + 1), highlight);
        const QRect other = h.View()->LabelRect(h.Node(0, 0));
        QCOMPARE(image.pixelColor(other.left() + 1, other.top() + 1), base);
        // Some text is drawn on the unselected row, and a plus or minus box at the category.
        int inked = 0;
        for (int x = other.left(); x < other.right(); ++x)
            inked += image.pixelColor(x, other.center().y()) != base;
        QVERIFY(inked > 3);
        const QRect button = h.View()->ButtonRect(h.Node(0));
        QVERIFY(image.pixelColor(button.center()) != base);

    }

private:
    std::unique_ptr<Host> m_host;
};

QTEST_MAIN(TreeComboWidgetTest)
#include "tree_combo_widget_test.moc"
