#include "ReportCommand.h"

#include "Certificate.h"
#include "Clock.h"
#include "Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace report {

using store::ErrorKind;
using store::Status;

int runReportCommand(const store::Folders& folders, const DateRange& range, Grouping by,
                     const QString& outputPath, PageContext page, const store::Clock& clock,
                     QTextStream& out, QTextStream& err) {
    Status chosen;
    const store::Registry registry = store::chooseRegistry(folders, &chosen);
    if (!chosen) {
        err << chosen.message() << Qt::endl;
        return 1;
    }
    ReportResult result;
    if (const Status status = computeReport(registry, range, by, clock.today(), &result); !status) {
        err << status.message() << Qt::endl;
        return 1;
    }
    const QString path = QFileInfo(outputPath).absoluteFilePath();
    const QString shown = QDir::toNativeSeparators(path);
    if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(reportCsv(result)) < 0 ||
            !file.commit()) {
            err << QStringLiteral("No se pudo escribir el archivo %1: %2.")
                       .arg(shown, file.errorString())
                << Qt::endl;
            return 1;
        }
    } else {
        page.printedAt = clock.now();
        page.registryName = registry.describe();
        QString error;
        if (!writeReportPdf(path, output::certificatePaper(), result, page, &error)) {
            err << error << Qt::endl;
            return 1;
        }
    }
    out << QStringLiteral("Informe de implantaciones (%1, por %2): %3 tarjetas, %4 sin fecha o con "
                          "fecha ilegible; guardado en %5.")
               .arg(range.describe(), groupingTitle(by).toLower())
               .arg(result.total)
               .arg(result.undated)
               .arg(shown)
        << Qt::endl;
    return 0;
}

} // namespace report
