#include "TfcTreeComboTreeNode.h"

#include "platform/TMemoryStream.h"

namespace boards {

TfcTreeComboTreeNode::TfcTreeComboTreeNode(TfcTreeNodes* owner) : TfcTreeNode(owner)
{
    SetSelectedIndex(-1);
}

void TfcTreeComboTreeNode::ReadNode(platform::TMemoryStream& stream, int version, int depth)
{
    if (version == 0)
        ReadBooleanBlock(stream);
    TfcTreeNode::ReadNode(stream, version, depth);
    if (version != 1)
        return;
    const int baseSize = kTextOffset + 1 + StoredTextLength();
    // The base class has already moved past the extra record bytes, which
    // lands just behind the Boolean block; step back onto it.
    if (StoredSize() >= baseSize + ExtraRecordSize()) {
        stream.Seek(-ExtraRecordSize());
        ReadBooleanBlock(stream);
    }
}

void TfcTreeComboTreeNode::ReadBooleanBlock(platform::TMemoryStream& stream)
{
    const std::int32_t count = stream.ReadInt32();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t value = stream.ReadByte();
        if (i >= kBooleanCount)
            throw EListError(i);
        if (i == 0)
            m_selectable = value != 0;
    }
}

void TfcTreeComboTreeNode::WriteTrailer(platform::TMemoryStream& stream) const
{
    stream.WriteInt32(kBooleanCount);
    stream.WriteByte(m_selectable ? 1 : 0);
}

}  // namespace boards
