#include "PrintQueueCheck.h"

#include <QLibrary>

namespace output::queue {

namespace {

// The few declarations of the CUPS 2 library that the checks need; its ABI has kept them
// unchanged since CUPS 1.2.
struct CupsOption {
    char* name;
    char* value;
};
struct CupsDest {
    char* name;
    char* instance;
    int isDefault;
    int numOptions;
    CupsOption* options;
};
using GetNamedDest = CupsDest* (*)(void* http, const char* name, const char* instance);
using GetOption = const char* (*)(const char* name, int numOptions, CupsOption* options);
using FreeDests = void (*)(int numDests, CupsDest* dests);
using LastError = int (*)();
using LastErrorString = const char* (*)();

// Statuses above this one are errors (ipp_status_t).
constexpr int kIppStatusOkEventsComplete = 0x0007;

struct Cups {
    GetNamedDest getNamedDest = nullptr;
    GetOption getOption = nullptr;
    FreeDests freeDests = nullptr;
    LastError lastError = nullptr;
    LastErrorString lastErrorString = nullptr;

    static const Cups& instance() {
        static const Cups cups = [] {
            Cups c;
#if defined(Q_OS_UNIX)
            QLibrary lib(QStringLiteral("cups"), 2);
            if (!lib.load())
                return c;
            c.getNamedDest = reinterpret_cast<GetNamedDest>(lib.resolve("cupsGetNamedDest"));
            c.getOption = reinterpret_cast<GetOption>(lib.resolve("cupsGetOption"));
            c.freeDests = reinterpret_cast<FreeDests>(lib.resolve("cupsFreeDests"));
            c.lastError = reinterpret_cast<LastError>(lib.resolve("cupsLastError"));
            c.lastErrorString =
                reinterpret_cast<LastErrorString>(lib.resolve("cupsLastErrorString"));
#endif
            return c;
        }();
        return cups;
    }
};

} // namespace

QString refusalBeforePrinting(const QString& printerName) {
    const Cups& cups = Cups::instance();
    if (!cups.getNamedDest || !cups.getOption || !cups.freeDests || printerName.isEmpty())
        return {};
    CupsDest* dest = cups.getNamedDest(nullptr, printerName.toUtf8().constData(), nullptr);
    if (!dest)
        return {};
    const char* accepting =
        cups.getOption("printer-is-accepting-jobs", dest->numOptions, dest->options);
    const bool refuses = accepting && qstrcmp(accepting, "false") == 0;
    cups.freeDests(1, dest);
    return refuses ? QStringLiteral("no está aceptando trabajos") : QString();
}

QString refusalOfLastJob() {
    const Cups& cups = Cups::instance();
    if (!cups.lastError)
        return {};
    if (cups.lastError() <= kIppStatusOkEventsComplete)
        return {};
    const char* reason = cups.lastErrorString ? cups.lastErrorString() : nullptr;
    return reason ? QString::fromUtf8(reason) : QStringLiteral("error desconocido");
}

} // namespace output::queue
