#pragma once

#include <QString>

namespace output {

// What Qt Print Support does not tell: whether the print system's queue takes jobs, and
// whether it took the last one. Qt hands the finished document to CUPS and ignores the answer,
// so a queue that refuses jobs would look like a successful print. The CUPS library Qt itself
// uses is asked directly, loaded at run time; where there is no CUPS every check passes.
namespace queue {

// Empty when the queue accepts jobs or cannot be asked; otherwise why it refuses them.
QString refusalBeforePrinting(const QString& printerName);
// Empty when the last document sent from this thread was accepted or cannot be checked;
// otherwise the print system's reason for refusing it.
QString refusalOfLastJob();

} // namespace queue
} // namespace output
