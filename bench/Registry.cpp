// Realistic Chilean cards: 15-digit microchip codes (152… and 9xx…), Spanish names with accents
// and Ñ, R.U.T.s with their check digit, +56 telephones, streets and comunas, species and breeds
// of the master configuration file, owners with several pets, and a few empty and Null fields.
// Written straight through SQLite in one transaction with one prepared statement, so that a
// million cards take seconds rather than minutes.
#include "Registry.h"

#include "SearchIndex.h"

#include "CardStore.h"
#include "Ini.h"

#include <QDate>
#include <QFile>

#include <sqlite3.h>

#include <array>
#include <optional>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

namespace bench {

namespace {

using Words = std::vector<std::string>;

const Words kFirstNames = {
    "José",      "María",    "Sofía",       "Matías",  "Agustín", "Catalina", "Begoña",
    "Iñaki",     "Benjamín", "Valentina",   "Tomás",   "Martín",  "Antonia",  "Ignacia",
    "Cristóbal", "Fernanda", "Joaquín",     "Ramón",   "Inés",    "Andrés",   "Florencia",
    "Vicente",   "Isidora",  "Maximiliano", "Josefa",  "Lucas",   "Emilia",   "Gaspar",
    "Trinidad",  "Renato",   "Constanza",   "Bastián", "Javiera", "Nicolás",  "Amanda",
    "Sebastián", "Rocío",    "Héctor",      "Mónica",  "Óscar",
};
const Words kSurnames = {
    "González",  "Muñoz",    "Rojas",     "Díaz",     "Pérez",     "Soto",    "Contreras",
    "Silva",     "Martínez", "Sepúlveda", "Morales",  "Rodríguez", "López",   "Fuentes",
    "Hernández", "Núñez",    "Ibáñez",    "Peña",     "Castañeda", "Valdés",  "Araya",
    "Espinoza",  "Torres",   "Flores",    "Castillo", "Gutiérrez", "Álvarez", "Reyes",
    "Vásquez",   "Tapia",    "Carrasco",  "Cortés",   "Gómez",     "Herrera", "Núñez",
    "Jara",      "Vergara",  "Figueroa",  "Orellana", "Saavedra",
};
const Words kPetNames = {
    "Firulais", "Canela",  "Toby",   "Luna",   "Rocky",   "Pelusa", "Ñoño",      "Max",
    "Cachupín", "Mía",     "Simón",  "Copito", "Manchas", "Bruno",  "Pulgoso",   "Chispa",
    "Tomasa",   "Negrita", "Pancho", "Kiara",  "Olivia",  "Zeus",   "Chocolate", "Nala",
};
const Words kStreets = {
    "Av. Libertador Bernardo O'Higgins",
    "Los Aromos",
    "Pasaje Las Añañucas",
    "Calle Ñuble",
    "Av. Irarrázaval",
    "Gran Avenida José Miguel Carrera",
    "Los Peumos",
    "Avenida Matta",
    "Camino El Alba",
    "Pedro de Valdivia",
    "Av. Vicuña Mackenna",
    "Los Boldos",
    "Santa Rosa",
    "Av. Grecia",
    "José Pedro Alessandri",
    "Los Maitenes",
    "Av. La Florida",
    "Pasaje El Ñandú",
    "Av. Tobalaba",
    "Lo Cañas",
    "Av. Pajaritos",
    "Camino a Melipilla",
    "Los Quillayes",
    "Av. Macul",
    "Calle Larga",
    "Los Almendros",
    "Av. Departamental",
    "Pasaje Los Álamos",
    "Av. Ossa",
    "Manuel Montt",
};
const Words kComunas = {
    "Ñuñoa",       "Providencia",  "Maipú",      "Peñalolén",    "La Florida",
    "Puente Alto", "Viña del Mar", "Concepción", "Temuco",       "Valparaíso",
    "Las Condes",  "La Reina",     "Macul",      "San Bernardo", "Quilpué",
    "Rancagua",    "Talca",        "Chillán",    "Los Ángeles",  "Curicó",
};
const Words kColors = {"Negro",  "Café",     "Blanco",    "Atigrado",
                       "Canela", "Tricolor", "Gris",      "Blanco con negro",
                       "Dorado", "Bicolor",  "Chocolate", "Crema"};
const Words kPlaces = {"Clínica Veterinaria San Francisco", "Operativo Municipal Ñuñoa",
                       "Centro Veterinario Peñalolén",      "Hospital Veterinario Maipú",
                       "Operativo Municipal Puente Alto",   "Clínica Veterinaria Los Ángeles"};
const Words kImplanters = {"Dra. Camila Fuentes", "Dr. Rodrigo Peña", "Dra. Josefina Ibáñez",
                           "Dr. Andrés Núñez", "Dra. Fernanda Muñoz"};

Words wordsOf(const QStringList& list) {
    Words words;
    for (const QString& s : list) {
        if (!s.isEmpty())
            words.push_back(s.toStdString());
    }
    return words;
}

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int percent) { return below(100) < percent; }
    const std::string& pick(const Words& list) { return list[size_t(below(int(list.size())))]; }
    std::string digits(int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s.push_back(char('0' + below(10)));
        return s;
    }

    std::string code() {
        // ISO codes: 152 (Chile) or a manufacturer's 9xx, 15 digits in all; unique.
        for (;;) {
            std::string c = chance(60) ? std::string("152") : std::string("9");
            c.append(digits(c.size() == 3 ? 12 : 14));
            if (codes_.insert(std::stoull(c)).second)
                return c;
        }
    }

    std::string rut() {
        const int number = 5'000'000 + below(20'000'000);
        int sum = 0, factor = 2;
        for (int n = number; n > 0; n /= 10) {
            sum += (n % 10) * factor;
            factor = factor == 7 ? 2 : factor + 1;
        }
        const int check = 11 - sum % 11;
        const std::string dv = check == 11 ? "0" : check == 10 ? "K" : std::to_string(check);
        std::string body = std::to_string(number);
        for (int i = int(body.size()) - 3; i > 0; i -= 3)
            body.insert(size_t(i), 1, '.');
        return body + "-" + dv;
    }

    std::string date(int fromYear, int toYear) {
        const QDate d(fromYear + below(toYear - fromYear + 1), 1 + below(12), 1 + below(28));
        return d.toString(QStringLiteral("dd/MM/yyyy")).toStdString();
    }

private:
    std::mt19937 rng_;
    std::unordered_set<unsigned long long> codes_;
};

// The e-mail name of a person: lower case, accents and Ñ dropped to their plain letters.
std::string mailName(const std::string& first, const std::string& last) {
    QString mail = QString::fromStdString(first + "." + last).toLower();
    mail = mail.normalized(QString::NormalizationForm_D);
    std::string out;
    for (QChar c : mail) {
        if ((c >= u'a' && c <= u'z') || c == u'.')
            out.push_back(char(c.unicode()));
    }
    return out;
}

struct Owner {
    std::string name, surname, rut, phone, cel, street, number, block, email, contact, phone2;
};

Owner makeOwner(Generator& g) {
    Owner o;
    const std::string& first = g.pick(kFirstNames);
    o.surname = g.pick(kSurnames);
    o.name = first + " " + o.surname + " " + g.pick(kSurnames);
    o.rut = g.rut();
    o.phone = "+56 2 2" + g.digits(3) + " " + g.digits(4);
    o.cel = "+56 9 " + g.digits(4) + " " + g.digits(4);
    o.street = g.pick(kStreets) + ", " + g.pick(kComunas);
    o.number = std::to_string(1 + g.below(9999));
    o.block = g.chance(30) ? "Depto " + std::to_string(11 + g.below(1500)) : std::string();
    o.email = g.chance(80) ? mailName(first, o.surname) + "@correo.cl" : std::string();
    o.contact = g.pick(kFirstNames) + " " + g.pick(kSurnames);
    o.phone2 = "+56 9 " + g.digits(4) + " " + g.digits(4);
    return o;
}

class Sqlite {
public:
    ~Sqlite() {
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == 0; }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(db)); }
    sqlite3* db = nullptr;
    sqlite3_stmt* insert = nullptr;
};

} // namespace

bool writeRegistry(qint64 cards, unsigned seed, const QString& path, const QString& masterIni,
                   QString* error) {
    if (QFile::exists(path) && !QFile::remove(path)) {
        *error = QStringLiteral("no se pudo reemplazar ") + path;
        return false;
    }
    {
        // The schema, exactly as the program creates it.
        store::Status status;
        if (!store::CardStore::open(path, &status)) {
            *error = status.message();
            return false;
        }
    }
    const store::IniFile ini = store::IniFile::load(masterIni);
    const auto list = [&](const char16_t* key) {
        return wordsOf(store::splitItemList(
            store::LeeIni(ini, store::kIniSectionLists, QString::fromUtf16(key))));
    };
    const Words species = list(u"ESPECIE");
    const Words states = list(u"ESTADO REPRODUCTIVO");
    const Words sizes = list(u"TAMAÑO");
    const QStringList breedList = store::readBreedList(ini, store::kIniSectionLists);
    // Cat breeds are those of the last breed key, dog breeds the rest: so the master file
    // groups them.
    const qsizetype catFrom = breedList.indexOf(QStringLiteral("Doméstico Pelo Corto"));
    const Words dogBreeds = wordsOf(catFrom > 0 ? breedList.first(catFrom) : breedList);
    const Words catBreeds = wordsOf(catFrom > 0 ? breedList.sliced(catFrom) : breedList);
    if (species.size() < 3 || states.empty() || sizes.empty() || dogBreeds.empty()) {
        *error =
            QStringLiteral("el archivo de configuración maestro no tiene las listas: ") + masterIni;
        return false;
    }

    Sqlite s;
    if (sqlite3_open_v2(path.toUtf8().constData(), &s.db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        *error = s.error();
        return false;
    }
    // A generated file: nothing is lost if the machine stops halfway, so no waiting on the disk.
    s.exec("PRAGMA synchronous=OFF");
    // The search index is made once at the end: kept by its triggers card by card, a million
    // cards take minutes instead of seconds.
    if (!s.exec("DROP TRIGGER BusquedaTarjetasAlta; DROP TRIGGER BusquedaTarjetasCambio; "
                "DROP TRIGGER BusquedaTarjetasBaja; DROP TABLE BusquedaTarjetas")) {
        *error = s.error();
        return false;
    }
    std::string sql =
        "INSERT INTO Clientes (" + store::CardStore::columnList().toStdString() + ") VALUES (";
    for (int i = 0; i < store::kFieldCount; ++i)
        sql += i ? ",?" : "?";
    sql += ")";
    if (!s.exec("BEGIN IMMEDIATE") ||
        sqlite3_prepare_v2(s.db, sql.c_str(), int(sql.size()), &s.insert, nullptr) != SQLITE_OK) {
        *error = s.error();
        return false;
    }

    Generator g(seed);
    Owner owner;
    int petsLeft = 0;
    std::array<std::optional<std::string>, store::kFieldCount> c;
    for (qint64 i = 0; i < cards; ++i) {
        if (petsLeft-- <= 0) {
            owner = makeOwner(g);
            petsLeft = g.chance(25) ? 1 + g.below(3) : 0;
        }
        using namespace store;
        const int kind = g.below(100);
        const bool cat = kind >= 65 && kind < 95;
        const std::string& specie = kind < 65 ? species[0]
                                    : cat     ? species[1]
                                          : species[2 + size_t(g.below(int(species.size()) - 2))];
        const auto none = std::optional<std::string>();
        c[Codigo] = g.code();
        c[FechaAtencion] = g.date(2008, 2024);
        c[Lugar] = g.pick(kPlaces);
        c[FichaClinica] =
            g.chance(85) ? std::optional(std::to_string(1000 + g.below(90000))) : none;
        c[NombreAnimal] = g.pick(kPetNames);
        c[FechaNacimiento] = g.chance(95) ? g.date(2000, 2023) : std::string();
        c[Especie] = specie;
        c[Raza] = kind < 65 ? g.pick(dogBreeds) : cat ? g.pick(catBreeds) : std::string();
        c[Color] = g.pick(kColors);
        c[Sexo] = g.chance(50) ? "M" : "H";
        c[EReproductivo] = g.pick(states);
        c[Tamano] = cat ? sizes[0] : g.pick(sizes);
        c[GrupoFam] = g.chance(20) ? std::optional("Familia " + owner.surname) : none;
        c[Propietario] = owner.name;
        c[Rut] = owner.rut;
        c[Telefono1] = owner.phone;
        c[Cel] = owner.cel;
        c[Direccion] = owner.street;
        c[NumeroDepto] = owner.number;
        c[BlockDepto] = owner.block;
        c[Email] = owner.email;
        c[Contacto] = g.chance(70) ? std::optional(owner.contact) : none;
        c[Telefono2] = g.chance(70) ? std::optional(owner.phone2) : none;
        c[Implantador] = g.pick(kImplanters);
        c[DireccionCompleta] = composeAddress(QString::fromStdString(owner.street),
                                              QString::fromStdString(owner.number),
                                              QString::fromStdString(owner.block))
                                   .toStdString();
        for (int f = 0; f < kFieldCount; ++f) {
            if (c[size_t(f)])
                sqlite3_bind_text(s.insert, f + 1, c[size_t(f)]->data(), int(c[size_t(f)]->size()),
                                  SQLITE_STATIC);
            else
                sqlite3_bind_null(s.insert, f + 1);
        }
        if (sqlite3_step(s.insert) != SQLITE_DONE) {
            *error = s.error();
            s.exec("ROLLBACK");
            return false;
        }
        sqlite3_reset(s.insert);
    }
    if (!s.exec("COMMIT")) {
        *error = s.error();
        return false;
    }
    store::Status status;
    auto indexed = store::CardStore::open(path, &status);
    if (indexed)
        status = store::SearchIndex::build(*indexed, {});
    if (!status) {
        *error = status.message();
        return false;
    }
    return true;
}

} // namespace bench
