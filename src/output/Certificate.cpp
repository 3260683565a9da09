#include "Certificate.h"

#include "CardStore.h"
#include "Clock.h"
#include "Dates.h"
#include "Folders.h"
#include "IdentifierChecks.h"
#include "Ini.h"
#include "Messages.h"
#include "PrintQueueCheck.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTextOption>
#include <QTextStream>
#include <QVBoxLayout>

#include <qrencode.h>

#include <memory>

namespace output {

namespace {

const QString kIniSectionVets = QStringLiteral("VETERINARIOS");

// What one line of the certificate shows of the card.
enum class Shown { Field, Sex, BirthAndAge, Address, OwnerRut };

struct LineSpec {
    int section;
    QStringView label;
    Shown shown;
    store::Field field;
};

// The certificate's lines, as data: section, label and the card value shown.
constexpr QStringView kSections[] = {u"Datos del animal", u"Datos del propietario",
                                     u"Implantación"};
constexpr LineSpec kLines[] = {
    {0, u"Nombre", Shown::Field, store::NombreAnimal},
    {0, u"Especie", Shown::Field, store::Especie},
    {0, u"Sexo", Shown::Sex, store::Sexo},
    {0, u"Raza", Shown::Field, store::Raza},
    {0, u"Color", Shown::Field, store::Color},
    {0, u"Fecha de nacimiento", Shown::BirthAndAge, store::FechaNacimiento},
    {0, u"Estado reproductivo", Shown::Field, store::EReproductivo},
    {0, u"Tamaño", Shown::Field, store::Tamano},
    {1, u"Nombre", Shown::Field, store::Propietario},
    {1, u"R.U.T.", Shown::OwnerRut, store::Rut},
    {1, u"Domicilio", Shown::Address, store::DireccionCompleta},
    {1, u"Teléfono", Shown::Field, store::Telefono1},
    {1, u"Celular", Shown::Field, store::Cel},
    {1, u"Correo electrónico", Shown::Field, store::Email},
    {2, u"Fecha de implantación", Shown::Field, store::FechaAtencion},
    {2, u"Lugar", Shown::Field, store::Lugar},
    {2, u"Implantador", Shown::Field, store::Implantador},
};

QString value(const store::Card& card, const LineSpec& line, const QDate& today) {
    const QString stored = store::trimSpaces(card[line.field]);
    switch (line.shown) {
    case Shown::Field:
        return stored;
    case Shown::Sex:
        // An official paper names only what the card says: no sex chosen stays blank.
        return stored == u"M"   ? QStringLiteral("Macho")
               : stored == u"H" ? QStringLiteral("Hembra")
                                : stored;
    case Shown::BirthAndAge: {
        const QDate born = store::parseDate(stored, today);
        const QDate implanted = store::parseDate(card[store::FechaAtencion], today);
        // A birth the paper cannot vouch for is marked, so that the veterinarian corrects it
        // before signing.
        if (born.isValid() && born > today)
            return stored + QStringLiteral(" (fecha futura: revísela)");
        if (born.isValid() && implanted.isValid() && born > implanted)
            return stored + QStringLiteral(" (posterior a la fecha de implantación: revísela)");
        const QString age = ageText(born, implanted);
        return age.isEmpty() ? stored
                             : stored + QStringLiteral(" (edad al implante: ") + age + u')';
    }
    case Shown::OwnerRut:
        // Printed as typed, for the owner's is the one on record; a wrong check digit is said.
        return store::checkRut(stored).verdict == store::Verdict::Invalid
                   ? stored + QStringLiteral(" (dígito verificador no válido)")
                   : stored;
    case Shown::Address:
        // As the listing shows it: the composed address, or its parts when it was never composed.
        return stored.isEmpty()
                   ? store::composeAddress(card[store::Direccion], card[store::NumeroDepto],
                                           card[store::BlockDepto])
                         .trimmed()
                   : stored;
    }
    return stored;
}

// Layout in points, from the paper's corner.
constexpr double kMargin = 50;
constexpr double kTop = 40;
constexpr double kLabelWidth = 130;
constexpr double kQrSide = 96;
constexpr double kRowGap = 3;

QFont font(double points, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// Paints in points on a device of `dpi` pixels per inch.
class Page {
public:
    Page(QPainter& painter, double dpi) : p_(painter), scale_(dpi / 72.0) {}

    QRectF rect(double x, double y, double w, double h) const {
        return {x * scale_, y * scale_, w * scale_, h * scale_};
    }
    // Draws wrapped text in a box `width` wide; returns the height it took, in points.
    double text(double x, double y, double width, const QString& text, const QFont& f,
                Qt::Alignment align = Qt::AlignLeft) {
        p_.setFont(f);
        p_.setPen(Qt::black);
        QTextOption option(align);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        const QRectF box = rect(x, y, width, 10000);
        const QRectF used =
            p_.boundingRect(box, text.isEmpty() ? QStringLiteral(" ") : text, option);
        p_.drawText(box, text, option);
        return used.height() / scale_;
    }
    void line(double x1, double y1, double x2, double y2, double width = 0.6) {
        p_.setPen(QPen(Qt::black, width * scale_));
        p_.drawLine(QPointF(x1 * scale_, y1 * scale_), QPointF(x2 * scale_, y2 * scale_));
    }
    void frame(double x, double y, double w, double h) {
        p_.setPen(QPen(Qt::black, 0.8 * scale_));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(rect(x, y, w, h));
    }
    void image(double x, double y, double maxW, double maxH, const QImage& picture) {
        QSizeF size = picture.size();
        size.scale(maxW, maxH, Qt::KeepAspectRatio);
        p_.drawImage(rect(x, y, size.width(), size.height()), picture);
    }
    // The code as a QR symbol `side` points square, quiet zone included.
    void qr(double x, double y, double side, const QString& code) {
        const QByteArray bytes = code.toUtf8();
        std::unique_ptr<QRcode, decltype(&QRcode_free)> symbol(
            QRcode_encodeString(bytes.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), QRcode_free);
        if (!symbol)
            return;
        const int n = symbol->width;
        const double module = side / (n + 8);
        p_.setPen(Qt::NoPen);
        p_.setBrush(Qt::black);
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c) {
                if (symbol->data[r * n + c] & 1)
                    p_.drawRect(rect(x + (c + 4) * module, y + (r + 4) * module, module, module));
            }
        }
    }

private:
    QPainter& p_;
    double scale_;
};

} // namespace

QString ageText(const QDate& born, const QDate& on) {
    if (!born.isValid() || !on.isValid() || born > on)
        return {};
    int months = (on.year() - born.year()) * 12 + on.month() - born.month();
    if (on.day() < born.day())
        --months;
    const int years = months / 12;
    months %= 12;
    const QString y = years == 1 ? QStringLiteral("1 año") : QStringLiteral("%1 años").arg(years);
    const QString m =
        months == 1 ? QStringLiteral("1 mes") : QStringLiteral("%1 meses").arg(months);
    if (years == 0)
        return m;
    return months == 0 ? y : y + QStringLiteral(" y ") + m;
}

QString veterinarianRut(const store::IniFile& ini, const QString& implanter) {
    const QString name = store::trimSpaces(implanter);
    if (name.isEmpty())
        return {};
    const QString rut = store::LeeIni(ini, kIniSectionVets, name);
    return store::checkRut(rut).verdict == store::Verdict::Valid ? rut : QString();
}

CertificateContent certificateContent(const store::Card& card, const CertificateContext& context) {
    CertificateContent c;
    c.code = store::trimSpaces(card[store::Codigo]);
    // An external device is worn, not implanted.
    const bool external = store::classifyChip(c.code).kind == store::ChipKind::ExternalDevice;
    c.codeLabel = external ? QStringLiteral("Dispositivo externo") : QStringLiteral("Microchip");
    c.title = external ? QStringLiteral("Certificado de Identificación – Dispositivo externo")
                       : QStringLiteral("Certificado de Implantación de Microchip");
    for (QStringView title : kSections)
        c.sections.push_back({title.toString(), {}});
    c.sections[0].lines.push_back({c.codeLabel, c.code});
    for (const LineSpec& line : kLines)
        c.sections[size_t(line.section)].lines.push_back(
            {line.label.toString(), value(card, line, context.issuedOn)});
    c.signer = store::trimSpaces(card[store::Implantador]);
    c.signerRut = context.veterinarianRut;
    const QString place = store::trimSpaces(card[store::Lugar]);
    const QString date = QLocale(QLocale::Spanish, QLocale::Chile)
                             .toString(context.issuedOn, u"d 'de' MMMM 'de' yyyy");
    c.issued = place.isEmpty() ? QStringLiteral("Emitido el %1.").arg(date)
                               : QStringLiteral("Emitido en %1, el %2.").arg(place, date);
    c.footer = context.footer;
    c.logo = context.logo;
    return c;
}

QPageSize certificatePaper() {
    const QPrinterInfo printer = QPrinterInfo::defaultPrinter();
    if (!printer.isNull() && printer.defaultPageSize().id() == QPageSize::A4)
        return QPageSize(QPageSize::A4);
    return QPageSize(QPageSize::Letter);
}

void paintCertificate(QPainter& painter, const QPageSize& paper, double dpi,
                      const CertificateContent& content) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    Page page(painter, dpi);
    const QSizeF size = paper.size(QPageSize::Point);
    const double width = size.width() - 2 * kMargin;
    double y = kTop;

    // Header: the practice's logo, the title, and what the paper is for.
    if (!content.logo.isNull())
        page.image(kMargin, y, 90, 60, content.logo);
    const double titleLeft = kMargin + (content.logo.isNull() ? 0 : 100);
    const double titleWidth = width - (content.logo.isNull() ? 0 : 100);
    double titleHeight =
        page.text(titleLeft, y + 8, titleWidth, content.title, font(16, true), Qt::AlignHCenter);
    titleHeight += page.text(titleLeft, y + 12 + titleHeight, titleWidth,
                             QStringLiteral("Para la inscripción en el Registro Nacional de "
                                            "Mascotas o Animales de Compañía (Ley N° 21.020)"),
                             font(9), Qt::AlignHCenter);
    y += std::max(64.0, titleHeight + 16);

    // The sections: a bold title, then label and value rows; the animal's beside the QR code.
    for (size_t s = 0; s < content.sections.size(); ++s) {
        const CertificateSection& section = content.sections[s];
        const bool withQr = s == 0;
        const double top = y;
        y += 4;
        y += page.text(kMargin + 6, y, width - 12, section.title, font(11, true)) + 4;
        const double valueWidth = width - 12 - kLabelWidth - (withQr ? kQrSide + 12 : 0);
        for (const CertificateLine& line : section.lines) {
            const double labelHeight =
                page.text(kMargin + 6, y, kLabelWidth - 6, line.label + u':', font(9.5, true));
            const double valueHeight =
                page.text(kMargin + 6 + kLabelWidth, y, valueWidth, line.value, font(9.5));
            y += std::max(labelHeight, valueHeight) + kRowGap;
        }
        if (withQr) {
            const double qrLeft = kMargin + width - 6 - kQrSide;
            page.qr(qrLeft, top + 8, kQrSide, content.code);
            const double below = page.text(qrLeft - 10, top + 10 + kQrSide, kQrSide + 20,
                                           content.code, font(8), Qt::AlignHCenter);
            y = std::max(y, top + 14 + kQrSide + below);
        }
        y += 4;
        page.frame(kMargin, top, width, y - top);
        y += 10;
    }

    // Date and place of issue, then the signature: a line to sign, the veterinarian's name and
    // R.U.T. (a blank to write one when the configuration has none).
    y += 4;
    y += page.text(kMargin, y, width, content.issued, font(9.5));
    y += 44;
    const double signLeft = kMargin + width / 2 + 20;
    const double signWidth = width / 2 - 20;
    page.line(signLeft, y, signLeft + signWidth, y);
    y += 4;
    y += page.text(signLeft, y, signWidth, QStringLiteral("Firma y timbre del médico veterinario"),
                   font(8.5), Qt::AlignHCenter) +
         4;
    y += page.text(signLeft, y, signWidth, content.signer, font(9.5, true), Qt::AlignHCenter);
    const QString rut = content.signerRut.isEmpty()
                            ? QStringLiteral("R.U.T.: ______________________")
                            : QStringLiteral("R.U.T.: ") + content.signerRut;
    page.text(signLeft, y + 2, signWidth, rut, font(9.5), Qt::AlignHCenter);

    // The practice's footer at the bottom of the page.
    if (!content.footer.isEmpty())
        page.text(kMargin, size.height() - 50, width, content.footer, font(8), Qt::AlignHCenter);
    painter.restore();
}

bool writeCertificatePdf(const CertificateContent& content, const QPageSize& paper,
                         const QString& path, QString* error) {
    // The file named, and why it could not be written when that can be seen.
    const auto failure = [&](const QString& what) -> QString {
        const QString reason = store::unwritableFileReason(path);
        return what.arg(QDir::toNativeSeparators(path)) +
               (reason.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + reason + u'.');
    };
    {
        QPdfWriter pdf(path);
        pdf.setPageSize(paper);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(600);
        pdf.setTitle(content.title + QStringLiteral(" ") + content.code);
        pdf.setCreator(QStringLiteral("tarjetas"));
        QPainter painter;
        if (!painter.begin(&pdf)) {
            *error = failure(QStringLiteral("No se pudo crear el archivo %1"));
            return false;
        }
        paintCertificate(painter, paper, pdf.resolution(), content);
        painter.end();
    }
    // QPdfWriter says nothing when the file could not be written: look at it.
    if (QFileInfo(path).size() == 0) {
        *error = failure(QStringLiteral("No se pudo escribir el archivo %1"));
        return false;
    }
    return true;
}

bool printCertificate(const CertificateContent& content, QString* error) {
    // Without a printer QPrinter quietly becomes a PDF writer with no file: say so instead.
    if (QPrinterInfo::defaultPrinter().isNull()) {
        *error = QStringLiteral(
            "No hay una impresora predeterminada instalada o disponible en este equipo.");
        return false;
    }
    QPrinter printer(QPrinter::HighResolution);
    if (const QString reason = queue::refusalBeforePrinting(printer.printerName());
        !reason.isEmpty()) {
        *error = QStringLiteral("La impresora \"%1\" %2.").arg(printer.printerName(), reason);
        return false;
    }
    const QPageSize paper = certificatePaper();
    printer.setPageSize(paper);
    printer.setFullPage(true); // the layout's margins are wider than any printer's
    printer.setDocName(content.title);
    QPainter painter;
    if (!painter.begin(&printer)) {
        *error =
            QStringLiteral("No se pudo comenzar a imprimir en \"%1\".").arg(printer.printerName());
        return false;
    }
    paintCertificate(painter, paper, printer.resolution(), content);
    painter.end();
    if (const QString reason = queue::refusalOfLastJob(); !reason.isEmpty()) {
        *error = QStringLiteral("El certificado fue rechazado por la impresora \"%1\": %2.")
                     .arg(printer.printerName(), reason);
        return false;
    }
    return true;
}

bool loadCertificate(const store::Folders& folders, const QString& code, const QDate& today,
                     CertificateContent* content, QString* error) {
    store::Status status;
    const store::Registry registry = store::chooseRegistry(folders, &status);
    if (!status) {
        *error = status.message();
        return false;
    }
    const QString dbPath = registry.describe();
    if (!registry.isServer() && !QFileInfo(registry.location()).isFile()) {
        *error = QStringLiteral("No existe el registro de tarjetas %1.").arg(dbPath);
        return false;
    }
    const std::unique_ptr<store::CardStore> cards = store::CardStore::open(registry, &status);
    store::RowId id = store::kNoRow;
    store::Card card;
    if (cards)
        status = cards->findCode(code, &id);
    if (status && id == store::kNoRow) {
        *error = QStringLiteral("No hay una tarjeta con el código %1 en el registro %2.")
                     .arg(code, dbPath);
        return false;
    }
    if (status)
        status = cards->readCard(id, &card);
    if (!status) {
        *error = status.message();
        return false;
    }
    *content = certificateFor(folders, card, today);
    return true;
}

CertificateContent certificateFor(const store::Folders& folders, const store::Card& card,
                                  const QDate& today) {
    QString iniPath = folders.dataFile(store::kIniFileName);
    if (!QFileInfo(iniPath).isFile())
        iniPath = folders.masterIniFile();
    const store::IniFile ini = store::IniFile::load(iniPath);
    CertificateContext context;
    context.logo = QImage(folders.dataFile(store::kLogoFileName));
    context.footer = store::LeeIni(ini, store::kIniSectionVersion, QStringLiteral("PIE"));
    context.veterinarianRut = veterinarianRut(ini, card[store::Implantador]);
    context.issuedOn = today;
    return certificateContent(card, context);
}

int runCertificateCommand(const store::Folders& folders, const QString& code,
                          const QString& pdfPath, const store::Clock& clock, QTextStream& out,
                          QTextStream& err) {
    CertificateContent content;
    QString error;
    const QString path = QFileInfo(pdfPath).absoluteFilePath();
    if (!loadCertificate(folders, code, clock.now().date(), &content, &error) ||
        !writeCertificatePdf(content, certificatePaper(), path, &error)) {
        err << error << Qt::endl;
        return 1;
    }
    out << QStringLiteral("Certificado de la tarjeta %1 guardado en %2.")
               .arg(code, QDir::toNativeSeparators(path))
        << Qt::endl;
    return 0;
}

CertificatePreview::CertificatePreview(CertificateContent content, store::MessageLayer& messages,
                                       QWidget* parent)
    : QDialog(parent), content_(std::move(content)), messages_(messages),
      paper_(certificatePaper()) {
    setObjectName(QStringLiteral("CertificatePreview"));
    setWindowTitle(content_.title + QStringLiteral(": ") + content_.code);
    setAttribute(Qt::WA_DeleteOnClose);

    // The page at the screen's resolution, so that it reads as it will print.
    const double dpi = std::max(72.0, logicalDpiY() * 1.0);
    const QSizeF points = paper_.size(QPageSize::Point);
    image_ = QImage((points * dpi / 72.0).toSize(), QImage::Format_RGB32);
    image_.setDotsPerMeterX(qRound(dpi / 0.0254));
    image_.setDotsPerMeterY(qRound(dpi / 0.0254));
    image_.fill(Qt::white);
    {
        QPainter painter(&image_);
        paintCertificate(painter, paper_, dpi, content_);
    }

    auto* view = new QLabel(this);
    view->setPixmap(QPixmap::fromImage(image_));
    view->setAccessibleName(content_.title);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(view);
    scroll->setAlignment(Qt::AlignHCenter);
    scroll->setBackgroundRole(QPalette::Dark);

    auto* printButton = new QPushButton(QStringLiteral("&Imprimir"), this);
    printButton->setObjectName(QStringLiteral("btnImprimirCertificado"));
    auto* saveButton = new QPushButton(QStringLiteral("&Guardar PDF…"), this);
    saveButton->setObjectName(QStringLiteral("btnGuardarCertificado"));
    auto* closeButton = new QPushButton(QStringLiteral("&Cerrar"), this);
    connect(printButton, &QPushButton::clicked, this, &CertificatePreview::print);
    connect(saveButton, &QPushButton::clicked, this, &CertificatePreview::askAndSave);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(printButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scroll);
    layout->addLayout(buttons);

    // As tall as the screen allows, as wide as the page.
    QSize wanted(image_.width() + 60, image_.height() + 80);
    if (const QScreen* screen = parent ? parent->screen() : nullptr)
        wanted = wanted.boundedTo(screen->availableGeometry().size() * 0.9);
    resize(wanted);
}

bool CertificatePreview::savePdf(const QString& path) {
    QString error;
    if (!writeCertificatePdf(content_, paper_, path, &error)) {
        messages_.notice(error);
        return false;
    }
    return true;
}

void CertificatePreview::print() {
    QString error;
    if (!printCertificate(content_, &error)) {
        messages_.notice(error);
        return;
    }
    messages_.inform(QStringLiteral("Certificado enviado a la impresora"),
                     QStringLiteral("Certificado de implantación"),
                     store::MessageLayer::Icon::Information);
}

void CertificatePreview::askAndSave() {
    const QString suggested =
        QDir::home().filePath(QStringLiteral("Certificado %1.pdf").arg(content_.code));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Guardar certificado"),
                                                      suggested, QStringLiteral("PDF (*.pdf)"));
    if (!path.isEmpty() && savePdf(path))
        messages_.inform(
            QStringLiteral("Certificado guardado en\r\n") + QDir::toNativeSeparators(path),
            QStringLiteral("Certificado de implantación"), store::MessageLayer::Icon::Information);
}

} // namespace output
