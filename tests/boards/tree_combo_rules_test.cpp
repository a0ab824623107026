#include "BoolRows.h"
#include "ComboNodes.h"
#include "boards/Catalogue.h"
#include "boards/PopupPlacement.h"
#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"
#include "boards/TreeComboRules.h"

#include <QtTest>

using namespace boards;

namespace {

using testfiles::ComboNodes;

void ExpandAll(TfcTreeNodes& items)
{
    for (int i = 0; i < items.Count(); ++i)
        items.Item(i)->ExpandAll();
}

}  // namespace

class TreeComboRulesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_items.Clear();
        LoadCatalogue(m_items);
    }

    // The category between the first two that may be chosen is passed over,
    // whether the popup is closed (all nodes) or open and expanded.
    void downSkipsTheUnchoosableCategoryAndUpComesBack_data()
    {
        testfiles::BoolRows("open", "closed", "open");
    }
    void downSkipsTheUnchoosableCategoryAndUpComesBack()
    {
        QFETCH(bool, open);
        if (open)
            ExpandAll(m_items);
        TreeComboRules rules(m_items);
        TfcTreeNode* lastOfFirst = m_items.Item(0)->Item(1);
        TfcTreeNode* firstOfSecond = m_items.Item(1)->Item(0);
        QCOMPARE(m_items.Item(1)->Text(), QStringLiteral("Отдых в Крыму"));
        QCOMPARE(rules.Move(lastOfFirst, TreeComboMove::Down, open, 8), firstOfSecond);
        QCOMPARE(rules.Move(firstOfSecond, TreeComboMove::Up, open, 8), lastOfFirst);
    }

    void openPopupWalksOnlyVisibleRows()
    {
        ExpandAll(m_items);
        m_items.Item(2)->SetExpanded(false);
        TreeComboRules rules(m_items);
        TfcTreeNode* lastOfSecond = m_items.Item(1)->Item(m_items.Item(1)->Count() - 1);
        QCOMPARE(rules.Move(m_items.Item(2), TreeComboMove::Up, true, 8), lastOfSecond);
        QCOMPARE(rules.Move(m_items.Item(2), TreeComboMove::Down, true, 8), m_items.Item(3));
        // Closed, the same key walks into the collapsed category.
        QCOMPARE(rules.Move(m_items.Item(2), TreeComboMove::Down, false, 8), m_items.Item(2)->Item(0));
    }

    void homeEndAndTheEdges()
    {
        TreeComboRules rules(m_items);
        TfcTreeNode* middle = m_items.Item(3)->Item(5);
        TfcTreeNode* veryLast = m_items.Item(3)->Item(m_items.Item(3)->Count() - 1);
        QCOMPARE(rules.Move(middle, TreeComboMove::Home, false, 8), m_items.Item(0));
        QCOMPARE(rules.Move(middle, TreeComboMove::End, false, 8), veryLast);
        // Open with nothing expanded, the last visible row is the last category.
        QCOMPARE(rules.Move(middle, TreeComboMove::End, true, 8), m_items.Item(3));
        QCOMPARE(rules.Move(m_items.Item(0), TreeComboMove::Up, false, 8), m_items.Item(0));
        QCOMPARE(rules.Move(veryLast, TreeComboMove::Down, false, 8), veryLast);
    }

    void pagesStopAtTheEndsAndPassOverUnchoosableRows()
    {
        ExpandAll(m_items);
        TreeComboRules rules(m_items);
        const std::vector<TfcTreeNode*> rows = m_items.VisibleNodes();
        QCOMPARE(rules.Move(rows[1], TreeComboMove::PageDown, true, 8), rows[9]);
        QCOMPARE(rules.Move(rows[2], TreeComboMove::PageUp, true, 8), rows[0]);
        QCOMPARE(rules.Move(rows[rows.size() - 3], TreeComboMove::PageDown, true, 8), rows.back());
        // rows[3] is "Отдых в Крыму": a page up landing there goes on upwards.
        QCOMPARE(rows[3]->Text(), QStringLiteral("Отдых в Крыму"));
        QCOMPARE(rules.Move(rows[11], TreeComboMove::PageUp, true, 8), m_items.Item(0)->Item(1));
    }

    void withoutSelection_data()
    {
        QTest::addColumn<int>("move");
        QTest::addColumn<int>("row");  // -1: the very last node
        QTest::newRow("Up") << int(TreeComboMove::Up) << 0;
        QTest::newRow("Down") << int(TreeComboMove::Down) << 0;
        QTest::newRow("Page Up") << int(TreeComboMove::PageUp) << 0;
        QTest::newRow("Home") << int(TreeComboMove::Home) << 0;
        QTest::newRow("Page Down") << int(TreeComboMove::PageDown) << 8;
        QTest::newRow("End") << int(TreeComboMove::End) << -1;
    }
    void withoutSelection()
    {
        QFETCH(int, move);
        QFETCH(int, row);
        ExpandAll(m_items);
        TreeComboRules rules(m_items);
        const std::vector<TfcTreeNode*> rows = m_items.VisibleNodes();
        TfcTreeNode* expected = row < 0 ? rows.back() : rows[static_cast<std::size_t>(row)];
        QCOMPARE(rules.Move(nullptr, static_cast<TreeComboMove>(move), true, 8), expected);
    }

    void choosableRule()
    {
        TreeComboRules rules(m_items);
        QVERIFY(rules.IsChoosable(m_items.Item(0)));
        QVERIFY(!rules.IsChoosable(m_items.Item(1)));
        QVERIFY(!rules.IsChoosable(nullptr));
        rules.SetEndNodesOnly(true);
        QVERIFY(!rules.IsChoosable(m_items.Item(0)));
        QVERIFY(rules.IsChoosable(m_items.Item(0)->Item(0)));
        // Only leaves: Up from the first board of category 2 reaches category 1's last board.
        QCOMPARE(rules.Move(m_items.Item(1)->Item(0), TreeComboMove::Up, false, 8), m_items.Item(0)->Item(1));
        // The handler has the last word, both ways.
        TfcTreeNode* refused = m_items.Item(0)->Item(1);
        rules.OnCheckValidItem = [refused](TfcTreeNode* node, bool& valid) {
            if (node == refused)
                valid = false;
            if (node->Text() == QStringLiteral("Отдых в Крыму"))
                valid = true;
        };
        rules.SetEndNodesOnly(false);
        QVERIFY(!rules.IsChoosable(refused));
        QVERIFY(rules.IsChoosable(m_items.Item(1)));
        QCOMPARE(rules.Move(m_items.Item(0)->Item(0), TreeComboMove::Down, false, 8), m_items.Item(1));
        // Nothing choosable below: the choice stays.
        rules.OnCheckValidItem = [](TfcTreeNode*, bool& valid) { valid = false; };
        QCOMPARE(rules.Move(m_items.Item(0), TreeComboMove::Down, false, 8), m_items.Item(0));
    }

    void incrementalSearch()
    {
        TreeComboRules rules(m_items);
        TfcTreeNode* first = m_items.Item(0)->Item(0);  // doska-krym.ru
        QCOMPARE(first->Text(), DefaultBoardHost());
        // Typing that continues the current text keeps the current node.
        QCOMPARE(rules.Search(first, QStringLiteral("dos")), first);
        QCOMPARE(rules.Search(first, QStringLiteral("DOSKA-K")), first);
        // Starting later, the walk wraps round to the first board.
        QCOMPARE(rules.Search(m_items.Item(3), QStringLiteral("doska-krym")), first);
        // The search never chooses the category users may not pick.
        QCOMPARE(rules.Search(nullptr, QStringLiteral("Отдых")), nullptr);
        QVERIFY(rules.Search(nullptr, QStringLiteral("Санат")) == m_items.Item(2));
        // Only a..z are compared without case.
        QVERIFY(rules.Search(nullptr, QStringLiteral("ялта")));
        QCOMPARE(rules.Search(nullptr, QStringLiteral("ЯЛТА")), nullptr);
        QCOMPARE(rules.Search(nullptr, QStringLiteral("no-such-board")), nullptr);
        TfcTreeNodes empty(ComboNodes());
        QCOMPARE(TreeComboRules(empty).Search(nullptr, QStringLiteral("a")), nullptr);
    }

    void searchCandidateReplacesTheSelection()
    {
        QCOMPARE(TreeComboRules::SearchCandidate("doska-krym.ru", 3, 10, u'k'), QString("dosk"));
        QCOMPARE(TreeComboRules::SearchCandidate("abc", 0, 0, u'x'), QString("xabc"));
        QCOMPARE(TreeComboRules::SearchCandidate("abc", 1, 1, u'x'), QString("axc"));
        QCOMPARE(TreeComboRules::SearchCandidate("", 0, 0, u'я'), QString("я"));
    }

    void popupPlacement_data()
    {
        QTest::addColumn<QRect>("selector");
        QTest::addColumn<int>("nodes");
        QTest::addColumn<int>("widest");
        QTest::addColumn<QRect>("popup");
        const QRect normal(100, 100, 177, 21);
        // 8 rows of 16 px plus two 1-px borders = 130; 177 wide unless the text needs more.
        QTest::newRow("below, selector width") << normal << 159 << 100 << QRect(100, 121, 177, 130);
        QTest::newRow("fewer nodes than rows") << normal << 3 << 100 << QRect(100, 121, 177, 50);
        QTest::newRow("empty tree: selector height") << normal << 0 << 100 << QRect(100, 121, 177, 23);
        // 2 + 200 + 6 + 2 * 16 = 240
        QTest::newRow("wide text") << normal << 159 << 200 << QRect(100, 121, 240, 130);
        QTest::newRow("near the bottom: above") << QRect(100, 700, 177, 21) << 159 << 100
                                                << QRect(100, 570, 177, 130);
        QTest::newRow("near the right: right-aligned") << QRect(900, 100, 177, 21) << 159 << 200
                                                       << QRect(837, 121, 240, 130);
    }
    void popupPlacement()
    {
        QFETCH(QRect, selector);
        QFETCH(int, nodes);
        QFETCH(int, widest);
        QFETCH(QRect, popup);
        PopupMetrics metrics;
        metrics.rowHeight = 16;
        metrics.nodeCount = nodes;
        metrics.widestRow = widest;
        metrics.scrollBarWidth = 16;
        QCOMPARE(PlacePopup(selector, QRect(0, 0, 1080, 768), metrics), popup);
    }

private:
    TfcTreeNodes m_items{ComboNodes()};
};

QTEST_GUILESS_MAIN(TreeComboRulesTest)
#include "tree_combo_rules_test.moc"
