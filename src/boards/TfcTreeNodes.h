#pragma once

#include "TfcTreeNode.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <vector>

namespace boards {

// The ordered roots of a tree and the node stream that stores them.
//
// Stream (little-endian): int32 root count, then each root with its subtree.
// A node is int32 Size, Size record bytes (see TfcTreeNode), its two data
// texts, its children, and whatever its class appends (the combo node's
// Boolean block). Reading raises platform::EReadError on a stream shorter than
// its counts demand and EListError on a Boolean block with too many values;
// the nodes read until then stay in the tree.
class TfcTreeNodes {
public:
    using NodeFactory = std::function<std::unique_ptr<TfcTreeNode>(TfcTreeNodes*)>;

    // Without a factory the collection makes plain TfcTreeNode objects.
    explicit TfcTreeNodes(NodeFactory factory = {});
    TfcTreeNodes(const TfcTreeNodes&) = delete;
    TfcTreeNodes& operator=(const TfcTreeNodes&) = delete;

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(m_roots.size()); }
    [[nodiscard]] TfcTreeNode* Item(int index) const { return m_roots.at(static_cast<std::size_t>(index)).get(); }
    // Every node, each followed by its subtree.
    [[nodiscard]] std::vector<TfcTreeNode*> AllNodes() const;
    // The nodes a tree shows: every root, and the children of expanded nodes
    // whose own parents show, in pre-order.
    [[nodiscard]] std::vector<TfcTreeNode*> VisibleNodes() const;

    TfcTreeNode* AddRoot(const QString& text);
    // Deletes `node` (a root or a child) with its subtree; pointers into it dangle.
    void Delete(TfcTreeNode* node);
    void Clear();
    [[nodiscard]] std::unique_ptr<TfcTreeNode> CreateNode();

    // Layout used by the next read: 0 or 1; every read and write leaves it at 1.
    [[nodiscard]] int StreamVersion() const noexcept { return m_streamVersion; }
    void SetStreamVersion(int version) noexcept { m_streamVersion = version; }

    // Replaces the whole tree with the stream's nodes.
    void ReadData(const QByteArray& stream);
    [[nodiscard]] QByteArray WriteData();

private:
    [[nodiscard]] std::vector<TfcTreeNode*> CollectNodes(bool visibleOnly) const;

    NodeFactory m_factory;
    std::vector<std::unique_ptr<TfcTreeNode>> m_roots;
    int m_streamVersion = 0;
};

}  // namespace boards
