#include "Import.h"

#include "CardStore.h"
#include "History.h"
#include "MdbReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace import {

using store::Status;

namespace {

const QString kImportTitle = QStringLiteral("Importación de tarjetas");

QString quoted(const QString& path) {
    return u'«' + QDir::toNativeSeparators(path) + u'»';
}

QString cardCount(qsizetype n) {
    return n == 1 ? QStringLiteral("1 tarjeta") : QStringLiteral("%1 tarjetas").arg(n);
}

QString refusedLine(const RefusedRow& r) {
    return QStringLiteral("fila %1, código «%2»: %3").arg(r.row).arg(r.code, r.reason);
}

void removeStoreFiles(const QString& path) {
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

// The list of skipped and refused codes, in the data folder under a name no earlier import used.
Status writeReport(const store::Folders& folders, const QString& origin, const QDateTime& now,
                   const QStringList& skipped, const std::vector<RefusedRow>& refused,
                   QString* reportPath) {
    if (!QDir().mkpath(folders.dataDir))
        return Status::failure(store::ErrorKind::CannotOpen,
                               QStringLiteral("No se pudo crear la carpeta de datos %1.")
                                   .arg(quoted(folders.dataDir)));
    const QString stem =
        QStringLiteral("Importacion %1").arg(now.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
    QString path = folders.dataFile(stem + QStringLiteral(".txt"));
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folders.dataFile(QStringLiteral("%1 (%2).txt").arg(stem).arg(n));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return Status::failure(store::ErrorKind::Io,
                               QStringLiteral("No se pudo escribir la lista de códigos %1: %2.")
                                   .arg(quoted(path), file.errorString()));
    QTextStream text(&file);
    text << QStringLiteral("Importación del archivo %1, %2\n")
                .arg(quoted(origin), now.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
    text << QStringLiteral("\nCódigos omitidos porque ya existen en el registro (%1):\n")
                .arg(skipped.size());
    for (const QString& code : skipped)
        text << code << u'\n';
    text << QStringLiteral("\nFilas rechazadas (%1):\n").arg(refused.size());
    for (const RefusedRow& r : refused)
        text << refusedLine(r) << u'\n';
    text.flush();
    if (text.status() != QTextStream::Ok || !file.commit())
        return Status::failure(store::ErrorKind::Io,
                               QStringLiteral("No se pudo escribir la lista de códigos %1: %2.")
                                   .arg(quoted(path), file.errorString()));
    *reportPath = path;
    return Status();
}

} // namespace

QString legacyDatabasePath(const store::Folders& folders) {
    const QString path = folders.appFile(store::kLegacyDatabaseFileName);
    return QFileInfo(path).isFile() ? path : QString();
}

Status createStore(const QString& path, std::span<const store::Card> cards) {
    // The temporary file is created by SQLite itself, so DAT.db ends up with the permissions any
    // new store gets.
    const QString stem =
        path + QStringLiteral(".importando-%1-").arg(QCoreApplication::applicationPid());
    QString temporaryPath;
    for (int n = 1; temporaryPath.isEmpty() || QFileInfo::exists(temporaryPath); ++n)
        temporaryPath = stem + QString::number(n);

    Status status;
    {
        std::unique_ptr<store::CardStore> temporaryStore =
            store::CardStore::open(temporaryPath, &status);
        if (temporaryStore)
            status = temporaryStore->insertCards(cards, store::WriteReason::Importacion);
    } // the store is closed here, before the file is renamed
    if (status && !QFile::rename(temporaryPath, path))
        status = Status::failure(
            store::ErrorKind::Io,
            QFileInfo::exists(path)
                ? QStringLiteral("No se pudo crear el registro %1: ya existe.").arg(quoted(path))
                : QStringLiteral("No se pudo dar el nombre %1 al registro importado.")
                      .arg(quoted(path)));
    if (!status)
        removeStoreFiles(temporaryPath);
    return status;
}

FirstStartImport importOnFirstStart(const store::Folders& folders, store::MessageLayer& messages) {
    if (QFileInfo::exists(folders.appFile(store::kDatabaseFileName)))
        return FirstStartImport::NotNeeded;
    const QString mdbPath = legacyDatabasePath(folders);
    if (mdbPath.isEmpty())
        return FirstStartImport::NotNeeded;
    MdbReader reader(mdbPath);
    return importOnFirstStart(folders, reader, messages);
}

FirstStartImport importOnFirstStart(const store::Folders& folders, RowSource& source,
                                    store::MessageLayer& messages) {
    const QString dbPath = folders.appFile(store::kDatabaseFileName);
    if (QFileInfo::exists(dbPath))
        return FirstStartImport::NotNeeded;

    CardTable table;
    Status status = readCardTable(source, &table);
    if (status)
        status = createStore(dbPath, table.cards);
    if (!status) {
        messages.inform(
            QStringLiteral("No se pudieron importar las tarjetas del archivo %1.\n\n%2\n\n"
                           "El programa comenzará con un registro vacío. El archivo no se "
                           "modificó; para importarlo más tarde use:\n"
                           "tarjetas --import-mdb \"%3\"%4")
                .arg(quoted(source.origin()), status.summary(),
                     QDir::toNativeSeparators(source.origin()), status.detailLine()),
            kImportTitle, store::MessageLayer::Icon::Warning);
        return FirstStartImport::Failed;
    }

    const qsizetype imported = static_cast<qsizetype>(table.cards.size());
    QString text = (imported == 1 ? QStringLiteral("Se importó %1 desde el archivo %2.")
                                  : QStringLiteral("Se importaron %1 desde el archivo %2."))
                       .arg(cardCount(imported), quoted(source.origin()));
    if (!table.refused.empty()) {
        QString reportPath;
        const Status report = writeReport(folders, source.origin(), QDateTime::currentDateTime(),
                                          {}, table.refused, &reportPath);
        text += QStringLiteral("\n\nNo se importaron %1 filas por tener el código vacío o "
                               "repetido")
                    .arg(table.refused.size());
        if (report) {
            text += QStringLiteral("; la lista está en %1.").arg(quoted(reportPath));
        } else {
            text += u':';
            for (const RefusedRow& r : table.refused)
                text += u'\n' + refusedLine(r);
        }
    }
    text += QStringLiteral("\n\nEl archivo original no se modificó.");
    messages.inform(text, kImportTitle, store::MessageLayer::Icon::Information);
    return FirstStartImport::Imported;
}

int runImportCommand(const store::Folders& folders, const QString& mdbPath, QTextStream& out) {
    MdbReader reader(QFileInfo(mdbPath).absoluteFilePath());
    return runImportCommand(folders, reader, out);
}

int runImportCommand(const store::Folders& folders, RowSource& source, QTextStream& out,
                     const QDateTime& now) {
    const QString dbPath = folders.appFile(store::kDatabaseFileName);
    auto fail = [&](const Status& status) {
        out << status.message() << u'\n'
            << QStringLiteral("No se importó ninguna tarjeta; el registro %1 no cambió.\n")
                   .arg(quoted(dbPath));
        out.flush();
        return 1;
    };

    CardTable table;
    if (Status s = readCardTable(source, &table); !s)
        return fail(s);

    // The cards whose code the store already holds are skipped; the rest are added in one
    // transaction, so either all of them are stored or none.
    std::vector<store::Card> toAdd;
    QStringList skipped;
    std::unique_ptr<store::CardStore> cards;
    const bool newStore = !QFileInfo::exists(dbPath);
    if (newStore) {
        toAdd = std::move(table.cards);
    } else {
        Status status;
        cards = store::CardStore::open(dbPath, &status);
        if (!cards)
            return fail(status);
        for (store::Card& card : table.cards) {
            store::RowId id = store::kNoRow;
            if (Status s = cards->findCode(card[store::Codigo], &id); !s)
                return fail(s);
            if (id != store::kNoRow)
                skipped.append(card[store::Codigo]);
            else
                toAdd.push_back(std::move(card));
        }
    }

    QString reportPath;
    if (Status s = writeReport(folders, source.origin(), now, skipped, table.refused, &reportPath);
        !s)
        return fail(s);
    const Status stored = newStore ? createStore(dbPath, toAdd)
                                   : cards->insertCards(toAdd, store::WriteReason::Importacion);
    if (!stored) {
        QFile::remove(reportPath);
        return fail(stored);
    }

    out << QStringLiteral("Archivo importado: %1\n").arg(quoted(source.origin()))
        << QStringLiteral("Registro: %1\n").arg(quoted(dbPath))
        << QStringLiteral("Tarjetas importadas: %1\n").arg(toAdd.size())
        << QStringLiteral("Tarjetas omitidas porque su código ya existe: %1\n").arg(skipped.size())
        << QStringLiteral("Filas rechazadas: %1\n").arg(table.refused.size());
    for (const RefusedRow& r : table.refused)
        out << QStringLiteral("  ") << refusedLine(r) << u'\n';
    out << QStringLiteral("Lista de códigos omitidos y rechazados: %1\n").arg(quoted(reportPath));
    out.flush();
    return 0;
}

} // namespace import
