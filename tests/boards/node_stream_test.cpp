#include "ComboNodes.h"
#include "boards/NodeMatching.h"
#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"
#include "platform/Cp1251.h"
#include "platform/TMemoryStream.h"

#include <QtTest>

using namespace boards;
using platform::TMemoryStream;

namespace {

using testfiles::ComboNodes;

TfcTreeComboTreeNode* Combo(TfcTreeNode* node)
{
    return dynamic_cast<TfcTreeComboTreeNode*>(node);
}

// A version-1 node written the way a node class without Boolean properties
// writes it: Size = 39 + T, no block after the children.
void WritePlainNode(TMemoryStream& s, const QByteArray& text, const QByteArray& path, int children)
{
    QByteArray record(39 + text.size(), '\0');
    auto put = [&record](int at, qint32 v) {
        for (int i = 0; i < 4; ++i)
            record[at + i] = static_cast<char>((static_cast<quint32>(v) >> (8 * i)) & 0xFF);
    };
    put(4, -1);
    put(8, -1);
    put(12, -1);
    put(26, static_cast<qint32>(path.size()));
    put(34, children);
    record[38] = static_cast<char>(text.size());
    record.replace(39, text.size(), text);
    s.WriteInt32(static_cast<qint32>(record.size()));
    s.WriteBytes(record);
    s.WriteBytes(path);
}

}  // namespace

class NodeStreamTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void leafAndCategoryLayout()
    {
        TfcTreeNodes items(ComboNodes());
        items.AddRoot(QStringLiteral("Общетаматические"));  // 16 characters
        const QByteArray bytes = items.WriteData();
        QCOMPARE(items.StreamVersion(), 1);
        // root count + 4 + 44 + T + 5
        QCOMPARE(bytes.size(), 4 + 4 + 44 + 16 + 5);
        TMemoryStream s(bytes);
        QCOMPARE(s.ReadInt32(), 1);
        QCOMPARE(s.ReadInt32(), 60);
        const QByteArray record = s.ReadBytes(60);
        QCOMPARE(record.right(5), QByteArray(5, '\0'));
        QCOMPARE(static_cast<unsigned char>(record[38]), 16);
        QCOMPARE(record.mid(39, 16), platform::ToCp1251(QStringLiteral("Общетаматические")));
        QCOMPARE(s.ReadInt32(), 1);  // Boolean block: one property,
        QCOMPARE(s.ReadByte(), 1);   // Selectable = true
        QCOMPARE(s.Remaining(), 0);
    }

    void everyFieldRoundTrips()
    {
        TfcTreeNodes items(ComboNodes());
        TfcTreeNode* root = items.AddRoot(QStringLiteral("Отдых в Крыму"));
        Combo(root)->SetSelectable(false);
        root->SetImageIndex(3);
        root->SetOverlayIndex(2);
        root->SetData(-123456);
        root->SetGrayed(true);
        TfcTreeNode* a = root->AddChild(QStringLiteral("ялта.рф"));
        a->SetDataText1(QStringLiteral("board/"));
        a->SetDataText2(QStringLiteral("xn--80af2al.xn--p1ai"));
        a->SetCheckKind(TfcCheckKind::CheckBox);
        a->SetChecked(true);
        TfcTreeNode* b = root->AddChild(QString(255, u'ж'));  // the longest Text a record holds
        b->AddChild(QStringLiteral("deep"))->SetDataText1(QStringLiteral("x"));
        items.AddRoot(QString());

        const QByteArray bytes = items.WriteData();
        TfcTreeNodes copy(ComboNodes());
        copy.SetStreamVersion(1);
        copy.ReadData(bytes);
        QCOMPARE(copy.WriteData(), bytes);

        QCOMPARE(copy.Count(), 2);
        const TfcTreeNode* r = copy.Item(0);
        QCOMPARE(r->Text(), QStringLiteral("Отдых в Крыму"));
        QVERIFY(!Combo(copy.Item(0))->Selectable());
        QCOMPARE(r->ImageIndex(), 3);
        QCOMPARE(r->OverlayIndex(), 2);
        QCOMPARE(r->Data(), -123456);
        QVERIFY(r->Grayed());
        QCOMPARE(r->Item(0)->DataText2(), QStringLiteral("xn--80af2al.xn--p1ai"));
        QCOMPARE(r->Item(0)->CheckKind(), TfcCheckKind::CheckBox);
        QVERIFY(r->Item(0)->Checked());
        QCOMPARE(r->Item(0)->StateIndex(), 1);
        QCOMPARE(r->Item(1)->Text(), QString(255, u'ж'));
        QCOMPARE(r->Item(1)->Item(0)->DataText1(), QStringLiteral("x"));
        QCOMPARE(r->Item(1)->Item(0)->Level(), 2);
        QVERIFY(Combo(copy.Item(1))->Selectable());
        QCOMPARE(copy.Item(1)->DataText1(), QString());  // empty text, not a missing node
    }

    void readingReplacesTheTree()
    {
        TfcTreeNodes source(ComboNodes());
        source.AddRoot(QStringLiteral("new"));
        const QByteArray bytes = source.WriteData();

        TfcTreeNodes items(ComboNodes());
        items.AddRoot(QStringLiteral("old 1"))->AddChild(QStringLiteral("old child"));
        items.AddRoot(QStringLiteral("old 2"));
        items.SetStreamVersion(1);
        items.ReadData(bytes);
        QCOMPARE(items.Count(), 1);
        QCOMPARE(items.AllNodes().size(), 1u);
        QCOMPARE(items.Item(0)->Text(), QStringLiteral("new"));
        QCOMPARE(items.StreamVersion(), 1);
    }

    void recordWithoutBooleanBlockKeepsDefaults()
    {
        TMemoryStream s;
        s.WriteInt32(2);
        WritePlainNode(s, "cat", "", 1);
        WritePlainNode(s, "child", "path", 0);
        WritePlainNode(s, "second", "", 0);
        TfcTreeNodes items(ComboNodes());
        items.SetStreamVersion(1);
        items.ReadData(s.Data());
        QCOMPARE(items.Count(), 2);
        QCOMPARE(items.Item(0)->Item(0)->Text(), QStringLiteral("child"));
        QCOMPARE(items.Item(0)->Item(0)->DataText1(), QStringLiteral("path"));
        QCOMPARE(items.Item(0)->StoredSize(), 39 + 3);
        QVERIFY(Combo(items.Item(0))->Selectable());
        QCOMPARE(items.Item(1)->Text(), QStringLiteral("second"));
    }

    void versionZeroHasTheBlockFirst()
    {
        TMemoryStream s;
        s.WriteInt32(1);
        s.WriteInt32(1);  // Boolean block before the record
        s.WriteByte(0);
        WritePlainNode(s, "old", "board/", 1);
        s.WriteInt32(1);
        s.WriteByte(1);
        WritePlainNode(s, "kid", "", 0);
        TfcTreeNodes items(ComboNodes());
        items.SetStreamVersion(0);
        items.ReadData(s.Data());
        QCOMPARE(items.Count(), 1);
        QVERIFY(!Combo(items.Item(0))->Selectable());
        QCOMPARE(items.Item(0)->DataText1(), QStringLiteral("board/"));
        QVERIFY(Combo(items.Item(0)->Item(0))->Selectable());
        QCOMPARE(items.StreamVersion(), 1);
        // Written back in the current layout, it reads the same under version 1.
        const QByteArray current = items.WriteData();
        TfcTreeNodes again(ComboNodes());
        again.SetStreamVersion(1);
        again.ReadData(current);
        QVERIFY(!Combo(again.Item(0))->Selectable());
        QCOMPARE(again.Item(0)->Item(0)->Text(), QStringLiteral("kid"));
    }

    void truncatedStreamKeepsWhatWasRead()
    {
        TfcTreeNodes source(ComboNodes());
        source.AddRoot(QStringLiteral("first"))->AddChild(QStringLiteral("a"));
        source.AddRoot(QStringLiteral("second"))->SetDataText1(QStringLiteral("board/"));
        const QByteArray bytes = source.WriteData();
        const QByteArray firstOnly = bytes.left(4 + (4 + 44 + 5 + 5) + (4 + 44 + 1 + 5));

        for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
            TfcTreeNodes items(ComboNodes());
            items.SetStreamVersion(1);
            QVERIFY_THROWS_EXCEPTION(platform::EReadError, items.ReadData(bytes.left(cut)));
            if (cut > firstOnly.size() + 8) {
                QCOMPARE(items.Count(), 2);
                QCOMPARE(items.Item(0)->Item(0)->Text(), QStringLiteral("a"));
            }
        }
    }

    void oversizedBooleanCountRaises()
    {
        TfcTreeNodes source(ComboNodes());
        source.AddRoot(QStringLiteral("x"));
        QByteArray bytes = source.WriteData();
        bytes[bytes.size() - 5] = 2;  // the block now claims two properties
        bytes.append('\1');
        TfcTreeNodes items(ComboNodes());
        items.SetStreamVersion(1);
        try {
            items.ReadData(bytes);
            QFAIL("expected an index error");
        } catch (const EListError& error) {
            QCOMPARE(error.Message(), QStringLiteral("List index out of bounds (1)"));
        }
        QCOMPARE(items.Count(), 1);
    }

    void damagedLengthsFailWithoutHugeAllocations()
    {
        TfcTreeNodes source(ComboNodes());
        source.AddRoot(QStringLiteral("x"));
        QByteArray bytes = source.WriteData();
        TMemoryStream patch(bytes);
        patch.SetPosition(4 + 4 + 26);
        patch.WriteInt32(0x7FFFFFFF);  // L1
        TfcTreeNodes items(ComboNodes());
        items.SetStreamVersion(1);
        QVERIFY_THROWS_EXCEPTION(platform::EReadError, items.ReadData(patch.Data()));

        // Children nested deeper than any catalogue: refused, not a stack overflow.
        TMemoryStream deep;
        deep.WriteInt32(1);
        for (int i = 0; i < 100000; ++i)
            WritePlainNode(deep, "n", "", 1);
        TfcTreeNodes nested(ComboNodes());
        nested.SetStreamVersion(1);
        QVERIFY_THROWS_EXCEPTION(platform::EReadError, nested.ReadData(deep.Data()));
    }

    void checkMarksAndStateImages()
    {
        TfcTreeNodes items(ComboNodes());
        TfcTreeNode* parent = items.AddRoot(QStringLiteral("p"));
        TfcTreeNode* a = parent->AddChild(QStringLiteral("a"));
        TfcTreeNode* b = parent->AddChild(QStringLiteral("b"));
        a->SetStateIndex(0);
        QCOMPARE(a->StateIndex(), -1);
        a->SetStateIndex(4);
        QCOMPARE(a->StateIndex(), 4);
        a->SetCheckKind(TfcCheckKind::CheckBox);
        QCOMPARE(a->StateIndex(), 1);
        a->SetStateIndex(3);  // refused while a check box
        QCOMPARE(a->StateIndex(), 1);
        a->SetCheckKind(TfcCheckKind::None);
        QCOMPARE(a->StateIndex(), -1);

        a->SetCheckKind(TfcCheckKind::RadioButton);
        b->SetCheckKind(TfcCheckKind::RadioButton);
        a->SetChecked(true);
        b->SetChecked(true);
        QVERIFY(!a->Checked());
        QVERIFY(b->Checked());
    }

    void textMatching()
    {
        TfcTreeNodes items(ComboNodes());
        TfcTreeNode* cat = items.AddRoot(QStringLiteral("Отдых в Крыму"));
        TfcTreeNode* latin = cat->AddChild(QStringLiteral("yalta-leto.ru"));
        TfcTreeNode* cyr = cat->AddChild(QStringLiteral("ялта.рф"));
        TfcTreeNode* later = items.AddRoot(QStringLiteral("YALTA-LETO.RU"));

        QCOMPARE(MatchTextToNode(items, nullptr, QStringLiteral("Yalta-Leto.RU")), latin);
        // The current selection wins only on an exact match.
        QCOMPARE(MatchTextToNode(items, later, QStringLiteral("YALTA-LETO.RU")), later);
        QCOMPARE(MatchTextToNode(items, later, QStringLiteral("yalta-leto.RU")), latin);
        QCOMPARE(MatchTextToNode(items, nullptr, QStringLiteral("ялта.рф")), cyr);
        // Cyrillic case differences pass the first test but not the ASCII walk.
        QCOMPARE(MatchTextToNode(items, nullptr, QStringLiteral("ЯЛТА.РФ")), nullptr);
        QCOMPARE(MatchTextToNode(items, nullptr, QStringLiteral("Отдых в Крыму")), cat);
        QCOMPARE(MatchTextToNode(items, latin, QStringLiteral("nothing.ru")), nullptr);
        QCOMPARE(MatchTextToNode(items, nullptr, QString()), nullptr);
    }
};

QTEST_GUILESS_MAIN(NodeStreamTest)
#include "node_stream_test.moc"
