#pragma once

#include "TfcTreeNode.h"

namespace boards {

// The node class of the board selector's tree: adds `Selectable`, which is
// stored in a Boolean block after the node's children.
class TfcTreeComboTreeNode : public TfcTreeNode {
public:
    // Published Boolean properties, in declaration order.
    static constexpr int kBooleanCount = 1;

    explicit TfcTreeComboTreeNode(TfcTreeNodes* owner);

    [[nodiscard]] bool Selectable() const noexcept { return m_selectable; }
    void SetSelectable(bool selectable) noexcept { m_selectable = selectable; }

    // Version 0 keeps the Boolean block before the record, version 1 after
    // the children; a version-1 record too short to announce one has none.
    void ReadNode(platform::TMemoryStream& stream, int version, int depth) override;

protected:
    [[nodiscard]] int ExtraRecordSize() const override { return 4 + kBooleanCount; }
    void WriteTrailer(platform::TMemoryStream& stream) const override;

private:
    void ReadBooleanBlock(platform::TMemoryStream& stream);

    bool m_selectable = true;
};

}  // namespace boards
