#pragma once

// A card store with one fully filled card in a temporary folder, shared by the printing tests.

#include "CardStore.h"
#include "Folders.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

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

// What filledCard() prints: row offset, X and text of each item in print order.
struct Expected {
    int row;
    int x;
    QString text;
    bool footer = false;
};

// One block of the three-block sheet for filledCard(), in print order.
inline const std::vector<Expected> kSheetBlock{
    {0, 2600, QStringLiteral("25/12/2005")},
    {0, 4900, QStringLiteral("Providencia")},
    {0, 8300, QStringLiteral("982000123456789")},
    {375, 4000, QStringLiteral("F-1024")},
    {750, 3300, QStringLiteral("Firulais")},
    {750, 9400, QStringLiteral("01/02/2003")},
    {1125, 1700, QStringLiteral("Canino")},
    {1125, 4200, QStringLiteral("Quiltro")},
    {1125, 8000, QStringLiteral("Negro")},
    {1475, 1200, QStringLiteral("Macho")},
    {1475, 4200, QStringLiteral("Entero")},
    {1475, 6500, QStringLiteral("Mediano")},
    {1850, 1700, QStringLiteral("Juana")},
    {1850, 5100, QStringLiteral("12.345.678-9")},
    {1850, 7600, QStringLiteral("2221111")},
    {1850, 9250, QStringLiteral("099998888")},
    {2225, 1700, QStringLiteral("Aromos 123 B")},
    {2225, 8850, QStringLiteral("juana@correo.cl")},
    {2600, 2300, QStringLiteral("Pedro")},
    {2600, 8900, QStringLiteral("2223333")},
    {3350, 7500, QStringLiteral("Rojas")},
    {3850, 1600, QStringLiteral("Clinica Veterinaria Los Andes"), true},
};
inline constexpr int kOwnerPartStart = 12; // propietario
inline constexpr int kFooterIndex = 21;

inline const std::vector<Expected> kQuickBlock{
    {0, 2713, QStringLiteral("25/12/2005")},
    {0, 5013, QStringLiteral("Providencia")},
    {0, 8413, QStringLiteral("982000123456789")},
    {375, 4113, QStringLiteral("F-1024")},
    {750, 3300, QStringLiteral("Firulais")},
    {750, 9967, QStringLiteral("01/02/2003")},
    {1125, 1700, QStringLiteral("Canino")},
    {1125, 4313, QStringLiteral("Quiltro")},
    {1125, 8113, QStringLiteral("Negro")},
    {1475, 1313, QStringLiteral("Macho")},
    {1475, 4313, QStringLiteral("Entero")},
    {1475, 6613, QStringLiteral("Mediano")},
    {1475, 8633, QStringLiteral("Perros")},
    {1850, 1813, QStringLiteral("Juana")},
    {1850, 6801, QStringLiteral("12.345.678-9")},
    {1850, 8901, QStringLiteral("2221111")},
    {1850, 10200, QStringLiteral("099998888")},
    {2225, 1813, QStringLiteral("Aromos 123 B")},
    {2225, 8113, QStringLiteral("juana@correo.cl")},
    {2600, 2413, QStringLiteral("Pedro")},
    {2600, 9013, QStringLiteral("2223333")},
    {3066, 7613, QStringLiteral("Rojas")},
    {3566, 1713, QStringLiteral("Clinica Veterinaria Los Andes"), true},
};

inline const QString kFooter = QStringLiteral("Clinica Veterinaria Los Andes");

// The expected items of the three-block sheet with the block origin added to each row.
inline std::vector<Expected> sheet(bool fullPrint) {
    std::vector<Expected> all;
    for (int block : {0, 6150, 12450}) {
        for (size_t i = 0; i < kSheetBlock.size(); ++i) {
            if (block == 12450 && (i == kFooterIndex || (!fullPrint && i >= kOwnerPartStart)))
                continue;
            Expected e = kSheetBlock[i];
            e.row += block;
            all.push_back(e);
        }
    }
    return all;
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
