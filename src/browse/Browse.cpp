#include "Browse.h"

#include "CardGrid.h"

#include <QLabel>

namespace browse {

const QStringList& typeAheadListNames() {
    static const QStringList names{
        QStringLiteral("lstLugar"),       QStringLiteral("lstColor"),
        QStringLiteral("lstImplantador"), QStringLiteral("lstPropietario"),
        QStringLiteral("lstRut"),         QStringLiteral("lstTelefono1"),
        QStringLiteral("lstCel"),         QStringLiteral("lstDomicilio"),
        QStringLiteral("lstContacto"),    QStringLiteral("lstTelefono2"),
    };
    return names;
}

QString positionText(int currentRow, int cardRows) {
    return QString::number(currentRow) + QStringLiteral(" de ") + QString::number(cardRows) +
           QStringLiteral(" Mascotas registradas");
}

namespace {

// The order in which the fields are emptied and then loaded.
constexpr store::Field kLoadOrder[] = {
    store::FechaAtencion, store::Lugar,        store::Codigo,
    store::FichaClinica,  store::NombreAnimal, store::FechaNacimiento,
    store::Especie,       store::Raza,         store::Color,
    store::EReproductivo, store::Tamano,       store::GrupoFam,
    store::Propietario,   store::Rut,          store::Telefono1,
    store::Cel,           store::Direccion,    store::NumeroDepto,
    store::BlockDepto,    store::Email,        store::Contacto,
    store::Telefono2,     store::Implantador,
};

} // namespace

QString noRegistryText() {
    return QStringLiteral("Sin registro de tarjetas abierto");
}

store::RowId cargaTarjeta(const BrowseContext& c) {
    CardGrid& grid = *c.grid;
    store::EntryForm& form = *c.form;
    if (c.loaded)
        *c.loaded = {};
    if (c.positionLabel)
        c.positionLabel->setText(c.table ? positionText(grid.currentRow(), grid.rows() - 1)
                                         : noRegistryText());
    grid.setCurrentColumn(1);

    const QDate today = c.clock->today();
    form.setFieldDate(store::FechaAtencion, today);
    form.setFieldDate(store::FechaNacimiento, today);
    for (store::Field f : kLoadOrder) {
        if (store::cardField(f).kind != store::ControlKind::Date)
            form.setFieldText(f, QString(QLatin1StringView("")));
    }
    form.setFieldText(store::Sexo, QString()); // neither option selected

    const auto finish = [&] {
        form.ocultaListas();
    };
    if (!c.table) {
        finish();
        return store::kNoRow;
    }
    // The header row holds no card; an empty table finds nothing either, without the cost of
    // counting every card on each move of the grid.
    if (grid.currentRow() < 1) {
        finish();
        return store::kNoRow;
    }
    store::Status status;
    c.table->setIndex(store::kPrimaryKey);
    status = c.table->seek(grid.currentCellText());
    if (!status) {
        if (c.messages)
            c.messages->notice(status.message());
        finish();
        return store::kNoRow;
    }
    if (c.table->noMatch()) {
        finish();
        return store::kNoRow;
    }
    for (store::Field f : kLoadOrder) {
        const QString value = c.table->field(f);
        form.setFieldText(f, value.isNull() ? QString(QLatin1StringView("")) : value);
    }
    form.setFieldText(store::Sexo, c.table->field(store::Sexo) == u"M" ? QStringLiteral("M")
                                                                       : QStringLiteral("H"));
    if (c.loaded)
        *c.loaded = {c.table->bookmark(), c.table->current()};
    finish();
    return c.table->bookmark();
}

store::RowId currentCellChanged(const BrowseContext& c, store::RowId shown) {
    if (c.positionLabel)
        c.positionLabel->setText(QString());
    if (c.grid->rows() > 1)
        return cargaTarjeta(c);
    return shown;
}

store::Status fillGrid(CardGrid& grid, const store::CardStore& cards, store::Order order) {
    if (order == store::Order::Stored) {
        const store::Status status = grid.showStored(cards);
        if (status && grid.rows() > 1)
            grid.setCurrentRow(1);
        return status;
    }
    std::vector<store::RowId> ids;
    const store::Status status = cards.rowIds(order, &ids);
    if (!status)
        return status;
    grid.appendIds(ids);
    if (grid.rows() > 1)
        grid.setCurrentRow(1);
    return status;
}

} // namespace browse
