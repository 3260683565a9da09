// gen_registry N SEED PATH: writes a card store of N generated cards, the same for the same seed.
#include "Registry.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool okN = false, okSeed = false;
    const qint64 n = args.size() == 4 ? args[1].toLongLong(&okN) : 0;
    const unsigned seed = args.size() == 4 ? args[2].toUInt(&okSeed) : 0;
    if (!okN || !okSeed || n < 0) {
        std::fprintf(stderr, "uso: gen_registry N SEMILLA ARCHIVO\n");
        return 2;
    }
    QString error;
    if (!bench::writeRegistry(n, seed, args[3], QStringLiteral(TARJETAS_MASTER_INI), &error)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(error));
        return 1;
    }
    std::printf("%lld tarjetas en %s\n", static_cast<long long>(n), qUtf8Printable(args[3]));
    return 0;
}
