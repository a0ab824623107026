#pragma once

#include <QByteArray>
#include <QString>

namespace boards {

class TfcTreeNodes;

// Host of the first board of the catalogue; also where the program posts when
// no board is chosen.
[[nodiscard]] QString DefaultBoardHost();

// The catalogue's node stream as the build generated it from data/boards.txt.
[[nodiscard]] QByteArray CatalogueStream();

// Loads the catalogue the way a stored tree definition does: stream version 1,
// then the node stream, replacing whatever the tree held.
void LoadCatalogue(TfcTreeNodes& items);

}  // namespace boards
