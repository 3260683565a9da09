#pragma once

#include "CardStore.h"
#include "Folders.h"
#include "Messages.h"
#include "PrintSurface.h"

#include <QString>

#include <functional>

namespace output {

enum class PrintKind {
    ThreeBlocks, // three blocks a sheet, asking whether the third carries the owner's data
    Quick,       // one block at once, asking nothing
};

enum class PrintOutcome {
    Printed,        // sent to the printer and reported
    Cancelled,      // the user cancelled the question
    NothingToPrint, // no cards, or none with this code: ends without a word
    Failed,         // the offset file, the store or the printer failed; the user was told
};

// Prints the card with this microchip code, read from the store, on a document of `target`:
// reads or creates the offset file in the data folder, asks for a full or partial print when
// printing three blocks, prints the layout with `footerText` and reports the job sent.
PrintOutcome printCardCommand(store::CardStore& cards, const QString& code,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind);
// The same for the stored card with this id (the card the window shows); kNoRow prints nothing.
PrintOutcome printCardCommand(store::CardStore& cards, store::RowId id,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind);
// The same, the card found by `findCard` once the questions are answered.
PrintOutcome printCardCommand(store::CardStore& cards,
                              const std::function<store::Status(store::RowId*)>& findCard,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind);

} // namespace output
