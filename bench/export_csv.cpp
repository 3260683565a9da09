// Times the CSV export of a card store: export_csv STORE OUT [short]. Writes the complete export
// (or the one without owner) of STORE to OUT and prints the cards' count and the time taken.
#include "CardStore.h"
#include "CsvExport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: export_csv DAT.db|postgresql://URI OUT [short]\n");
        return 2;
    }
    store::Status status;
    // A libpq URI names a registry on a server, anything else a file.
    const store::Registry registry = args[1].startsWith(u"postgres")
                                         ? store::Registry::server(args[1])
                                         : store::Registry::file(args[1]);
    auto cards = store::CardStore::open(registry, &status);
    if (!cards) {
        std::fprintf(stderr, "%s\n", qPrintable(status.message()));
        return 1;
    }
    const auto kind = args.size() > 3 && args[3] == u"short" ? output::ExportKind::WithoutOwner
                                                             : output::ExportKind::Complete;
    QFile out(args[2]);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "%s\n", qPrintable(out.errorString()));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    QString error;
    const bool ok = output::writeCsv(*cards, kind, &out, &error);
    out.close();
    const qint64 ms = timer.elapsed();
    if (!ok) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("%lld cards in %lld ms\n", static_cast<long long>(cards->recordCount()),
                static_cast<long long>(ms));
    return 0;
}
