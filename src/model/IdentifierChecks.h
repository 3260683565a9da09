#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// Checks of the two identifiers whose typing errors hurt most: the owner's R.U.T. and the
// animal's microchip code. Plain functions with no widgets, usable by the entry window, the
// export, the import or any later feature. They only judge a text; they never change it.
namespace store {

enum class Verdict { Empty, Valid, Invalid };

struct RutCheck {
    Verdict verdict = Verdict::Empty;
    // Spanish explanation of what is wrong; empty when valid or empty.
    QString explanation;
};

// The verifier of a R.U.T. body given as ASCII digits: modulo 11 with weights 2..7 repeating from
// the right, 11 - (sum mod 11), where 11 gives '0' and 10 gives 'K'. A null QChar when the body is
// empty or holds anything but ASCII digits.
QChar rutVerifier(QStringView bodyDigits);

// Judges a typed R.U.T.: dots, blanks and hyphens anywhere are ignored, the last remaining
// character is the verifier (a digit, 'K' or 'k') and the ones before it the body, which must be
// digits only. A text of nothing but blanks is Empty.
RutCheck checkRut(QStringView text);

enum class ChipKind {
    Empty,
    IsoCountry,        // 15 digits, the first three an ISO 3166 numeric country code
    IsoUnknownCountry, // 15 digits, the first three below 900 and no country's code
    IsoManufacturer,   // 15 digits starting 900 to 998: manufacturer code instead of a country
    IsoTest,           // 15 digits starting 999: test chip
    Hex125kHz,         // 10 hexadecimal characters: the older 125 kHz formats
    ExternalDevice,    // 6 letters and digits: an external identification device, not a chip
    Unrecognized,
};

struct ChipInfo {
    ChipKind kind = ChipKind::Empty;
    int prefix = -1; // the first three digits of a 15-digit code, -1 otherwise
    QString country; // Spanish country name for IsoCountry
    // Spanish description of the kind ("código de fabricante", "chip de prueba", the country,
    // "formato no reconocido" with the reason); empty for Empty.
    QString description;
    // Whether the code deserves a warning: an unrecognised format or an unknown country.
    bool doubtful() const {
        return kind == ChipKind::Unrecognized || kind == ChipKind::IsoUnknownCountry;
    }
};

// Classifies a microchip code exactly as typed (blanks inside or around make it unrecognised,
// since the search compares codes exactly).
ChipInfo classifyChip(QStringView code);

// Spanish name of the country with this ISO 3166-1 numeric code; empty when none has it.
QString countryName(int isoNumeric);
// How many countries the shipped list holds (0 if it could not be read).
int countryCount();

} // namespace store
