#include "CardPrintLayout.h"

#include <array>
#include <optional>

namespace output {

namespace {

using store::Field;

constexpr PrintItem field(int row, int x, Field f, unsigned flags = NoFlags) {
    return {row, x, PrintValue::Field, f, kValueFont, flags};
}
constexpr PrintItem sexWord(int row, int x) {
    return {row, x, PrintValue::SexWord, Field::Sexo, kValueFont, NoFlags};
}
constexpr PrintItem addressLine(int row, int x) {
    return {row, x, PrintValue::AddressLine, Field::Direccion, kValueFont, OwnerPart};
}
constexpr PrintItem footer(int row, int x) {
    return {row, x, PrintValue::FooterText, Field::Codigo, kFooterFont, Footer};
}

// The block of the three-block sheet. The owner part runs from propietario to implantador.
constexpr std::array kThreeBlockItems{
    field(0, 2600, Field::FechaAtencion),
    field(0, 4900, Field::Lugar),
    field(0, 8300, Field::Codigo),
    field(375, 4000, Field::FichaClinica),
    field(750, 3300, Field::NombreAnimal),
    field(750, 9400, Field::FechaNacimiento),
    field(1125, 1700, Field::Especie),
    field(1125, 4200, Field::Raza),
    field(1125, 8000, Field::Color),
    sexWord(1475, 1200),
    field(1475, 4200, Field::EReproductivo),
    field(1475, 6500, Field::Tamano),
    field(1850, 1700, Field::Propietario, OwnerPart),
    field(1850, 5100, Field::Rut, OwnerPart),
    field(1850, 7600, Field::Telefono1, OwnerPart),
    field(1850, 9250, Field::Cel, OwnerPart),
    addressLine(2225, 1700),
    field(2225, 8850, Field::Email, OwnerPart),
    field(2600, 2300, Field::Contacto, OwnerPart),
    field(2600, 8900, Field::Telefono2, OwnerPart),
    field(3350, 7500, Field::Implantador, OwnerPart),
    footer(3850, 1600),
};

constexpr std::array kThreeBlocks{
    PrintBlock{0, true, false},
    PrintBlock{6150, true, false},
    PrintBlock{12450, false, true},
};

// The single block printed at once: most items 113 twips right of the sheet's, a few moved,
// the family group added, and the last two rows 284 twips higher.
constexpr std::array kQuickItems{
    field(0, 2713, Field::FechaAtencion),
    field(0, 5013, Field::Lugar),
    field(0, 8413, Field::Codigo),
    field(375, 4113, Field::FichaClinica),
    field(750, 3300, Field::NombreAnimal),
    field(750, 9967, Field::FechaNacimiento),
    field(1125, 1700, Field::Especie),
    field(1125, 4313, Field::Raza),
    field(1125, 8113, Field::Color),
    sexWord(1475, 1313),
    field(1475, 4313, Field::EReproductivo),
    field(1475, 6613, Field::Tamano),
    field(1475, 8633, Field::GrupoFam),
    field(1850, 1813, Field::Propietario, OwnerPart),
    field(1850, 6801, Field::Rut, OwnerPart),
    field(1850, 8901, Field::Telefono1, OwnerPart),
    field(1850, 10200, Field::Cel, OwnerPart),
    addressLine(2225, 1813),
    field(2225, 8113, Field::Email, OwnerPart),
    field(2600, 2413, Field::Contacto, OwnerPart),
    field(2600, 9013, Field::Telefono2, OwnerPart),
    field(3066, 7613, Field::Implantador, OwnerPart),
    footer(3566, 1713),
};

constexpr std::array kQuickBlocks{PrintBlock{0, true, false}};

} // namespace

const CardLayout& threeBlockLayout() {
    static const CardLayout layout{kThreeBlockItems, kThreeBlocks};
    return layout;
}

const CardLayout& quickLayout() {
    static const CardLayout layout{kQuickItems, kQuickBlocks};
    return layout;
}

QString printedText(const PrintItem& item, const store::Card& card, const QString& footerText) {
    switch (item.value) {
    case PrintValue::Field:
        return card[item.field];
    case PrintValue::SexWord:
        return store::sexWord(card[Field::Sexo]);
    case PrintValue::AddressLine: {
        const QString line = store::composeAddress(card[Field::Direccion], card[Field::NumeroDepto],
                                                   card[Field::BlockDepto]);
        // Three empty parts leave only the two joining blanks: nothing to print.
        return line.trimmed().isEmpty() ? QString() : line;
    }
    case PrintValue::FooterText:
        return footerText;
    }
    return {};
}

store::Status printCardLayout(const CardLayout& layout, const store::Card& card,
                              const QString& footerText, bool fullPrint,
                              const PrintOffsets& offsets, PrintSurface& surface) {
    std::optional<PrintFont> current;
    for (const PrintBlock& block : layout.blocks) {
        const double origin = offsets.top + block.offset;
        for (const PrintItem& item : layout.items) {
            if ((item.flags & Footer) && !block.withFooter)
                continue;
            if ((item.flags & OwnerPart) && block.ownerPartOptional && !fullPrint)
                continue;
            const QString text = printedText(item, card, footerText);
            if (text.isEmpty())
                continue;
            if (current != item.font) {
                surface.setFont(item.font);
                current = item.font;
            }
            surface.setPosition(offsets.left + item.x, origin + item.rowOffset);
            surface.printText(text);
        }
    }
    return surface.endDocument();
}

} // namespace output
