#pragma once

#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "Ini.h"
#include "TestRegistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A temporary application folder and data folder for one test, with the master configuration
// file in the application folder and cards written straight into its store.
struct AppFolders {
    QTemporaryDir root;
    store::Folders folders;

    AppFolders() {
        folders.appDir = root.filePath(QStringLiteral("app"));
        folders.dataDir = root.filePath(QStringLiteral("datos/TOLVANE_FILES"));
        folders.exportDir = root.path();
        QDir().mkpath(folders.appDir);
        if (const store::Registry r = registry(); r.isServer())
            folders.serverUri = r.location();
    }

    // The window's registry: DAT.db of the application folder, or the test's own schema on the
    // test server.
    store::Registry registry() const {
        return test_registry::registryAt(folders.appFile(store::kDatabaseFileName));
    }

    void writeMasterIni(const QByteArray& bytes) const { write(appIni(), bytes); }
    void copyRealMasterIni() const {
        QFile::copy(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + store::kIniFileName,
                    appIni());
    }
    QString appIni() const { return folders.appFile(store::kIniFileName); }
    QString dataIni() const { return folders.dataFile(store::kIniFileName); }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // Writes the cards into the store of the application folder, in this order.
    void addCards(const std::vector<store::Card>& cards) const {
        store::Status status;
        auto s = store::CardStore::open(registry(), &status);
        QVERIFY2(s, qPrintable(status.message()));
        for (const store::Card& c : cards) {
            store::RowId id;
            const store::Status st = s->insertCard(c, &id);
            QVERIFY2(st, qPrintable(st.message()));
        }
    }
};

// A card with every grid field filled from the code, so that a cell tells which card it is.
inline store::Card makeCard(const QString& code, const QString& sexo = QStringLiteral("M")) {
    store::Card c;
    for (const store::CardField& f : store::cardFields())
        c[f.field] = f.name.toString() + u'-' + code;
    c[store::Codigo] = code;
    c[store::FechaAtencion] = QStringLiteral("05/03/2020");
    c[store::FechaNacimiento] = QStringLiteral("17/11/2018");
    c[store::Sexo] = sexo;
    return c;
}
