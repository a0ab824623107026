#include "Catalogue.h"

#include "TfcTreeNodes.h"

#include <cstddef>

// Generated at build time from data/boards.txt.
extern const unsigned char kCatalogueStreamBytes[];
extern const std::size_t kCatalogueStreamSize;

namespace boards {

QString DefaultBoardHost()
{
    return QStringLiteral("doska-krym.ru");
}

QByteArray CatalogueStream()
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(kCatalogueStreamBytes),
                                   static_cast<qsizetype>(kCatalogueStreamSize));
}

void LoadCatalogue(TfcTreeNodes& items)
{
    items.SetStreamVersion(1);
    items.ReadData(CatalogueStream());
}

}  // namespace boards
