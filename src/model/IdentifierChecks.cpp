#include "IdentifierChecks.h"

#include <algorithm>

#include <QFile>
#include <QHash>

namespace store {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c) {
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Separators people type inside a R.U.T.: "12.345.678-5", "12 345 678 - 5".
bool isRutSeparator(QChar c) {
    return c == u'.' || c == u'-' || c.isSpace();
}

RutCheck invalidRut(QString explanation) {
    return {Verdict::Invalid, std::move(explanation)};
}

// The list of countries shipped with the program: "code<TAB>name" lines, '#' starts a comment.
QHash<int, QString> loadCountries() {
    QHash<int, QString> countries;
    QFile file(QStringLiteral(":/paises/paises_iso3166.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return countries;
    const QString text = QString::fromUtf8(file.readAll());
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0)
            continue;
        bool ok = false;
        const int code = line.left(tab).toInt(&ok);
        const QStringView name = line.mid(tab + 1).trimmed();
        if (ok && !name.isEmpty())
            countries.insert(code, name.toString());
    }
    return countries;
}

const QHash<int, QString>& countries() {
    static const QHash<int, QString> table = loadCountries();
    return table;
}

ChipInfo unrecognized(QString reason) {
    ChipInfo info;
    info.kind = ChipKind::Unrecognized;
    info.description = QStringLiteral("Código de formato no reconocido: ") + reason;
    return info;
}

} // namespace

QChar rutVerifier(QStringView bodyDigits) {
    if (bodyDigits.isEmpty())
        return {};
    // The sum is kept modulo 11 as it grows, so that no length of input can overflow it.
    int sum = 0;
    int weight = 2;
    for (qsizetype i = bodyDigits.size() - 1; i >= 0; --i) {
        const QChar c = bodyDigits[i];
        if (!isAsciiDigit(c))
            return {};
        sum = (sum + (c.unicode() - u'0') * weight) % 11;
        weight = weight == 7 ? 2 : weight + 1;
    }
    const int verifier = 11 - sum;
    if (verifier == 11)
        return u'0';
    if (verifier == 10)
        return u'K';
    return QChar(u'0' + verifier);
}

RutCheck checkRut(QStringView text) {
    QString compact;
    compact.reserve(text.size());
    for (QChar c : text) {
        if (!isRutSeparator(c))
            compact.append(c);
    }
    if (compact.isEmpty()) {
        if (text.trimmed().isEmpty())
            return {};
        return invalidRut(QStringLiteral("Falta el número del R.U.T."));
    }

    const QChar typed = compact.back().toUpper();
    const QStringView body = QStringView(compact).chopped(1);
    for (QChar c : body) {
        if (!isAsciiDigit(c))
            return invalidRut(QStringLiteral("El número del R.U.T. solo puede llevar dígitos, "
                                             "puntos y guion; sobra «") +
                              c + QStringLiteral("»"));
    }
    if (!isAsciiDigit(typed) && typed != u'K')
        return invalidRut(QStringLiteral("El dígito verificador debe ser un número o la letra K, "
                                         "no «") +
                          compact.back() + QStringLiteral("»"));
    if (body.isEmpty())
        return invalidRut(
            QStringLiteral("Falta el número del R.U.T. antes del dígito verificador"));

    const QChar expected = rutVerifier(body);
    if (typed != expected)
        return invalidRut(QStringLiteral("El dígito verificador debería ser ") + expected);
    return {Verdict::Valid, {}};
}

ChipInfo classifyChip(QStringView code) {
    if (code.isEmpty())
        return {};

    bool allDigits = true;
    bool allHex = true;
    bool blanks = false;
    for (QChar c : code) {
        allDigits = allDigits && isAsciiDigit(c);
        allHex = allHex && isHexDigit(c);
        blanks = blanks || c.isSpace();
    }

    if (allDigits && code.size() == 15) {
        ChipInfo info;
        info.prefix = code.left(3).toInt();
        const QString number = code.left(3).toString();
        if (info.prefix == 999) {
            info.kind = ChipKind::IsoTest;
            info.description =
                QStringLiteral("Código ISO 11784 de 15 dígitos: chip de prueba (999)");
        } else if (info.prefix >= 900) {
            info.kind = ChipKind::IsoManufacturer;
            info.description =
                QStringLiteral("Código ISO 11784 de 15 dígitos con código de fabricante (") +
                number + QStringLiteral(")");
        } else if (const QString name = countryName(info.prefix); !name.isEmpty()) {
            info.kind = ChipKind::IsoCountry;
            info.country = name;
            info.description = QStringLiteral("Código ISO 11784 de 15 dígitos, país: ") + name +
                               QStringLiteral(" (") + number + QStringLiteral(")");
        } else {
            info.kind = ChipKind::IsoUnknownCountry;
            info.description =
                QStringLiteral("Código de 15 dígitos con un código de país desconocido (") +
                number + QStringLiteral(")");
        }
        return info;
    }
    if (allHex && code.size() == 10) {
        ChipInfo info;
        info.kind = ChipKind::Hex125kHz;
        info.description =
            QStringLiteral("Código hexadecimal de 10 caracteres (formato antiguo de 125 kHz)");
        return info;
    }
    if (code.size() == 6 && std::all_of(code.begin(), code.end(), [](QChar c) {
            return isAsciiDigit(c) || (c.unicode() < 0x80 && c.isLetter());
        })) {
        ChipInfo info;
        info.kind = ChipKind::ExternalDevice;
        info.description = QStringLiteral("Dispositivo externo de identificación (6 caracteres)");
        return info;
    }
    if (blanks)
        return unrecognized(QStringLiteral("lleva espacios, y el código se busca tal como se "
                                           "escribe"));
    if (allDigits)
        return unrecognized(QStringLiteral("tiene ") + QString::number(code.size()) +
                            QStringLiteral(" dígitos; un código ISO 11784 tiene 15"));
    return unrecognized(QStringLiteral("no es un código ISO 11784 de 15 dígitos ni un código "
                                       "hexadecimal de 10 caracteres"));
}

QString countryName(int isoNumeric) {
    return countries().value(isoNumeric);
}

int countryCount() {
    return int(countries().size());
}

} // namespace store
