#pragma once

#include "platform/Exception.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform { class TMemoryStream; }

namespace boards {

class TfcTreeNodes;

// A Boolean block that names more properties than the node class has.
class EListError : public platform::Exception {
public:
    explicit EListError(int index)
        : Exception(QStringLiteral("List index out of bounds (%1)").arg(index)) {}
};

enum class TfcCheckKind : std::uint8_t { None = 0, CheckBox = 1, RadioButton = 2 };

// A node of the board tree. Nodes are owned by their parent (children) or by
// the collection (roots); pointers to them stay valid until they are deleted.
class TfcTreeNode {
public:
    // The fixed record every node is read into; texts up to 250 bytes fit.
    static constexpr int kRecordBufferSize = 294;
    // Offset of the Text length byte in the record; Text follows it.
    static constexpr int kTextOffset = 38;
    // Deeper trees than this are damaged streams, not catalogues.
    static constexpr int kMaxDepth = 512;

    explicit TfcTreeNode(TfcTreeNodes* owner) : m_owner(owner) {}
    virtual ~TfcTreeNode() = default;
    TfcTreeNode(const TfcTreeNode&) = delete;
    TfcTreeNode& operator=(const TfcTreeNode&) = delete;

    [[nodiscard]] const QString& Text() const noexcept { return m_text; }
    void SetText(const QString& text) { m_text = text; }
    [[nodiscard]] const QString& DataText1() const noexcept { return m_dataText1; }
    void SetDataText1(const QString& text) { m_dataText1 = text; }
    [[nodiscard]] const QString& DataText2() const noexcept { return m_dataText2; }
    void SetDataText2(const QString& text) { m_dataText2 = text; }

    [[nodiscard]] std::int32_t ImageIndex() const noexcept { return m_imageIndex; }
    void SetImageIndex(std::int32_t value) noexcept { m_imageIndex = value; }
    [[nodiscard]] std::int32_t SelectedIndex() const noexcept { return m_selectedIndex; }
    void SetSelectedIndex(std::int32_t value) noexcept { m_selectedIndex = value; }
    [[nodiscard]] std::int32_t StateIndex() const noexcept { return m_stateIndex; }
    // 0 means "none" (-1); with a check box only -1 and 1 are taken.
    void SetStateIndex(std::int32_t value) noexcept;
    [[nodiscard]] std::int32_t OverlayIndex() const noexcept { return m_overlayIndex; }
    void SetOverlayIndex(std::int32_t value) noexcept { m_overlayIndex = value; }

    [[nodiscard]] TfcCheckKind CheckKind() const noexcept { return m_checkKind; }
    // A change shows (1) or hides (-1) the state image that draws the mark.
    void SetCheckKind(TfcCheckKind kind) noexcept;
    [[nodiscard]] bool Checked() const noexcept { return m_checked; }
    // Checking a radio button unchecks its radio siblings.
    void SetChecked(bool checked) noexcept;
    [[nodiscard]] bool Grayed() const noexcept { return m_grayed; }
    void SetGrayed(bool grayed) noexcept { m_grayed = grayed; }
    [[nodiscard]] std::int32_t Data() const noexcept { return m_data; }
    void SetData(std::int32_t value) noexcept { m_data = value; }
    // The record size this node was read with; 0 for a node never read.
    [[nodiscard]] std::int32_t StoredSize() const noexcept { return m_storedSize; }

    // Whether the children show in the tree; stored nowhere.
    [[nodiscard]] bool Expanded() const noexcept { return m_expanded; }
    void SetExpanded(bool expanded) noexcept { m_expanded = expanded; }
    // Expands this node and every node below it.
    void ExpandAll() noexcept;

    [[nodiscard]] TfcTreeNode* Parent() const noexcept { return m_parent; }
    [[nodiscard]] TfcTreeNodes* Owner() const noexcept { return m_owner; }
    [[nodiscard]] int Count() const noexcept { return static_cast<int>(m_children.size()); }
    [[nodiscard]] TfcTreeNode* Item(int index) const { return m_children.at(static_cast<std::size_t>(index)).get(); }
    [[nodiscard]] int Level() const noexcept;

    // Appends a node of the owner's node class as the last child.
    TfcTreeNode* AddChild(const QString& text);

    // Stored layout: see TfcTreeNodes for the stream as a whole. `version` is
    // the collection's stream version; `depth` guards against damaged nesting.
    virtual void ReadNode(platform::TMemoryStream& stream, int version, int depth);
    virtual void WriteNode(platform::TMemoryStream& stream) const;

protected:
    // Length in bytes of the Text as the last read found it.
    [[nodiscard]] int StoredTextLength() const noexcept { return m_storedTextLength; }
    // Bytes a node class adds to its record after the Text.
    [[nodiscard]] virtual int ExtraRecordSize() const { return 0; }
    // Data a node class writes after its children.
    virtual void WriteTrailer(platform::TMemoryStream&) const {}

private:
    friend class TfcTreeNodes;

    TfcTreeNodes* m_owner;
    TfcTreeNode* m_parent = nullptr;
    std::vector<std::unique_ptr<TfcTreeNode>> m_children;
    QString m_text;
    QString m_dataText1;
    QString m_dataText2;
    std::int32_t m_imageIndex = 0;
    std::int32_t m_selectedIndex = 0;
    std::int32_t m_stateIndex = -1;
    std::int32_t m_overlayIndex = -1;
    TfcCheckKind m_checkKind = TfcCheckKind::None;
    bool m_checked = false;
    bool m_grayed = false;
    std::int32_t m_data = 0;
    std::int32_t m_storedSize = 0;
    int m_storedTextLength = 0;
    bool m_expanded = false;
};

}  // namespace boards
