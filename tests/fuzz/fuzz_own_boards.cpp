// Arbitrary bytes as the seller's boards file: every board read back must be
// one the parser accepts again from its own line; adding a board to the file
// and removing it keeps the rest.
#include "boards/OwnBoards.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("boards.txt"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    boards::OwnBoards own(path);
    own.Load();
    const std::vector<boards::OwnBoard> before = own.Boards();
    for (const boards::OwnBoard& board : before) {
        const std::optional<boards::OwnBoard> again = boards::OwnBoards::ParseLine(board.Line());
        if (!again || again->AsciiHost() != board.AsciiHost() || again->https != board.https)
            std::abort();
    }
    (void)boards::OwnBoards::ParseAddress(QString::fromUtf8(reinterpret_cast<const char*>(data),
                                                            static_cast<qsizetype>(size)));
    if (!own.ReadError().isEmpty())
        return 0;
    for (const boards::OwnBoard& board : before) {
        if (board.AsciiHost() == QLatin1String("fuzz.example"))
            return 0;  // adding it would replace that line
    }
    const std::optional<boards::OwnBoard> added = boards::OwnBoards::ParseAddress(QStringLiteral("https://fuzz.example/add"));
    if (!added || !own.Add(*added).isEmpty() || !own.Remove(added->AsciiHost()).isEmpty())
        std::abort();
    // The other boards are still there, in their order.
    if (own.Boards().size() != before.size())
        std::abort();
    return 0;
}
