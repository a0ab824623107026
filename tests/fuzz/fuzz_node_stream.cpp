// Reads arbitrary bytes as a node stream in both layouts. A stream that reads
// must write out and read back to the same bytes; one that does not must fail
// with the stream's own errors, never by touching memory it does not own.
#include "boards/TfcTreeComboTreeNode.h"
#include "boards/TfcTreeNodes.h"
#include "platform/TMemoryStream.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

boards::TfcTreeNodes::NodeFactory ComboNodes()
{
    return [](boards::TfcTreeNodes* owner) { return std::make_unique<boards::TfcTreeComboTreeNode>(owner); };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (int version = 0; version <= 1; ++version) {
        boards::TfcTreeNodes items(ComboNodes());
        items.SetStreamVersion(version);
        try {
            items.ReadData(bytes);
        } catch (const platform::EReadError&) {
            continue;
        } catch (const boards::EListError&) {
            continue;
        }
        const QByteArray written = items.WriteData();
        boards::TfcTreeNodes again(ComboNodes());
        again.SetStreamVersion(1);
        again.ReadData(written);  // our own output must always read
        if (again.WriteData() != written)
            std::abort();
    }
    return 0;
}
