#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Clock.h"
#include "EntryForm.h"
#include "Messages.h"

#include <memory>

namespace editing {

// The add, copy, edit and delete commands of the main window. Add, copy and edit work in two
// clicks of the same button: the first puts the window into entry mode, the second (the button
// then reads "&OK") validates and saves, then returns to browse mode. Delete works in one click.
//
// The editor reaches the window only through store::EntryForm and the cards only through a
// table cursor of the store: the window's shared cursor when one is given, otherwise one of its
// own. Every store failure is shown through the message layer; a failed save leaves the window in
// entry mode with everything typed still in place.
class CardEditor {
public:
    CardEditor(store::EntryForm& form, store::CardStore& cards, store::MessageLayer& messages,
               const store::Clock& clock);
    // Works on the window's shared cursor, which must outlive the editor.
    CardEditor(store::EntryForm& form, store::TableCursor& cursor, store::MessageLayer& messages,
               const store::Clock& clock);
    ~CardEditor();
    CardEditor(const CardEditor&) = delete;
    CardEditor& operator=(const CardEditor&) = delete;

    // Click handlers of cmdAgregar, cmdCopiar, cmdEditar and cmdEliminar.
    void clickAgregar();
    void clickCopiar();
    void clickEditar();
    void clickEliminar();
    // Enter on the grid: the edit command, as a click on cmdEditar would run it.
    void gridEnter();
    // Before the window closes: while a card is being added, copied or edited, asks whether to
    // discard what was typed (No by default). True when the window may close.
    bool confirmDiscard();

    // The second click's parts. validaTarjeta shows the message and moves the focus itself;
    // incluyeCodigo is true for add and copy (code checked, "Animnal" spelling), false for edit.
    bool validaTarjeta(bool incluyeCodigo);
    void grabaTarjetaNueva();
    void grabaTarjetaEditada();

private:
    enum class Start { Add, Copy, Edit };
    void enterEntryMode(Start start, const QString& ownButton);
    store::Card cardFromForm() const;
    void refuseDuplicate();
    void finishSave();
    // Before the card found for the code shown is written or deleted: true when it is as `seen`
    // (or nothing was seen to compare with), or when the user agrees to go on over the changes
    // another program made meanwhile, which the question names.
    bool goOnDespiteChanges(const store::LoadedCard& seen, const QString& gone,
                            const QString& question, const QString& title);

    store::EntryForm& form_;
    std::unique_ptr<store::TableCursor> ownCursor_;
    store::TableCursor& cursor_;
    store::MessageLayer& messages_;
    const store::Clock& clock_;
    store::LoadedCard editBase_; // the card as loaded into the fields when the edit began
};

} // namespace editing
