#pragma once

#include "Folders.h"
#include "Status.h"

#include <QString>

class QTextStream;

namespace store {

// Moves a practice's registry to a server: copies every card of the local DAT.db, in stored order
// and with its id, into the registry at `uri`, which must hold no card yet (its table is created
// when missing). All in one transaction, checked before it is committed: the number of cards and
// a hash of every card read back from the server must be those of the file. `*copied` is the
// number of cards copied. The file's history, when it has one, is copied in the same transaction
// (`*historyRows` rows).
Status copyToServer(const QString& filePath, const QString& uri, qint64* copied,
                    qint64* historyRows = nullptr);

// --copiar-a-servidor URI: the copy above from the application folder's DAT.db, said in Spanish
// on `out`; 0 when copied, 1 otherwise.
int runCopyToServerCommand(const Folders& folders, const QString& uri, QTextStream& out);

} // namespace store
