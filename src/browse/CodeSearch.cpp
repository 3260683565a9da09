#include "CodeSearch.h"

#include "CardFields.h"

#include <algorithm>

namespace browse {

SearchResult findByCode(const store::CardStore& store, const QString& typed) {
    SearchResult result;
    const QString code = store::trimSpaces(typed);
    if (code.isEmpty()) {
        result.status = store.rowIds(store::Order::Stored, &result.ids);
        if (!result.status)
            result.ids.clear();
        return result;
    }
    store::RowId id = store::kNoRow;
    result.status = store.findCode(code, &id);
    if (result.status && id != store::kNoRow)
        result.ids.push_back(id);
    return result;
}

const std::vector<QString>& commandButtons() {
    static const std::vector<QString> names = {
        QStringLiteral("cmdAgregar"),  QStringLiteral("cmdEditar"), QStringLiteral("cmdCopiar"),
        QStringLiteral("cmdEliminar"), QStringLiteral("cmdSalir"),  QStringLiteral("cmdListado"),
        QStringLiteral("cmdImprimir"), QStringLiteral("cmdExcel"),  QStringLiteral("cmdBuscar"),
        QStringLiteral("Command1"),
    };
    return names;
}

const std::vector<QString>& recordButtons() {
    static const std::vector<QString> names = {
        QStringLiteral("cmdEditar"),  QStringLiteral("cmdEliminar"), QStringLiteral("cmdCopiar"),
        QStringLiteral("cmdListado"), QStringLiteral("cmdImprimir"), QStringLiteral("Command1"),
        QStringLiteral("cmdBuscar"),
    };
    return names;
}

const std::vector<QString>& shownCardButtons() {
    static const std::vector<QString> names = {
        QStringLiteral("cmdEditar"),   QStringLiteral("cmdEliminar"), QStringLiteral("cmdCopiar"),
        QStringLiteral("cmdImprimir"), QStringLiteral("Command1"),
    };
    return names;
}

CodeSearch::CodeSearch(const store::CardStore& store, store::EntryForm& form,
                       store::MessageLayer& messages)
    : store_(store), form_(form), messages_(messages) {}

void CodeSearch::open() {
    for (const QString& button : commandButtons())
        form_.setButtonEnabled(button, false);
    form_.setSearchControlsVisible(true);
    form_.setFieldText(store::Codigo, QStringLiteral(""));
    form_.setFieldEnabled(store::Codigo, true);
    form_.focusField(store::Codigo);
    emptied_ = false;
    before_.clear();
}

void CodeSearch::run() {
    // An empty code lists every card: as at start-up, a page at a time where the grid can.
    const bool all = store::trimSpaces(form_.fieldText(store::Codigo)).isEmpty();
    SearchResult result;
    if (all)
        result.status = form_.gridShowStored(store_, store::kNoRow, nullptr);
    else
        result = findByCode(store_, form_.fieldText(store::Codigo));
    if (!result.status) {
        // Saying "not found" here would be wrong: the card may well be stored. Keep the grid as
        // it was so the user can close the search and go on working.
        messages_.notice(result.status.message());
        form_.focusField(store::Codigo);
        return;
    }
    if (!all && result.ids.empty() && !emptied_) {
        // Kept so that closing the search can list these again.
        beforeStored_ = form_.gridListsStored();
        before_ = beforeStored_ ? std::vector<store::RowId>() : form_.gridRowIds();
        beforeRow_ = form_.gridCurrentRow();
        emptied_ = true;
    }
    if (!all)
        form_.gridShowRows(result.ids);
    if (form_.gridRows() < 2) {
        messages_.notice(QStringLiteral("CODIGO NO ENCONTRADO"));
        form_.focusField(store::Codigo);
        return;
    }
    leave();
    emptied_ = false;
    before_.clear();
    form_.cargaTarjeta();
    form_.setGridCurrentRow(1);
    enableCommands();
}

void CodeSearch::close() {
    leave();
    if (form_.gridRows() < 2 && emptied_) {
        std::vector<store::RowId> ids = std::move(before_);
        int row = beforeRow_;
        if (ids.empty()) {
            // Every card in stored order: what the grid listed, or, when it could not tell,
            // from the first card.
            if (!beforeStored_)
                row = 1;
            if (const store::Status status = form_.gridShowStored(store_, store::kNoRow, nullptr);
                !status)
                messages_.notice(status.message());
        } else {
            form_.gridShowRows(ids);
        }
        form_.setGridCurrentRow(std::clamp(row, 1, std::max(1, form_.gridRows() - 1)));
    }
    emptied_ = false;
    beforeStored_ = false;
    before_.clear();
    form_.cargaTarjeta();
    enableCommands();
}

void CodeSearch::leave() {
    form_.setSearchControlsVisible(false);
    form_.setFieldEnabled(store::Codigo, false);
}

void CodeSearch::enableCommands() {
    for (const QString& button : commandButtons())
        form_.setButtonEnabled(button, true);
    // With no card stored, the commands that act on a card stay off, as in browse mode: they
    // would have no card to work on. With cards stored but none shown (an empty grid), those
    // that act on the shown card stay off.
    // A card shown was just read from the store, which then holds at least one: only without
    // one is the store asked.
    if (form_.shownCardId() != store::kNoRow)
        return;
    store::Status status;
    if (store_.recordCount(&status) < 1) {
        for (const QString& button : recordButtons())
            form_.setButtonEnabled(button, false);
    } else {
        for (const QString& button : shownCardButtons())
            form_.setButtonEnabled(button, false);
    }
}

} // namespace browse
