#include "CardFields.h"

#include <QStringBuilder>

namespace store {

namespace {

using K = ControlKind;
constexpr unsigned Both = CompleteExport | ShortExport;

const std::array<CardField, kFieldCount> kFields{{
    {Codigo, u"Codigo", u"Text3", K::Text, u"Código Microchip", 15, 42, 25, u"Codigo", u"MICROCHIP",
     Both},
    {FechaAtencion, u"fecha_atencion", u"DTPicker1", K::Date, u"Fecha de Atencion", 0, 0, 10,
     u"Fecha Atencion", u"FECHA IMPLANTE", Both},
    {Lugar, u"lugar", u"Text2", K::Text, u"Lugar", 35, 11, 30, u"Lugar", u"LUGAR", Both},
    {FichaClinica, u"ficha_clinica", u"Text4", K::Text, u"Nº Ficha Clínica", 10, -1, 0,
     u"Ficha Clinica", u"Nº FICHA", Both},
    {NombreAnimal, u"nombre_animal", u"Text5", K::Text, u"Datos del Animal. Nombre:", 50, 68, 50,
     u"Nombre Animal", u"NOMBRE MASCOTA", Both},
    {FechaNacimiento, u"fecha_nacimiento", u"DTPicker2", K::Date, u"Fecha de Nacimiento", 0, 170,
     10, u"Fecha Nacimiento", u"F.NAC", Both},
    {Especie, u"especie", u"cmbEspecie", K::Combo, u"Especie", 0, 181, 20, u"Especie", u"ESPECIE",
     Both},
    {Raza, u"raza", u"cmbRaza", K::Combo, u"Raza", 0, 202, 30, u"Raza", u"RAZA", Both},
    {Color, u"Color", u"Text9", K::Text, u"Color", 30, -1, 0, u"Color", u"COLOR", Both},
    {Sexo, u"sexo", u"Option1", K::Sex, u"Sexo", 1, 233, 10, u"Sexo", u"SEXO", Both},
    {EReproductivo, u"e_reproductivo", u"cmbEstadoReproductivo", K::Combo, u"Estado Reproductivo",
     0, 244, 15, u"E. Reproductivo", u"ESTADO REPROD.", Both},
    {Tamano, u"tamano", u"cmbTamano", K::Combo, u"Tamaño:", 0, -1, 0, u"Tamaño", u"TAMAÑO", Both},
    {GrupoFam, u"GrupoFam", u"Text10", K::Text, u"Grupo Fam:", 40, -1, 0, u"Grupo Fam.",
     u"GRUPO FAM.", Both},
    {Propietario, u"propietario", u"Text12", K::Text, u"Propietario", 35, 260, 50, u"Propietario",
     u"PROPIETARIO", CompleteExport},
    {Rut, u"rut", u"Text13", K::Text, u"R.U.T.", 15, 311, 10, u"Rut", u"RUT", CompleteExport},
    {Telefono1, u"telefono1", u"Text14", K::Text, u"Teléfono", 20, 475, 15, u"Telefono",
     u"TELEFONO", CompleteExport},
    {Cel, u"cel", u"Text15", K::Text, u"Cel:", 20, -1, 0, u"Cel", u"CEL", CompleteExport},
    {Direccion, u"direccion", u"Text16", K::Text, u"Domicilio", 80, 322, 50, u"Direccion",
     u"DIRECCION", CompleteExport},
    {NumeroDepto, u"numero_depto", u"Text6", K::Text, u"N°:", 80, 373, 50, u"Numero", u"N°",
     CompleteExport},
    {BlockDepto, u"block_depto", u"Text7", K::Text, u"Depto/Block:", 80, 424, 50, u"Depto/Block",
     u"DEPTO/BLOCK", CompleteExport},
    {Email, u"email", u"Text17", K::Text, u"E-mail", 30, 491, 30, u"e-mail", u"E-MAIL",
     CompleteExport},
    {Contacto, u"contacto", u"Text18", K::Text, u"Contacto Alterno", 30, 522, 50, u"Contacto",
     u"CONTACTO ALTERNO", CompleteExport},
    {Telefono2, u"telefono2", u"Text19", K::Text, u"Teléfono", 20, 573, 15, u"Telefono",
     u"TEL CONTACTO", CompleteExport},
    {Implantador, u"implantador", u"Text1", K::Text, u"Implantador:", 50, 589, 50, u"Implantador",
     u"IMPLANTADOR", ShortExport},
    {DireccionCompleta, u"direccion_completa", u"", K::None, u"", 0, -1, 0, u"", u"", NotExported},
}};

} // namespace

std::span<const CardField> cardFields() {
    return kFields;
}

const CardField& cardField(Field f) {
    return kFields[static_cast<size_t>(f)];
}

std::optional<Field> fieldByName(QStringView name) {
    for (const CardField& f : kFields) {
        if (f.name.compare(name, Qt::CaseInsensitive) == 0)
            return f.field;
    }
    return std::nullopt;
}

std::optional<Field> fieldByControl(QStringView control) {
    if (control == u"Option2")
        return Sexo;
    for (const CardField& f : kFields) {
        if (!f.control.isEmpty() && f.control == control)
            return f.field;
    }
    return std::nullopt;
}

QString sexWord(const QString& sexo) {
    return sexo == u"M" ? QStringLiteral("Macho") : QStringLiteral("Hembra");
}

QString trimSpaces(QStringView text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && text.at(b) == u' ')
        ++b;
    while (e > b && text.at(e - 1) == u' ')
        --e;
    return text.mid(b, e - b).toString();
}

QString composeAddress(const QString& street, const QString& number, const QString& block) {
    return trimSpaces(street) % u' ' % trimSpaces(number) % u' ' % trimSpaces(block);
}

} // namespace store

namespace store {

SearchKind searchKind(Field f) {
    switch (f) {
    case Propietario:
    case NombreAnimal:
        return SearchKind::Words;
    case Rut:
        return SearchKind::Rut;
    case Telefono1:
    case Cel:
    case Telefono2:
        return SearchKind::Phone;
    default:
        return SearchKind::None;
    }
}

} // namespace store
