#pragma once

#include "CardMapping.h"
#include "Folders.h"
#include "Messages.h"
#include "RowSource.h"

#include <QDateTime>
#include <QString>

class QTextStream;

namespace import {

enum class FirstStartImport {
    NotNeeded, // DAT.db already exists, or there is no DAT.MDB to import
    Imported,  // DAT.db was built from DAT.MDB and the user was told how many cards it holds
    Failed,    // the user was told why; no DAT.db was left behind
};

// Called at start-up before the card store is opened. When the application folder holds no
// DAT.db but holds DAT.MDB (its name matched without regard to case), builds DAT.db from the
// table Clientes of DAT.MDB, keeping its order, and shows one message saying how many cards came
// from which file. All or nothing: the cards are written to a temporary file that is renamed to
// DAT.db only when complete. DAT.MDB is only read.
FirstStartImport importOnFirstStart(const store::Folders& folders, store::MessageLayer& messages);
// The same with the rows of the table coming from `source` (which stands for DAT.MDB).
FirstStartImport importOnFirstStart(const store::Folders& folders, RowSource& source,
                                    store::MessageLayer& messages);

// `tarjetas --import-mdb FILE`: adds the cards of table Clientes of FILE to the current store
// without changing the cards it already holds, prints a summary, and writes the skipped and
// refused codes to a text file in the data folder, whose path it prints. Returns the process
// exit code: 0 when the import was done, 1 when nothing was imported.
int runImportCommand(const store::Folders& folders, const QString& mdbPath, QTextStream& out);
int runImportCommand(const store::Folders& folders, RowSource& source, QTextStream& out,
                     const QDateTime& now = QDateTime::currentDateTime());

// The DAT.MDB of the application folder, found without regard to case; empty when absent.
QString legacyDatabasePath(const store::Folders& folders);

// Writes the cards into a new store at `path` (which must not exist yet): first into a temporary
// file beside it, renamed to `path` only when every card is stored. On failure nothing is left.
store::Status createStore(const QString& path, std::span<const store::Card> cards);

} // namespace import
