#include "ComboNodes.h"
#include "boards/Catalogue.h"
#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"
#include "platform/Cp1251.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QtTest>

using namespace boards;
using testfiles::ComboNodes;

namespace {

bool HasCyrillic(const QString& text)
{
    for (const QChar c : text) {
        if (c.script() == QChar::Script_Cyrillic)
            return true;
    }
    return false;
}

}  // namespace

// Checks the shipped catalogue, read from the stream the build generated.
class CatalogueTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QFile file(QStringLiteral(SNIMKOREZ_CATALOGUE_STREAM));
        QVERIFY2(file.open(QIODevice::ReadOnly), SNIMKOREZ_CATALOGUE_STREAM);
        m_stream = file.readAll();
        m_items.SetStreamVersion(1);
        m_items.ReadData(m_stream);
    }

    void streamIsTheEmbeddedOneAndRoundTrips()
    {
        QCOMPARE(m_stream.size(), 13053);
        QCOMPARE(CatalogueStream(), m_stream);
        TfcTreeNodes copy(ComboNodes());
        LoadCatalogue(copy);
        QCOMPARE(copy.WriteData(), m_stream);
    }

    void categories()
    {
        struct Expected {
            QString text;
            bool selectable;
            int boards;
            int withAce;
            QMap<QString, int> paths;
        };
        const QList<Expected> expected = {
            {QStringLiteral("Общетаматические"), true, 2, 0, {{"board/i.php", 1}, {"", 1}}},
            {QStringLiteral("Отдых в Крыму"), false, 63, 48, {{"board/", 62}, {"board/add.php", 1}}},
            {QStringLiteral("Санатории Украины"), true, 24, 21, {{"board/", 24}}},
            {QStringLiteral("Тематические"), true, 66, 2, {{"signup.html", 65}, {"board/index.php?ins=1", 1}}},
        };
        QCOMPARE(m_items.Count(), expected.size());
        QCOMPARE(m_items.AllNodes().size(), 159u);
        for (int i = 0; i < expected.size(); ++i) {
            const TfcTreeNode* category = m_items.Item(i);
            QCOMPARE(category->Text(), expected[i].text);
            QCOMPARE(dynamic_cast<const TfcTreeComboTreeNode*>(category)->Selectable(), expected[i].selectable);
            QVERIFY(category->DataText1().isEmpty());
            QVERIFY(category->DataText2().isEmpty());
            QCOMPARE(category->Count(), expected[i].boards);
            QMap<QString, int> paths;
            int withAce = 0;
            for (int j = 0; j < category->Count(); ++j) {
                const TfcTreeNode* board = category->Item(j);
                QCOMPARE(board->Count(), 0);
                ++paths[board->DataText1()];
                withAce += board->DataText2().isEmpty() ? 0 : 1;
            }
            QCOMPARE(paths, expected[i].paths);
            QCOMPARE(withAce, expected[i].withAce);
        }
    }

    void defaultHostAndItsDomain()
    {
        const TfcTreeNode* first = m_items.Item(0)->Item(0);
        QCOMPARE(first->Text(), DefaultBoardHost());
        QCOMPARE(first->DataText1(), QStringLiteral("board/i.php"));
        QVERIFY(m_items.Item(0)->Item(1)->DataText1().isEmpty());
        const QString domain = u'.' + DefaultBoardHost();
        const auto hostWithPath = [this](int category, const QString& path) {
            const TfcTreeNode* c = m_items.Item(category);
            for (int j = 0; j < c->Count(); ++j) {
                if (c->Item(j)->DataText1() == path)
                    return c->Item(j)->Text();
            }
            return QString();
        };
        QVERIFY(hostWithPath(1, "board/add.php").endsWith(domain));
        QVERIFY(hostWithPath(3, "board/index.php?ins=1").endsWith(domain));
    }

    void boardHosts()
    {
        static const QRegularExpression label(QStringLiteral("^[a-zа-я0-9]([a-zа-я0-9-]*[a-zа-я0-9])?$"));
        QSet<QString> seen;
        int cyrillic = 0;
        for (int i = 0; i < m_items.Count(); ++i) {
            const TfcTreeNode* category = m_items.Item(i);
            bool cyrillicSeen = false;
            for (int j = 0; j < category->Count(); ++j) {
                const TfcTreeNode* board = category->Item(j);
                const QString host = board->Text();
                QVERIFY2(host == host.toLower(), qPrintable(host));
                QVERIFY2(host.size() <= 20, qPrintable(host));
                QVERIFY2(host.contains(u'.'), qPrintable(host));
                for (const QString& part : host.split(u'.'))
                    QVERIFY2(label.match(part).hasMatch() && !part.contains(QStringLiteral("--")), qPrintable(host));
                QVERIFY2(!seen.contains(host.toCaseFolded()), qPrintable(host));
                seen.insert(host.toCaseFolded());
                QCOMPARE(platform::FromCp1251(platform::ToCp1251(host)), host);

                const bool isCyrillic = HasCyrillic(host);
                QVERIFY2(isCyrillic || !cyrillicSeen, qPrintable("Latin after Cyrillic: " + host));
                cyrillicSeen = cyrillicSeen || isCyrillic;
                if (isCyrillic) {
                    ++cyrillic;
                    QCOMPARE(board->DataText2(), QString::fromLatin1(QUrl::toAce(host)));
                    QVERIFY(board->DataText2().startsWith(QStringLiteral("xn--")));
                } else {
                    QVERIFY2(board->DataText2().isEmpty(), qPrintable(host));
                }
                QVERIFY(dynamic_cast<const TfcTreeComboTreeNode*>(board)->Selectable());
            }
        }
        QCOMPARE(seen.size(), 155);
        QCOMPARE(cyrillic, 71);
    }

    void fixedFieldValues()
    {
        for (const TfcTreeNode* node : m_items.AllNodes()) {
            QCOMPARE(node->ImageIndex(), 0);
            QCOMPARE(node->SelectedIndex(), -1);
            QCOMPARE(node->StateIndex(), -1);
            QCOMPARE(node->OverlayIndex(), -1);
            QCOMPARE(node->CheckKind(), TfcCheckKind::None);
            QVERIFY(!node->Checked());
            QVERIFY(!node->Grayed());
            QCOMPARE(node->Data(), 0);
        }
    }

private:
    QByteArray m_stream;
    TfcTreeNodes m_items{ComboNodes()};
};

QTEST_GUILESS_MAIN(CatalogueTest)
#include "catalogue_test.moc"
