#include "NodeMatching.h"

#include "TfcTreeNodes.h"

#include <QLocale>

namespace boards {

QString AsciiUpper(const QString& text)
{
    QString upper = text;
    for (QChar& c : upper) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return upper;
}

TfcTreeNode* MatchTextToNode(const TfcTreeNodes& nodes, TfcTreeNode* selection, const QString& text)
{
    if (selection && selection->Text() == text)
        return selection;

    const std::vector<TfcTreeNode*> all = nodes.AllNodes();
    const QLocale locale;
    const QString localeUpper = locale.toUpper(text);
    bool anyMatch = false;
    for (const TfcTreeNode* node : all) {
        if (locale.toUpper(node->Text()) == localeUpper) {
            anyMatch = true;
            break;
        }
    }
    if (!anyMatch)
        return nullptr;

    const QString asciiUpper = AsciiUpper(text);
    for (TfcTreeNode* node : all) {
        if (AsciiUpper(node->Text()) == asciiUpper)
            return node;
    }
    return nullptr;
}

}  // namespace boards
