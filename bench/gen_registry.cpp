// Writes a card store of N cards with realistic Chilean data, the same cards for the same seed:
// 15-digit microchip codes (152… and 9xx…), Spanish names with accents and Ñ, R.U.T.s with their
// check digit, +56 telephones, streets and comunas, species and breeds of the master INI, owners
// with several pets, and a few empty and Null fields.
#include "CardStore.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstdio>
#include <random>
#include <set>

namespace {

const QStringList kFirstNames = {
    QStringLiteral("José"),      QStringLiteral("María"),   QStringLiteral("Sofía"),
    QStringLiteral("Matías"),    QStringLiteral("Agustín"), QStringLiteral("Catalina"),
    QStringLiteral("Begoña"),    QStringLiteral("Iñaki"),   QStringLiteral("Benjamín"),
    QStringLiteral("Valentina"), QStringLiteral("Tomás"),   QStringLiteral("Martín"),
    QStringLiteral("Antonia"),   QStringLiteral("Ignacia"), QStringLiteral("Cristóbal"),
    QStringLiteral("Fernanda"),  QStringLiteral("Joaquín"), QStringLiteral("Ramón"),
    QStringLiteral("Inés"),      QStringLiteral("Andrés"),
};
const QStringList kSurnames = {
    QStringLiteral("González"),  QStringLiteral("Muñoz"),   QStringLiteral("Rojas"),
    QStringLiteral("Díaz"),      QStringLiteral("Pérez"),   QStringLiteral("Soto"),
    QStringLiteral("Contreras"), QStringLiteral("Silva"),   QStringLiteral("Martínez"),
    QStringLiteral("Sepúlveda"), QStringLiteral("Morales"), QStringLiteral("Rodríguez"),
    QStringLiteral("López"),     QStringLiteral("Fuentes"), QStringLiteral("Hernández"),
    QStringLiteral("Núñez"),     QStringLiteral("Ibáñez"),  QStringLiteral("Peña"),
    QStringLiteral("Castañeda"), QStringLiteral("Valdés"),
};
const QStringList kPetNames = {
    QStringLiteral("Firulais"), QStringLiteral("Canela"), QStringLiteral("Toby"),
    QStringLiteral("Luna"),     QStringLiteral("Rocky"),  QStringLiteral("Pelusa"),
    QStringLiteral("Ñoño"),     QStringLiteral("Max"),    QStringLiteral("Cachupín"),
    QStringLiteral("Mía"),      QStringLiteral("Simón"),  QStringLiteral("Copito"),
    QStringLiteral("Manchas"),  QStringLiteral("Bruno"),  QStringLiteral("Pulgoso"),
    QStringLiteral("Chispa"),   QStringLiteral("Tomasa"), QStringLiteral("Negrita"),
};
const QStringList kStreets = {
    QStringLiteral("Av. Libertador Bernardo O'Higgins"),
    QStringLiteral("Los Aromos"),
    QStringLiteral("Pasaje Las Añañucas"),
    QStringLiteral("Calle Ñuble"),
    QStringLiteral("Av. Irarrázaval"),
    QStringLiteral("Gran Avenida José Miguel Carrera"),
    QStringLiteral("Los Peumos"),
    QStringLiteral("Avenida Matta"),
    QStringLiteral("Camino El Alba"),
    QStringLiteral("Pedro de Valdivia"),
};
const QStringList kComunas = {
    QStringLiteral("Ñuñoa"),        QStringLiteral("Providencia"), QStringLiteral("Maipú"),
    QStringLiteral("Peñalolén"),    QStringLiteral("La Florida"),  QStringLiteral("Puente Alto"),
    QStringLiteral("Viña del Mar"), QStringLiteral("Concepción"),  QStringLiteral("Temuco"),
    QStringLiteral("Valparaíso"),
};
const QStringList kDogBreeds = {
    QStringLiteral("Mestizo"),  QStringLiteral("Labrador Retriever"),
    QStringLiteral("Poodle"),   QStringLiteral("Pastor Alemán"),
    QStringLiteral("Beagle"),   QStringLiteral("Bulldog Francés"),
    QStringLiteral("Dóberman"), QStringLiteral("Fox Terrier"),
};
const QStringList kCatBreeds = {QStringLiteral("Doméstico Pelo Corto"), QStringLiteral("Siamés"),
                                QStringLiteral("Persa"), QStringLiteral("Angora")};
const QStringList kColors = {QStringLiteral("Negro"),  QStringLiteral("Café"),
                             QStringLiteral("Blanco"), QStringLiteral("Atigrado"),
                             QStringLiteral("Canela"), QStringLiteral("Tricolor"),
                             QStringLiteral("Gris"),   QStringLiteral("Blanco con negro")};
const QStringList kStates = {QStringLiteral("Entero"), QStringLiteral("Esterilizado"),
                             QStringLiteral("Castrado")};
const QStringList kSizes = {QStringLiteral("Pequeño"), QStringLiteral("Mediano"),
                            QStringLiteral("Grande")};
const QStringList kPlaces = {QStringLiteral("Clínica Veterinaria San Francisco"),
                             QStringLiteral("Operativo Municipal Ñuñoa"),
                             QStringLiteral("Centro Veterinario Peñalolén"),
                             QStringLiteral("Hospital Veterinario Maipú")};
const QStringList kImplanters = {QStringLiteral("Dra. Camila Fuentes"),
                                 QStringLiteral("Dr. Rodrigo Peña"),
                                 QStringLiteral("Dra. Josefina Ibáñez")};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int percent) { return below(100) < percent; }
    const QString& pick(const QStringList& list) {
        return list[below(static_cast<int>(list.size()))];
    }
    QString digits(int n) {
        QString s;
        for (int i = 0; i < n; ++i)
            s.append(QChar(u'0' + below(10)));
        return s;
    }

    QString code() {
        // ISO codes: 152 (Chile) or a manufacturer's 9xx, 15 digits in all; unique.
        for (;;) {
            const QString prefix =
                chance(60) ? QStringLiteral("152") : QStringLiteral("9") + digits(2);
            const QString c = prefix + digits(12);
            if (codes_.insert(c).second)
                return c;
        }
    }

    QString rut() {
        const int number = 5'000'000 + below(20'000'000);
        int sum = 0, factor = 2;
        for (int n = number; n > 0; n /= 10) {
            sum += (n % 10) * factor;
            factor = factor == 7 ? 2 : factor + 1;
        }
        const int check = 11 - sum % 11;
        const QString dv = check == 11   ? QStringLiteral("0")
                           : check == 10 ? QStringLiteral("K")
                                         : QString::number(check);
        QString body = QString::number(number);
        for (qsizetype i = body.size() - 3; i > 0; i -= 3)
            body.insert(i, u'.');
        return body + u'-' + dv;
    }

    QString date(int fromYear, int toYear) {
        const QDate d(fromYear + below(toYear - fromYear + 1), 1 + below(12), 1 + below(28));
        return d.toString(QStringLiteral("dd/MM/yyyy"));
    }

    struct Owner {
        QString name, rut, phone, cel, street, number, block, email, contact, phone2;
    };
    Owner owner() {
        Owner o;
        const QString first = pick(kFirstNames);
        const QString last = pick(kSurnames);
        o.name = first + u' ' + last + u' ' + pick(kSurnames);
        o.rut = rut();
        o.phone = QStringLiteral("+56 2 2") + digits(3) + u' ' + digits(4);
        o.cel = QStringLiteral("+56 9 ") + digits(4) + u' ' + digits(4);
        o.street = pick(kStreets) + QStringLiteral(", ") + pick(kComunas);
        o.number = QString::number(1 + below(9999));
        o.block = chance(30) ? QStringLiteral("Depto ") + QString::number(11 + below(1500))
                             : QString(QLatin1StringView(""));
        QString mail = first.toLower() + u'.' + last.toLower();
        mail = mail.normalized(QString::NormalizationForm_D);
        mail.remove(QRegularExpression(QStringLiteral("[^a-z.]")));
        o.email = chance(80) ? mail + QStringLiteral("@correo.cl") : QString(QLatin1StringView(""));
        o.contact = pick(kFirstNames) + u' ' + pick(kSurnames);
        o.phone2 = QStringLiteral("+56 9 ") + digits(4) + u' ' + digits(4);
        return o;
    }

private:
    std::mt19937 rng_;
    std::set<QString> codes_;
};

} // namespace

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
    const QString path = args[3];
    if (QFile::exists(path) && !QFile::remove(path)) {
        std::fprintf(stderr, "no se pudo reemplazar %s\n", qUtf8Printable(path));
        return 1;
    }
    store::Status status;
    auto cards = store::CardStore::open(path, &status);
    if (!cards) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(status.message()));
        return 1;
    }

    // One transaction for the lot: a million single inserts would each wait for the disk.
    QSqlDatabase db = cards->database();
    db.transaction();
    QSqlQuery insert(db);
    QStringList marks;
    for (int i = 0; i < store::kFieldCount; ++i)
        marks.append(QStringLiteral("?"));
    insert.prepare(QStringLiteral("INSERT INTO Clientes (") + store::CardStore::columnList() +
                   QStringLiteral(") VALUES (") + marks.join(u',') + u')');

    Generator g(seed);
    Generator::Owner owner;
    int petsLeft = 0;
    for (qint64 i = 0; i < n; ++i) {
        if (petsLeft-- <= 0) {
            owner = g.owner();
            petsLeft = g.chance(25) ? 1 + g.below(3) : 0;
        }
        store::Card c;
        using namespace store;
        const bool cat = g.chance(30);
        c[Codigo] = g.code();
        c[FechaAtencion] = g.date(2008, 2024);
        c[Lugar] = g.pick(kPlaces);
        c[FichaClinica] = g.chance(85) ? QString::number(1000 + g.below(90000)) : QString();
        c[NombreAnimal] = g.pick(kPetNames);
        c[FechaNacimiento] = g.chance(95) ? g.date(2000, 2023) : QString(QLatin1StringView(""));
        c[Especie] = cat ? QStringLiteral("Felino") : QStringLiteral("Canino");
        c[Raza] = g.pick(cat ? kCatBreeds : kDogBreeds);
        c[Color] = g.pick(kColors);
        c[Sexo] = g.chance(50) ? QStringLiteral("M") : QStringLiteral("H");
        c[EReproductivo] = g.pick(kStates);
        c[Tamano] = cat ? QStringLiteral("Pequeño") : g.pick(kSizes);
        c[GrupoFam] =
            g.chance(20) ? QStringLiteral("Familia ") + owner.name.section(u' ', 1, 1) : QString();
        c[Propietario] = owner.name;
        c[Rut] = owner.rut;
        c[Telefono1] = owner.phone;
        c[Cel] = owner.cel;
        c[Direccion] = owner.street;
        c[NumeroDepto] = owner.number;
        c[BlockDepto] = owner.block;
        c[Email] = owner.email;
        c[Contacto] = g.chance(70) ? owner.contact : QString();
        c[Telefono2] = g.chance(70) ? owner.phone2 : QString();
        c[Implantador] = g.pick(kImplanters);
        c[DireccionCompleta] = composeAddress(c[Direccion], c[NumeroDepto], c[BlockDepto]);
        for (int f = 0; f < kFieldCount; ++f)
            insert.bindValue(f, c[static_cast<Field>(f)]);
        if (!insert.exec()) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(insert.lastError().text()));
            db.rollback();
            return 1;
        }
    }
    if (!db.commit()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(db.lastError().text()));
        return 1;
    }
    std::printf("%lld tarjetas en %s\n", static_cast<long long>(n), qUtf8Printable(path));
    return 0;
}
