#include "TfcTreeNodes.h"

#include "platform/TMemoryStream.h"

#include <algorithm>

namespace boards {

TfcTreeNodes::TfcTreeNodes(NodeFactory factory) : m_factory(std::move(factory))
{
    if (!m_factory)
        m_factory = [](TfcTreeNodes* owner) { return std::make_unique<TfcTreeNode>(owner); };
}

std::vector<TfcTreeNode*> TfcTreeNodes::AllNodes() const
{
    return CollectNodes(false);
}

std::vector<TfcTreeNode*> TfcTreeNodes::VisibleNodes() const
{
    return CollectNodes(true);
}

std::vector<TfcTreeNode*> TfcTreeNodes::CollectNodes(bool visibleOnly) const
{
    std::vector<TfcTreeNode*> nodes;
    // Explicit stack: a deep tree must not cost call depth here.
    std::vector<TfcTreeNode*> pending;
    for (auto it = m_roots.rbegin(); it != m_roots.rend(); ++it)
        pending.push_back(it->get());
    while (!pending.empty()) {
        TfcTreeNode* node = pending.back();
        pending.pop_back();
        nodes.push_back(node);
        if (visibleOnly && !node->Expanded())
            continue;
        for (int i = node->Count() - 1; i >= 0; --i)
            pending.push_back(node->Item(i));
    }
    return nodes;
}

TfcTreeNode* TfcTreeNodes::AddRoot(const QString& text)
{
    m_roots.push_back(CreateNode());
    m_roots.back()->SetText(text);
    return m_roots.back().get();
}

void TfcTreeNodes::Delete(TfcTreeNode* node)
{
    auto& siblings = node->m_parent ? node->m_parent->m_children : m_roots;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [node](const std::unique_ptr<TfcTreeNode>& held) { return held.get() == node; });
    if (it != siblings.end())
        siblings.erase(it);
}

void TfcTreeNodes::Clear()
{
    m_roots.clear();
}

std::unique_ptr<TfcTreeNode> TfcTreeNodes::CreateNode()
{
    return m_factory(this);
}

void TfcTreeNodes::ReadData(const QByteArray& bytes)
{
    Clear();
    platform::TMemoryStream stream(bytes);
    const int version = m_streamVersion;
    m_streamVersion = 1;
    const std::int32_t rootCount = stream.ReadInt32();
    for (std::int32_t i = 0; i < rootCount; ++i)
        AddRoot(QString())->ReadNode(stream, version, 0);
}

QByteArray TfcTreeNodes::WriteData()
{
    m_streamVersion = 1;
    platform::TMemoryStream stream;
    stream.WriteInt32(Count());
    for (const auto& root : m_roots)
        root->WriteNode(stream);
    return stream.Data();
}

}  // namespace boards
