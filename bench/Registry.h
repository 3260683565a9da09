#pragma once

#include <QString>

namespace bench {

// Writes a card store of `cards` generated cards at `path` (replacing any file there), the same
// cards for the same seed and master configuration file. The species, breeds, reproductive states
// and sizes are those of the master configuration file at `masterIni`. Returns false with a
// reason in `error` on failure.
bool writeRegistry(qint64 cards, unsigned seed, const QString& path, const QString& masterIni,
                   QString* error);

} // namespace bench
