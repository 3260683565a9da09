#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Clock.h"
#include "EntryForm.h"

#include <array>
#include <map>
#include <vector>

// The main window reduced to what store::EntryForm promises, for testing commands without
// widgets: field texts with enabled and focus flags, buttons by name, the grid as a list of
// cards, and browse mode restored the way the window does it (captions, enabling, reloading the
// current row's card from the store).
class FakeEntryForm : public store::EntryForm {
public:
    struct Button {
        QString caption;
        bool enabled = true;
    };

    FakeEntryForm(store::CardStore& cards, const store::Clock& clock)
        : cards_(cards), clock_(clock) {
        for (const auto& [name, caption] : kBrowseCaptions)
            buttons[name] = {caption, true};
    }

    // Fills the grid with every stored card and enters browse mode on the first row.
    void loadGrid(store::Order order = store::Order::Stored) {
        grid.clear();
        (void)cards_.forEachCard(order, [this](store::RowId, const store::Card& card) {
            grid.push_back(card);
            return true;
        });
        current = grid.empty() ? 0 : 1;
        modoConsulta();
    }
    // What the user does: types over a field's text (for sexo: "M" picks Option1, "H" Option2).
    void type(store::Field f, const QString& text) { text_[f] = text; }
    QString gridCell(int row, store::Field f) const { return grid.at(row - 1)[f]; }

    QString fieldText(store::Field f) const override { return text_[f]; }
    void setFieldText(store::Field f, const QString& text) override {
        if (f == store::Sexo)
            text_[f] = text.isNull()  ? QStringLiteral("")
                       : text == u"M" ? text
                                      : QStringLiteral("H");
        else
            text_[f] = text;
    }
    void setFieldDate(store::Field f, const QDate& date) override {
        text_[f] = date.toString(QStringLiteral("dd/MM/yyyy"));
    }
    void setFieldEnabled(store::Field f, bool on) override { enabled_[f] = on; }
    bool fieldEnabled(store::Field f) const override { return enabled_[f]; }
    void focusField(store::Field f) override { focus = f; }
    void selectFieldText(store::Field f) override { selected = f; }
    bool fieldHasFocus(store::Field f) const override { return focus == f; }

    QString buttonCaption(const QString& b) const override { return buttons.at(b).caption; }
    void setButtonCaption(const QString& b, const QString& c) override {
        buttons.at(b).caption = c;
    }
    void setButtonEnabled(const QString& b, bool on) override { buttons.at(b).enabled = on; }
    bool buttonEnabled(const QString& b) const override { return buttons.at(b).enabled; }

    int gridRows() const override { return int(grid.size()) + 1; }
    int gridCurrentRow() const override { return current; }
    void setGridCurrentRow(int row) override {
        current = row;
        cargaTarjeta();
    }
    QString gridCurrentCode() const override {
        return current > 0 ? grid[current - 1][store::Codigo] : QString();
    }
    void gridAppendCard(const store::Card& card, store::RowId) override { grid.push_back(card); }
    void gridReplaceCard(int row, const store::Card& card) override { grid.at(row - 1) = card; }
    void gridRemoveRow(int row) override {
        grid.erase(grid.begin() + (row - 1));
        current = std::min(current, int(grid.size()));
    }
    void gridShowRows(std::vector<store::RowId> ids) override {
        grid.clear();
        std::vector<std::pair<store::RowId, store::Card>> cards;
        if (cards_.readCards(ids, &cards).ok()) {
            for (auto& [id, card] : cards)
                grid.push_back(card);
        }
        current = 0;
    }
    void setSearchControlsVisible(bool visible) override { searchShown = visible; }
    void setGridEnabled(bool on) override { gridOn = on; }
    bool gridEnabled() const override { return gridOn; }

    bool enEdicion() const override { return editing; }
    void setEnEdicion(bool on) override { editing = on; }
    void modoConsulta() override {
        for (const store::CardField& f : store::cardFields())
            enabled_[f.field] = false;
        for (const auto& [name, caption] : kBrowseCaptions) {
            buttons[name].caption = caption;
            buttons[name].enabled = true;
        }
        gridOn = true;
        cargaTarjeta();
        ocultaListas();
        if (cards_.recordCount() < 1) {
            for (const char16_t* b : {u"cmdEditar", u"cmdEliminar", u"cmdCopiar", u"cmdListado",
                                      u"cmdImprimir", u"Command1", u"cmdBuscar"})
                buttons[QString::fromUtf16(b)].enabled = false;
            gridOn = false;
        }
    }
    void cargaTarjeta() override {
        for (const store::CardField& f : store::cardFields()) {
            if (f.kind == store::ControlKind::Date)
                setFieldDate(f.field, clock_.today());
            else
                text_[f.field] = QStringLiteral("");
        }
        loaded_ = {};
        shown = store::kNoRow;
        store::RowId id = store::kNoRow;
        store::Card card;
        if (current < 1 || !cards_.findCode(gridCurrentCode(), &id) || id == store::kNoRow ||
            !cards_.readCard(id, &card))
            return;
        shown = id;
        for (const store::CardField& f : store::cardFields()) {
            if (f.kind != store::ControlKind::None)
                setFieldText(f.field, card[f.field]);
        }
        loaded_ = {id, card};
    }
    store::LoadedCard loadedCard() const override { return loaded_; }
    store::RowId shownCardId() const override { return shown; }
    void ocultaListas() override { ++listsHidden; }

    std::map<QString, Button> buttons;
    std::vector<store::Card> grid; // card row r is grid[r - 1]
    int current = 0;
    store::RowId shown = store::kNoRow; // the card the last CargaTarjeta loaded
    store::LoadedCard loaded_;          // and its values as read then
    bool gridOn = true;
    bool searchShown = false;
    bool editing = false;
    int focus = -1;
    int selected = -1;
    int listsHidden = 0;

    inline static const std::map<QString, QString> kBrowseCaptions{
        {QStringLiteral("cmdListado"), QStringLiteral("Imprimir &Listado")},
        {QStringLiteral("cmdImprimir"), QStringLiteral("&Imprimir Tarjeta")},
        {QStringLiteral("Command1"), QStringLiteral("Imprimir &1")},
        {QStringLiteral("cmdExcel"), QStringLiteral("Exportar")},
        {QStringLiteral("cmdBuscar"), QStringLiteral("Buscar")},
        {QStringLiteral("cmdAgregar"), QStringLiteral("&Agregar")},
        {QStringLiteral("cmdEditar"), QStringLiteral("&Editar")},
        {QStringLiteral("cmdCopiar"), QStringLiteral("&Copiar")},
        {QStringLiteral("cmdEliminar"), QStringLiteral("El&iminar")},
        {QStringLiteral("cmdSalir"), QStringLiteral("&Salir")},
    };

private:
    store::CardStore& cards_;
    const store::Clock& clock_;
    std::array<QString, store::kFieldCount> text_;
    std::array<bool, store::kFieldCount> enabled_{};
};
