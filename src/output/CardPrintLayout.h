#pragma once

#include "CardFields.h"
#include "PrintSurface.h"

#include <span>

namespace output {

// What one item of a card layout prints.
enum class PrintValue {
    Field,       // the stored value of `field`
    SexWord,     // "Macho" or "Hembra" from sexo
    AddressLine, // direccion, numero_depto and block_depto, trimmed and joined with one blank
    FooterText,  // the footer text read from the configuration at start-up
};

enum PrintItemFlag : unsigned {
    NoFlags = 0,
    OwnerPart = 1u << 0, // left out of a block printed without the owner's data
    Footer = 1u << 1,    // printed only on blocks that carry the footer
};

// One printed item: its row offset inside the block and its X, both in twips.
struct PrintItem {
    int rowOffset;
    int x;
    PrintValue value;
    store::Field field; // meaningful for PrintValue::Field only
    PrintFont font;
    unsigned flags;
};

// Where a block of the layout stands below the top offset, and which of the optional items it
// carries.
struct PrintBlock {
    int offset;
    bool withFooter;
    bool ownerPartOptional; // the owner part is printed only when the user asked for a full print
};

struct CardLayout {
    std::span<const PrintItem> items;
    std::span<const PrintBlock> blocks;
};

// Three blocks a sheet; the third carries the owner's data only on a full print and no footer.
const CardLayout& threeBlockLayout();
// One block with its own positions, the family group included.
const CardLayout& quickLayout();

// The offsets of the whole layout on the page: `top` is added to every Y, `left` to every X.
struct PrintOffsets {
    double top = 2800;
    double left = 0;
};

// The text an item prints for this card; empty when the field holds no value.
QString printedText(const PrintItem& item, const store::Card& card, const QString& footerText);

// Prints the layout for one card on the surface and ends the document. A field that holds no
// value prints nothing. `fullPrint` false leaves the owner part out of the blocks where it is
// optional.
store::Status printCardLayout(const CardLayout& layout, const store::Card& card,
                              const QString& footerText, bool fullPrint,
                              const PrintOffsets& offsets, PrintSurface& surface);

} // namespace output
