#include "CodeSearch.h"

#include "CardFields.h"

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
}

void CodeSearch::run() {
    const SearchResult result = findByCode(store_, form_.fieldText(store::Codigo));
    if (!result.status) {
        // Saying "not found" here would be wrong: the card may well be stored. Keep the grid as
        // it was so the user can close the search and go on working.
        messages_.notice(result.status.message());
        form_.focusField(store::Codigo);
        return;
    }
    form_.gridShowRows(result.ids);
    if (form_.gridRows() < 2) {
        messages_.notice(QStringLiteral("CODIGO NO ENCONTRADO"));
        form_.focusField(store::Codigo);
        return;
    }
    close();
    form_.cargaTarjeta();
    form_.setGridCurrentRow(1);
}

void CodeSearch::close() {
    for (const QString& button : commandButtons())
        form_.setButtonEnabled(button, true);
    form_.setSearchControlsVisible(false);
    form_.setFieldEnabled(store::Codigo, false);
    // With no card stored, the commands that act on a card stay off, as in browse mode: they
    // would have no card to work on.
    store::Status status;
    if (store_.recordCount(&status) == 0) {
        for (const QString& button : recordButtons())
            form_.setButtonEnabled(button, false);
    }
}

} // namespace browse
