#include "TfcTreeNode.h"

#include "TfcTreeNodes.h"
#include "platform/Cp1251.h"
#include "platform/TMemoryStream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace boards {

namespace {

// Field offsets inside the node record.
constexpr int kImageIndexAt = 0;
constexpr int kSelectedIndexAt = 4;
constexpr int kStateIndexAt = 8;
constexpr int kOverlayIndexAt = 12;
constexpr int kCheckKindAt = 16;
constexpr int kFlagsAt = 17;
constexpr int kDataAt = 22;
constexpr int kLength1At = 26;
constexpr int kLength2At = 30;
constexpr int kChildCountAt = 34;

using Record = std::array<unsigned char, TfcTreeNode::kRecordBufferSize>;

std::int32_t GetInt32(const Record& record, int at)
{
    const auto* p = record.data() + at;
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                     std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
}

void PutInt32(Record& record, int at, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        record[static_cast<std::size_t>(at + i)] = static_cast<unsigned char>(bits >> (8 * i));
}

QString ReadText(platform::TMemoryStream& stream, std::int32_t length)
{
    if (length <= 0)
        return QString();
    return platform::FromCp1251(stream.ReadBytes(length));
}

}  // namespace

void TfcTreeNode::SetStateIndex(std::int32_t value) noexcept
{
    if (value == 0)
        value = -1;
    if (m_checkKind == TfcCheckKind::CheckBox && value != -1 && value != 1)
        return;
    m_stateIndex = value;
}

void TfcTreeNode::SetCheckKind(TfcCheckKind kind) noexcept
{
    if (kind == m_checkKind)
        return;
    m_checkKind = kind;
    m_stateIndex = kind == TfcCheckKind::None ? -1 : 1;
}

void TfcTreeNode::SetChecked(bool checked) noexcept
{
    m_checked = checked;
    if (!checked || m_checkKind != TfcCheckKind::RadioButton)
        return;
    const auto uncheck = [this](TfcTreeNode* sibling) {
        if (sibling != this && sibling->m_checkKind == TfcCheckKind::RadioButton)
            sibling->m_checked = false;
    };
    if (m_parent) {
        for (const auto& sibling : m_parent->m_children)
            uncheck(sibling.get());
    } else if (m_owner) {
        for (int i = 0; i < m_owner->Count(); ++i)
            uncheck(m_owner->Item(i));
    }
}

void TfcTreeNode::ExpandAll() noexcept
{
    m_expanded = true;
    for (const auto& child : m_children)
        child->ExpandAll();
}

int TfcTreeNode::Level() const noexcept
{
    int level = 0;
    for (const TfcTreeNode* p = m_parent; p; p = p->m_parent)
        ++level;
    return level;
}

TfcTreeNode* TfcTreeNode::AddChild(const QString& text)
{
    std::unique_ptr<TfcTreeNode> child = m_owner->CreateNode();
    child->m_parent = this;
    child->SetText(text);
    m_children.push_back(std::move(child));
    return m_children.back().get();
}

void TfcTreeNode::ReadNode(platform::TMemoryStream& stream, int version, int depth)
{
    if (depth > kMaxDepth)
        throw platform::EReadError();

    const std::int32_t size = stream.ReadInt32();
    m_storedSize = size;

    // A record longer than the buffer (Text above 250 bytes) has its surplus
    // passed over, so the fields after it are still read from the right place.
    Record record{};
    const std::int64_t wanted = std::max<std::int64_t>(size, 0);
    const std::int64_t inBuffer = std::min<std::int64_t>(wanted, kRecordBufferSize);
    stream.ReadBuffer(record.data(), inBuffer);
    if (wanted > inBuffer) {
        if (wanted - inBuffer > stream.Remaining())
            throw platform::EReadError();
        stream.Seek(wanted - inBuffer);
    }

    m_dataText1 = ReadText(stream, GetInt32(record, kLength1At));
    m_dataText2 = ReadText(stream, GetInt32(record, kLength2At));

    const int textLength = record[kTextOffset];
    m_storedTextLength = textLength;
    m_text = platform::FromCp1251(QByteArrayView(
        reinterpret_cast<const char*>(record.data()) + kTextOffset + 1, textLength));
    SetImageIndex(GetInt32(record, kImageIndexAt));
    SetSelectedIndex(GetInt32(record, kSelectedIndexAt));
    SetStateIndex(GetInt32(record, kStateIndexAt));
    SetOverlayIndex(GetInt32(record, kOverlayIndexAt));
    SetData(GetInt32(record, kDataAt));
    SetCheckKind(static_cast<TfcCheckKind>(record[kCheckKindAt]));
    SetChecked((record[kFlagsAt] & 1) != 0);
    SetGrayed((record[kFlagsAt] & 2) != 0);

    const std::int32_t childCount = GetInt32(record, kChildCountAt);
    for (std::int32_t i = 0; i < childCount; ++i)
        AddChild(QString())->ReadNode(stream, version, depth + 1);

    // Passes over whatever a node class appended after the children.
    const int baseSize = kTextOffset + 1 + textLength;
    if (version == 1 && size > baseSize)
        stream.Seek(size - baseSize);
}

void TfcTreeNode::WriteNode(platform::TMemoryStream& stream) const
{
    const QByteArray text = platform::ToCp1251(m_text).left(255);
    const QByteArray text1 = platform::ToCp1251(m_dataText1);
    const QByteArray text2 = platform::ToCp1251(m_dataText2);

    Record record{};
    PutInt32(record, kImageIndexAt, m_imageIndex);
    PutInt32(record, kSelectedIndexAt, m_selectedIndex);
    PutInt32(record, kStateIndexAt, m_stateIndex);
    PutInt32(record, kOverlayIndexAt, m_overlayIndex);
    record[kCheckKindAt] = static_cast<unsigned char>(m_checkKind);
    record[kFlagsAt] = static_cast<unsigned char>((m_checked ? 1 : 0) | (m_grayed ? 2 : 0));
    PutInt32(record, kDataAt, m_data);
    PutInt32(record, kLength1At, static_cast<std::int32_t>(text1.size()));
    PutInt32(record, kLength2At, static_cast<std::int32_t>(text2.size()));
    PutInt32(record, kChildCountAt, Count());
    record[kTextOffset] = static_cast<unsigned char>(text.size());
    std::memcpy(record.data() + kTextOffset + 1, text.constData(), static_cast<std::size_t>(text.size()));

    // The extra bytes are zeros; with a 255-byte Text they run past the
    // buffer, so they are written on their own.
    const int baseSize = kTextOffset + 1 + static_cast<int>(text.size());
    const int extra = ExtraRecordSize();
    stream.WriteInt32(baseSize + extra);
    stream.WriteBuffer(record.data(), baseSize);
    stream.WriteBytes(QByteArray(extra, '\0'));
    stream.WriteBytes(text1);
    stream.WriteBytes(text2);
    for (const auto& child : m_children)
        child->WriteNode(stream);
    WriteTrailer(stream);
}

}  // namespace boards
