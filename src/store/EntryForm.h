#pragma once

#include "CardFields.h"
#include "CardStore.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <span>
#include <vector>

namespace store {

// A stored card as CargaTarjeta read it into the entry fields.
struct LoadedCard {
    RowId id = kNoRow; // kNoRow: the fields show no stored card
    Card card;
};

// What the commands of the subsystems (editing, browse, output) need of the main window, with no
// widget in sight: the entry fields by card field, the command buttons and the grid by their
// names, and the window's entry flag. The main window implements it; commands never reach the
// widgets any other way.
class EntryForm {
public:
    virtual ~EntryForm() = default;

    // --- entry fields, addressed by card field (direccion_completa has no control) ---
    // Text boxes and combos: their text. Date pickers: the date as "dd/MM/yyyy", or, when the
    // picker shows "no date" and the user has not typed or picked one, the text it was loaded
    // with; a picker the user emptied gives the empty text.
    // Sexo: "M" when Option1 is selected, "H" when Option2 is, empty when neither.
    virtual QString fieldText(Field field) const = 0;
    // Loads a value the way CargaTarjeta does: whole (entry limits apply to typing only); a date
    // picker takes the stored text (a text that is no date shows "no date"); sexo selects Option1
    // for "M", Option2 for anything else, and neither for a null QString.
    virtual void setFieldText(Field field, const QString& text) = 0;
    // Whether the field's text may be saved as it stands: false only for a date box holding typed
    // text that is no date (an untouched stored text that is no date is accepted). A form whose
    // date fields can hold nothing but a date or their stored text keeps this answer.
    virtual bool fieldAccepted(Field) const { return true; }
    virtual void setFieldDate(Field field, const QDate& date) = 0; // date pickers only
    virtual void setFieldEnabled(Field field, bool enabled) = 0;   // sexo: both options
    virtual bool fieldEnabled(Field field) const = 0;
    virtual void focusField(Field field) = 0; // sexo: Option1
    virtual void selectFieldText(Field field) = 0;
    virtual bool fieldHasFocus(Field field) const = 0;

    // --- command buttons and search buttons, addressed by objectName ("cmdAgregar", …) ---
    virtual QString buttonCaption(const QString& button) const = 0;
    virtual void setButtonCaption(const QString& button, const QString& caption) = 0;
    virtual void setButtonEnabled(const QString& button, bool enabled) = 0;
    virtual bool buttonEnabled(const QString& button) const = 0;

    // --- the grid: card row r is 1-based as in the original (row 0 is the header) ---
    virtual int gridRows() const = 0;            // card rows + 1
    virtual int gridCurrentRow() const = 0;      // 0 when no card row is current
    virtual void setGridCurrentRow(int row) = 0; // also loads the card (CargaTarjeta)
    virtual QString gridCurrentCode() const = 0; // text of column 1 of the current row
    // A row with the card's values; `id` is the stored card's, so that the row can be found and
    // listed again.
    virtual void gridAppendCard(const Card& card, RowId id) = 0;
    virtual void gridReplaceCard(int row, const Card& card) = 0;
    virtual void gridRemoveRow(int row) = 0;
    virtual void setGridEnabled(bool enabled) = 0;
    virtual bool gridEnabled() const = 0;
    // Replaces every card row with the cards of these ids, in this order: the grid is reset to
    // its header (LlenaGrilla) and one row is shown per id; an empty list leaves the header only.
    // The current row is 0 afterwards and no card is loaded. Ids no longer stored are left out.
    // Over a large registry the grid reads the cards of the rows it shows, not all at once.
    // The ids are taken over: a search's million ids are not held twice.
    virtual void gridShowRows(std::vector<RowId> ids) = 0;
    // The ids of the stored cards the card rows show, in grid order, so that a listing can be put
    // back later with gridShowRows. Empty when the grid cannot tell them.
    virtual std::vector<RowId> gridRowIds() const { return {}; }
    // Lists every stored card in stored order, as at start-up; the current row is 0 afterwards.
    // `keepRow`, when given, is set to the grid row of card `keep` (0 when it is not listed).
    virtual Status gridShowStored(const CardStore& cards, RowId keep, int* keepRow) {
        std::vector<RowId> ids;
        if (const Status status = cards.rowIds(Order::Stored, &ids); !status)
            return status;
        gridShowRows(ids);
        if (keepRow) {
            const auto at = std::lower_bound(ids.begin(), ids.end(), keep);
            *keepRow = at != ids.end() && *at == keep ? int(at - ids.begin()) + 1 : 0;
        }
        return Status();
    }
    // Whether the card rows are such a listing read a page at a time from the store rather than
    // a list of ids (a registry on a server): gridRowIds() cannot tell them then, and the grid
    // follows other programs' writes with gridFollowStored.
    virtual bool gridListsStored() const { return false; }
    // Other programs' writes applied to that listing: the cards `written` (ascending ids), of
    // which `stored` (ascending too) are still stored, the store then holding `count` cards.
    // False when the listing must be read again.
    virtual bool gridFollowStored(std::span<const RowId> /*written*/,
                                  std::span<const std::pair<RowId, Card>> /*stored*/,
                                  qint64 /*count*/) {
        return false;
    }

    // Where the grid's view stands: its top row, and whether the current row is in sight. Other
    // programs' writes are followed under the user's eyes; the view is put back afterwards, so
    // that a user looking further down the grid is not taken back to the current card.
    struct GridView {
        int top = 0; // 0 with no card rows
        bool currentShown = false;
    };
    virtual GridView gridView() const { return {}; }
    virtual void restoreGridView(const GridView& /*view*/) {}

    // --- search mode ---
    // Shows btnBuscarOK and btnBuscarFin and places and shows Frame1 and Frame2 over the entry
    // area (true), or hides all four (false).
    virtual void setSearchControlsVisible(bool visible) = 0;

    // LlenaGrilla: the grid reset to its header row only (searches rebuild the grid with it).
    virtual void llenaGrilla() {
        while (gridRows() > 1)
            gridRemoveRow(gridRows() - 1);
    }
    // Appends the stored cards with these ids in this order, as gridAppendCard would one by one.
    // The main window keeps only the ids and reads values when rows are shown, so that listing
    // every card of a large registry stays cheap; this fallback appends copies.
    virtual Status gridAppendStored(const CardStore& cards, std::span<const RowId> ids) {
        constexpr size_t kChunk = 512;
        std::vector<std::pair<RowId, Card>> read;
        for (size_t at = 0; at < ids.size(); at += kChunk) {
            read.clear();
            const Status status =
                cards.readCards(ids.subspan(at, std::min(kChunk, ids.size() - at)), &read);
            if (!status)
                return status;
            for (const auto& entry : read)
                gridAppendCard(entry.second, entry.first);
        }
        return Status();
    }

    // --- window state and routines ---
    virtual bool enEdicion() const = 0;
    virtual void setEnEdicion(bool on) = 0;
    virtual void modoConsulta() = 0; // back to browse mode
    virtual void cargaTarjeta() = 0; // reload the current grid row's card into the fields
    // The card the fields were last loaded with, as it was stored then: what the user saw, for
    // telling whether another program changed or deleted it meanwhile. A form that does not keep
    // it answers "none", and the commands then skip that comparison.
    virtual LoadedCard loadedCard() const { return {}; }
    // The stored card whose values the entry fields show, as the last CargaTarjeta loaded it;
    // kNoRow when they show none. Edit, delete and printing act on this card, never on whatever
    // text stands in the code box.
    virtual RowId shownCardId() const = 0;
    virtual void ocultaListas() = 0; // hide every type-ahead list
};

} // namespace store
