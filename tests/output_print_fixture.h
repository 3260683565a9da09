#pragma once

// A card store with one fully filled card in a temporary folder, shared by the printing tests.

#include "CardStore.h"
#include "Folders.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

inline store::Card filledCard() {
    using namespace store;
    Card c;
    c[Codigo] = QStringLiteral("982000123456789");
    c[FechaAtencion] = QStringLiteral("25/12/2005");
    c[Lugar] = QStringLiteral("Providencia");
    c[FichaClinica] = QStringLiteral("F-1024");
    c[NombreAnimal] = QStringLiteral("Firulais");
    c[FechaNacimiento] = QStringLiteral("01/02/2003");
    c[Especie] = QStringLiteral("Canino");
    c[Raza] = QStringLiteral("Quiltro");
    c[Color] = QStringLiteral("Negro");
    c[Sexo] = QStringLiteral("M");
    c[EReproductivo] = QStringLiteral("Entero");
    c[Tamano] = QStringLiteral("Mediano");
    c[GrupoFam] = QStringLiteral("Perros");
    c[Propietario] = QStringLiteral("Juana");
    c[Rut] = QStringLiteral("12.345.678-9");
    c[Telefono1] = QStringLiteral("2221111");
    c[Cel] = QStringLiteral("099998888");
    c[Direccion] = QStringLiteral("  Aromos ");
    c[NumeroDepto] = QStringLiteral(" 123 ");
    c[BlockDepto] = QStringLiteral(" B ");
    c[Email] = QStringLiteral("juana@correo.cl");
    c[Contacto] = QStringLiteral("Pedro");
    c[Telefono2] = QStringLiteral("2223333");
    c[Implantador] = QStringLiteral("Rojas");
    c[DireccionCompleta] = QStringLiteral("no se imprime");
    return c;
}

// A data folder and a store in a temporary folder.
struct PrintFixture {
    QTemporaryDir dir;
    store::Folders folders;
    std::unique_ptr<store::CardStore> cards;

    PrintFixture() {
        folders.appDir = dir.path();
        folders.dataDir = dir.filePath(QStringLiteral("TOLVANE_FILES"));
        folders.exportDir = dir.path();
        QDir().mkpath(folders.dataDir);
        store::Status status;
        cards = store::CardStore::open(dir.filePath(store::kDatabaseFileName), &status);
        if (!cards)
            qFatal("cannot open the test store: %s", qPrintable(status.message()));
    }

    void add(const store::Card& card) {
        store::RowId id = store::kNoRow;
        const store::Status s = cards->insertCard(card, &id);
        if (!s)
            qFatal("cannot add a card: %s", qPrintable(s.message()));
    }

    QString offsetFile() const { return folders.dataFile(store::kOffsetFileName); }

    void writeOffsetFile(const QByteArray& bytes) const {
        QFile f(offsetFile());
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write the offset file");
    }
};
