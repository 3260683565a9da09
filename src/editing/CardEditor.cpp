#include "CardEditor.h"

#include <array>

namespace editing {

using store::CardField;
using store::ControlKind;
using store::Field;
using store::Status;

namespace {

const QString kAgregar = QStringLiteral("cmdAgregar");
const QString kCopiar = QStringLiteral("cmdCopiar");
const QString kEditar = QStringLiteral("cmdEditar");
const QString kSalir = QStringLiteral("cmdSalir");

// The ten command buttons along the bottom of the window.
const std::array<QString, 10> kCommandButtons{QStringLiteral("cmdListado"),
                                              QStringLiteral("cmdImprimir"),
                                              QStringLiteral("Command1"),
                                              QStringLiteral("cmdExcel"),
                                              QStringLiteral("cmdBuscar"),
                                              kAgregar,
                                              kEditar,
                                              kCopiar,
                                              QStringLiteral("cmdEliminar"),
                                              kSalir};

const QString kOkCaption = QStringLiteral("&OK");
const QString kCancelCaption = QStringLiteral("&Cancela");

const QString kDuplicate = QStringLiteral("Codigo Repetido\r\nReintente...");
const QString kRecordNotFound = QStringLiteral(" ! Registro No Encontrado !");
const QString kItemNotFound = QStringLiteral(" ! Item No Encontrado !");

struct Required {
    Field field;
    const char16_t* message;
};

// The required fields in the order they are checked; the first empty one stops the save. The
// code is checked only when a new card is stored, and the name's message differs by command.
const std::array<Required, 7> kRequired{{
    {store::Codigo, u"Ingrese Codigo Microchip"},
    {store::Lugar, u"Ingrese Lugar"},
    {store::FichaClinica, u"Ingrese Nro Ficha"},
    {store::Implantador, u"Ingrese Implantador"},
    {store::NombreAnimal, nullptr},
    {store::Especie, u"Ingrese Especie"},
    {store::Raza, u"Ingrese Raza"},
}};

// A copy starts a card for another animal of the same owner: what identifies the animal is
// emptied (the dates go to today), place, implanter, owner, address, contact and sex stay.
bool emptiedOnCopy(Field f) {
    switch (f) {
    case store::Codigo:
    case store::FichaClinica:
    case store::NombreAnimal:
    case store::Especie:
    case store::Raza:
    case store::Color:
    case store::EReproductivo:
    case store::Tamano:
        return true;
    default:
        return false;
    }
}

// Visits the fields in the order a save writes them into the copy buffer: record order, with the
// composed address right after its three parts and the sex last.
template <typename Write> void forEachWrite(Write write) {
    for (const CardField& f : store::cardFields()) {
        if (f.field == store::Sexo || f.field == store::DireccionCompleta)
            continue;
        write(f.field);
        if (f.field == store::BlockDepto)
            write(store::DireccionCompleta);
    }
    write(store::Sexo);
}

// Says which date field holds a text that is no date.
QString notADate(Field f) {
    QString which;
    if (f == store::FechaAtencion)
        which = QStringLiteral("La fecha de atención");
    else if (f == store::FechaNacimiento)
        which = QStringLiteral("La fecha de nacimiento");
    else
        which = QStringLiteral("«%1»").arg(store::cardField(f).label);
    return which + QStringLiteral(" no es una fecha válida (dd/mm/aaaa).");
}

const QString kChangedWhileEditing =
    QStringLiteral("Otro programa modificó esta tarjeta mientras usted la editaba. Cambió: %1.\n\n"
                   "¿Guardar de todos modos lo que usted ingresó, reemplazando esos cambios?");
const QString kChangedWhileEditingTitle = QStringLiteral("Tarjeta modificada por otro programa");
const QString kChangedBeforeDelete =
    QStringLiteral("Otro programa modificó esta tarjeta después de que se mostró. Cambió: %1.\n\n"
                   "¿Eliminarla de todos modos?");

// The fields of a card shown in the window whose stored value differs between two versions of
// it, by their grid header. Null and an empty text both show as an empty field.
QStringList changedFields(const store::Card& before, const store::Card& after) {
    QStringList names;
    for (const CardField& f : store::cardFields()) {
        if (f.kind == ControlKind::None)
            continue;
        const QString& a = before[f.field];
        const QString& b = after[f.field];
        if (a.isEmpty() && b.isEmpty())
            continue;
        if (a != b)
            names.append(f.gridHeader.isEmpty() ? f.name.toString() : f.gridHeader.toString());
    }
    return names;
}

QString keptTypingNote(const QString& message) {
    return message +
           QStringLiteral("\n\nLa tarjeta no se guardó; los datos ingresados siguen en pantalla.");
}

// The failure, what it means for the typing, and the engine's own words last.
QString keptTypingNote(const Status& status) {
    return status.summary() +
           QStringLiteral("\n\nLa tarjeta no se guardó; los datos ingresados siguen en pantalla.") +
           status.detailLine();
}

} // namespace

CardEditor::CardEditor(store::EntryForm& form, store::CardStore& cards,
                       store::MessageLayer& messages, const store::Clock& clock)
    : form_(form), ownCursor_(cards.openTable()), cursor_(*ownCursor_), messages_(messages),
      clock_(clock) {}

CardEditor::CardEditor(store::EntryForm& form, store::TableCursor& cursor,
                       store::MessageLayer& messages, const store::Clock& clock)
    : form_(form), cursor_(cursor), messages_(messages), clock_(clock) {}

CardEditor::~CardEditor() = default;

void CardEditor::clickAgregar() {
    if (form_.buttonCaption(kAgregar) == QStringLiteral("&Agregar"))
        enterEntryMode(Start::Add, kAgregar);
    else
        grabaTarjetaNueva();
}

void CardEditor::clickCopiar() {
    if (form_.buttonCaption(kCopiar) != QStringLiteral("&Copiar")) {
        // The second click stores a new card, which needs no card to copy from: even when
        // another program emptied the store meanwhile, what was typed is saved, not ignored.
        grabaTarjetaNueva();
        return;
    }
    // With no card there is nothing to copy from, and the click does nothing.
    Status status;
    const qint64 count = cursor_.recordCount(&status);
    if (!status) {
        messages_.notice(status.message());
        return;
    }
    if (count > 0)
        enterEntryMode(Start::Copy, kCopiar);
}

void CardEditor::clickEditar() {
    if (form_.buttonCaption(kEditar) == QStringLiteral("&Editar"))
        enterEntryMode(Start::Edit, kEditar);
    else
        grabaTarjetaEditada();
}

void CardEditor::gridEnter() {
    // Enter reaches the grid in search mode too, where the edit button is disabled: the key does
    // only what a click on that button could do.
    if (form_.buttonEnabled(kEditar))
        clickEditar();
}

void CardEditor::enterEntryMode(Start start, const QString& ownButton) {
    form_.setEnEdicion(true);
    // The code is the key of the card: an edit shows it but never changes it.
    for (const CardField& f : store::cardFields()) {
        if (f.kind != ControlKind::None)
            form_.setFieldEnabled(f.field, !(start == Start::Edit && f.field == store::Codigo));
    }
    form_.setButtonCaption(ownButton, kOkCaption);
    form_.setButtonCaption(kSalir, kCancelCaption);
    for (const QString& button : kCommandButtons) {
        if (button != ownButton && button != kSalir)
            form_.setButtonEnabled(button, false);
    }
    // The save rewrites or appends relative to the current row, which must not move meanwhile.
    form_.setGridEnabled(false);

    if (start == Start::Edit) {
        // What the user is about to change, as it was stored when it was shown: the save
        // compares it with the card as stored then, to keep another program's change meanwhile
        // from being overwritten unseen.
        editBase_ = form_.loadedCard();
        form_.focusField(store::FechaAtencion);
        return;
    }
    if (start == Start::Copy)
        form_.focusField(store::FechaAtencion);
    const QDate today = clock_.today();
    for (const CardField& f : store::cardFields()) {
        switch (f.kind) {
        case ControlKind::Date:
            form_.setFieldDate(f.field, today);
            break;
        case ControlKind::Text:
        case ControlKind::Combo:
            if (start == Start::Add || emptiedOnCopy(f.field))
                form_.setFieldText(f.field, QStringLiteral(""));
            break;
        case ControlKind::Sex:
            if (start == Start::Add)
                form_.setFieldText(f.field, QStringLiteral("M"));
            break;
        case ControlKind::None:
            break;
        }
    }
    form_.focusField(store::Codigo);
}

bool CardEditor::validaTarjeta(bool incluyeCodigo) {
    for (const Required& r : kRequired) {
        if (r.field == store::Codigo && !incluyeCodigo)
            continue;
        if (!form_.fieldText(r.field).isEmpty())
            continue;
        QString message;
        if (r.message)
            message = QString::fromUtf16(r.message);
        else
            message = incluyeCodigo ? QStringLiteral("Ingrese Nombre Animnal")
                                    : QStringLiteral("Ingrese Nombre Animal");
        messages_.notice(message);
        form_.focusField(r.field);
        return false;
    }
    // A date typed so that it is no date is never saved as some other date, nor as typed.
    for (const CardField& f : store::cardFields()) {
        if (f.kind != ControlKind::Date || form_.fieldAccepted(f.field))
            continue;
        messages_.notice(keptTypingNote(notADate(f.field)));
        form_.focusField(f.field);
        form_.selectFieldText(f.field);
        return false;
    }
    return true;
}

store::Card CardEditor::cardFromForm() const {
    store::Card card;
    for (const CardField& f : store::cardFields()) {
        switch (f.kind) {
        case ControlKind::Sex:
            // Option1 means male; Option2 and no choice at all both store "H".
            card[f.field] =
                form_.fieldText(f.field) == u"M" ? QStringLiteral("M") : QStringLiteral("H");
            break;
        case ControlKind::Date:
            // An un-picked "no date" picker gives back the text it was loaded with, which is
            // written back as it was (a null text stays Null).
            card[f.field] = form_.fieldText(f.field);
            break;
        case ControlKind::Text:
        case ControlKind::Combo: {
            const QString text = form_.fieldText(f.field);
            card[f.field] = text.isNull() ? QStringLiteral("") : text;
            break;
        }
        case ControlKind::None:
            break;
        }
    }
    card[store::DireccionCompleta] = store::composeAddress(
        card[store::Direccion], card[store::NumeroDepto], card[store::BlockDepto]);
    return card;
}

void CardEditor::refuseDuplicate() {
    messages_.notice(kDuplicate);
    form_.selectFieldText(store::Codigo);
    form_.focusField(store::Codigo);
}

void CardEditor::grabaTarjetaNueva() {
    if (!validaTarjeta(true))
        return;
    cursor_.setIndex(store::kPrimaryKey);
    Status status = cursor_.seek(form_.fieldText(store::Codigo));
    if (!status) {
        messages_.notice(keptTypingNote(status));
        return;
    }
    if (!cursor_.noMatch()) {
        refuseDuplicate();
        return;
    }

    const store::Card card = cardFromForm();
    cursor_.setLockEdits(false);
    cursor_.addNew();
    forEachWrite([&](Field f) { cursor_.setField(f, card[f]); });
    status = cursor_.updateUnlessChanged();
    if (!status) {
        cursor_.cancelUpdate();
        // Another program may have stored the code after the seek; the unique index refuses it.
        if (status.kind() == store::ErrorKind::Duplicate)
            refuseDuplicate();
        else
            messages_.notice(keptTypingNote(status));
        return;
    }
    const Status positioned = cursor_.setBookmark(cursor_.lastModified());

    form_.setGridEnabled(true);
    form_.gridAppendCard(card, cursor_.lastModified());
    form_.setGridCurrentRow(form_.gridRows() - 1);
    finishSave();
    if (!positioned)
        messages_.notice(positioned.message());
}

void CardEditor::grabaTarjetaEditada() {
    if (!validaTarjeta(false))
        return;
    // The card changed is the one the fields show, found by its id: whatever the code box holds,
    // another card is never written over.
    const int row = form_.gridCurrentRow();
    const store::RowId id = form_.shownCardId();
    if (id == store::kNoRow || row < 1) {
        messages_.notice(kRecordNotFound);
        return;
    }
    cursor_.setIndex(store::kPrimaryKey);
    Status status = cursor_.setBookmark(id);
    if (!status) {
        messages_.notice(status.kind() == store::ErrorKind::NotFound ? kRecordNotFound
                                                                     : keptTypingNote(status));
        return;
    }
    if (!goOnDespiteChanges(editBase_, kRecordNotFound, kChangedWhileEditing,
                            kChangedWhileEditingTitle))
        return; // entry mode and what was typed stay; Cancela shows the stored card

    const store::Card card = cardFromForm();
    cursor_.setLockEdits(false);
    // The comparison above may be overtaken by another program's write committed before this
    // save takes the card: the save compares again once the card is locked, and asks again.
    for (int attempt = 0;; ++attempt) {
        const store::Card before = cursor_.current();
        status = cursor_.edit();
        if (status) {
            forEachWrite([&](Field f) {
                if (f != store::Codigo)
                    cursor_.setField(f, card[f]);
            });
            status = cursor_.updateUnlessChanged();
        }
        if (status.kind() != store::ErrorKind::Changed || attempt >= 3)
            break;
        cursor_.cancelUpdate();
        if (!goOnDespiteChanges({id, before}, kRecordNotFound, kChangedWhileEditing,
                                kChangedWhileEditingTitle))
            return; // entry mode and what was typed stay
    }
    if (!status) {
        cursor_.cancelUpdate();
        if (status.kind() == store::ErrorKind::NotFound)
            messages_.notice(kRecordNotFound);
        else
            messages_.notice(keptTypingNote(status));
        return;
    }
    const Status positioned = cursor_.setBookmark(cursor_.lastModified());

    // The row shows the card as stored, its own code included.
    store::Card shown = card;
    shown[store::Codigo] = cursor_.field(store::Codigo);
    form_.gridReplaceCard(row, shown);
    finishSave();
    if (!positioned)
        messages_.notice(positioned.message());
}

bool CardEditor::goOnDespiteChanges(const store::LoadedCard& seen, const QString& gone,
                                    const QString& question, const QString& title) {
    // Nothing to compare with: the fields were not loaded from this card.
    if (seen.id == store::kNoRow || seen.id != cursor_.bookmark())
        return true;
    // The card shown was deleted and its id now holds another card (an id freed by deleting the
    // last card is given to the next one added): that other card is never touched.
    if (seen.card[store::Codigo] != cursor_.current()[store::Codigo]) {
        messages_.notice(gone);
        return false;
    }
    const QStringList changed = changedFields(seen.card, cursor_.current());
    if (changed.isEmpty())
        return true;
    return messages_.askYesNo(question.arg(changed.join(QStringLiteral(", "))), title,
                              store::MessageLayer::Answer::No) == store::MessageLayer::Answer::Yes;
}

bool CardEditor::confirmDiscard() {
    if (form_.buttonCaption(kSalir) != kCancelCaption)
        return true; // not entering a card: nothing typed to lose
    return messages_.askYesNo(QStringLiteral("¿Descartar los datos ingresados?"),
                              store::kDefaultTitle,
                              store::MessageLayer::Answer::No) == store::MessageLayer::Answer::Yes;
}

void CardEditor::finishSave() {
    form_.modoConsulta();
    form_.setEnEdicion(false);
}

void CardEditor::clickEliminar() {
    // The question comes first and is asked even when there is nothing to delete.
    const auto answer =
        messages_.askYesNo(QStringLiteral("Seguro Elimina?"), QStringLiteral("Elimina Registro ?"),
                           store::MessageLayer::Answer::Yes);
    Status status;
    const qint64 count = cursor_.recordCount(&status);
    if (!status) {
        messages_.notice(status.message());
        return;
    }
    if (count > 0 && answer == store::MessageLayer::Answer::Yes) {
        // The card deleted is the one the fields show, found by its id. With no grid row current
        // no card is shown, and removing "the current row" would take the header.
        const int row = form_.gridCurrentRow();
        const store::RowId id = form_.shownCardId();
        if (id == store::kNoRow || row < 1) {
            messages_.notice(kItemNotFound);
            return;
        }
        cursor_.setIndex(store::kPrimaryKey);
        status = cursor_.setBookmark(id);
        if (!status) {
            messages_.notice(status.kind() == store::ErrorKind::NotFound ? kItemNotFound
                                                                         : status.message());
            return;
        }
        if (!goOnDespiteChanges(form_.loadedCard(), kItemNotFound, kChangedBeforeDelete,
                                QStringLiteral("Elimina Registro ?"))) {
            form_.modoConsulta(); // shows the card as it is stored now
            return;
        }
        cursor_.setLockEdits(false);
        // As for a save: a change committed after the comparison above is compared again once
        // the card is locked, and asked about again.
        for (int attempt = 0;; ++attempt) {
            const store::Card before = cursor_.current();
            status = cursor_.removeUnlessChanged();
            if (status.kind() != store::ErrorKind::Changed || attempt >= 3)
                break;
            if (!goOnDespiteChanges({id, before}, kItemNotFound, kChangedBeforeDelete,
                                    QStringLiteral("Elimina Registro ?"))) {
                form_.modoConsulta(); // shows the card as it is stored now
                return;
            }
        }
        if (!status) {
            messages_.notice(status.kind() == store::ErrorKind::NotFound ? kItemNotFound
                                                                         : status.message());
            return;
        }
        form_.gridRemoveRow(row);
        Status counted;
        if (cursor_.recordCount(&counted) > 0)
            counted = cursor_.moveFirst();
        if (!counted)
            messages_.notice(counted.message());
    }
    form_.modoConsulta();
}

} // namespace editing
