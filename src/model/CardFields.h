#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <span>

namespace store {

// The fields of a card in grid order. The numeric value is the field's position in the card
// record, its grid column minus one and its column in table Clientes (after the hidden id).
enum Field : int {
    Codigo = 0,
    FechaAtencion,
    Lugar,
    FichaClinica,
    NombreAnimal,
    FechaNacimiento,
    Especie,
    Raza,
    Color,
    Sexo,
    EReproductivo,
    Tamano,
    GrupoFam,
    Propietario,
    Rut,
    Telefono1,
    Cel,
    Direccion,
    NumeroDepto,
    BlockDepto,
    Email,
    Contacto,
    Telefono2,
    Implantador,
    DireccionCompleta,
};

inline constexpr int kFieldCount = 25;
// The first 24 fields are shown in the grid; direccion_completa is derived and has no column.
inline constexpr int kGridFieldCount = 24;

enum class ControlKind { Text, Date, Combo, Sex, None };

// Which CSV exports carry a field.
enum ExportFlag : unsigned {
    NotExported = 0,
    CompleteExport = 1u << 0,
    ShortExport = 1u << 1,
};

// One description of a card field; every use (grid, entry fields, save, web card, CSV, printing)
// walks the table of these instead of listing the fields again.
struct CardField {
    Field field;
    QStringView name;    // column name in table Clientes
    QStringView control; // objectName of its entry control; empty when derived
    ControlKind kind;
    QStringView label;      // caption of the label beside the control
    int entryLimit;         // characters the control accepts while typing; 0 when not a text box
    int webOffset;          // offset in the web card record, -1 when the record lacks it
    int webWidth;           // width in the web card record, 0 when the record lacks it
    QStringView gridHeader; // header of its grid column; empty when not shown
    QStringView csvHeader;  // header of its CSV column; empty when never exported
    unsigned exports;       // ExportFlag bits
};

// All 25 fields in record order.
std::span<const CardField> cardFields();
const CardField& cardField(Field f);
// Field by column name, matched without regard to case ("grupoFam" finds GrupoFam).
std::optional<Field> fieldByName(QStringView name);
// Field edited by the control with this objectName (Option1 and Option2 both give sexo).
std::optional<Field> fieldByControl(QStringView control);

// Values of one card in record order. A null QString stands for a Null value in the store and
// reads as empty text; an empty non-null QString is a stored empty text.
class Card {
public:
    Card() = default;
    const QString& operator[](Field f) const { return values_[f]; }
    QString& operator[](Field f) { return values_[f]; }
    bool isNull(Field f) const { return values_[f].isNull(); }
    auto begin() const { return values_.begin(); }
    auto end() const { return values_.end(); }
    bool operator==(const Card&) const = default;

private:
    std::array<QString, kFieldCount> values_;
};

// "Macho" when sexo is exactly "M", otherwise "Hembra" (printing and export).
QString sexWord(const QString& sexo);

// The text without leading and trailing spaces (U+0020 only; tabs and other blanks stay), the way
// the original program trimmed every value.
QString trimSpaces(QStringView text);

// The address as the save composes it: street, number and block, each trimmed of surrounding
// spaces and joined with one blank; empty parts are kept, so a lone street ends in two blanks.
QString composeAddress(const QString& street, const QString& number, const QString& block);

} // namespace store

namespace store {

// How the free-text search indexes a field: not at all, by its words (names), as a R.U.T., or
// as a telephone number.
enum class SearchKind { None, Words, Rut, Phone };
SearchKind searchKind(Field f);

} // namespace store
