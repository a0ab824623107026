#include "TfcTreeCombo.h"

#include "NodeMatching.h"
#include "TfcTreeComboTreeNode.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

namespace boards {

TfcTreeCombo::TfcTreeCombo(QWidget* parent)
    : QWidget(parent),
      m_items([](TfcTreeNodes* owner) { return std::make_unique<TfcTreeComboTreeNode>(owner); }),
      m_edit(new QLineEdit(this)),
      m_button(new QToolButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_edit->setReadOnly(true);  // a drop-down list: nothing is typed freely
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_button);
    setFocusProxy(m_edit);
}

QString TfcTreeCombo::Text() const
{
    return m_edit->text();
}

void TfcTreeCombo::SetText(const QString& text)
{
    m_edit->setText(text);
}

void TfcTreeCombo::DropDown()
{
    m_treeSelection = MatchTextToNode(m_items, m_treeSelection, Text());
    m_dropDownStartNode = m_treeSelection;
    m_dropDownStartText = Text();
    m_selectedNode = m_dropDownStartNode;
    m_droppedDown = true;
    if (OnDropDown)
        OnDropDown(this);
}

void TfcTreeCombo::CloseUp(bool accept)
{
    const bool wasOpen = m_droppedDown;
    m_droppedDown = false;
    if (!wasOpen)
        return;
    if (accept && m_selectedNode != m_dropDownStartNode && !m_readOnly) {
        SetText(m_selectedNode ? m_selectedNode->Text() : Text());
        if (OnSelectionChange)
            OnSelectionChange(this, m_selectedNode);
        m_modified = true;
    } else {
        m_treeSelection = m_dropDownStartNode;
        SetText(m_dropDownStartNode ? m_dropDownStartNode->Text() : m_dropDownStartText);
    }
    if (OnCloseUp)
        OnCloseUp(this, accept);
}

}  // namespace boards
