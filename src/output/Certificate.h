#pragma once

#include "CardFields.h"

#include <QDate>
#include <QDialog>
#include <QImage>
#include <QPageSize>
#include <QString>

#include <vector>

class QLabel;
class QPainter;
class QPrinter;
class QTextStream;

namespace store {
class Clock;
class IniFile;
class MessageLayer;
struct Folders;
} // namespace store

namespace output {

// The implant certificate an owner shows the national pet registry: the animal, its owner, the
// implant and the veterinarian's signature, on one page.

// What the certificate says beyond the card itself.
struct CertificateContext {
    QImage logo;             // the practice's LogoCliente.bmp; null leaves its place empty
    QString footer;          // the practice's footer text (PIE)
    QString veterinarianRut; // of the card's implanter; empty leaves a line to write it by hand
    QDate issuedOn;
};

struct CertificateLine {
    QString label;
    QString value;
};
struct CertificateSection {
    QString title;
    std::vector<CertificateLine> lines;
};

// Everything printed, as text, in the order it is laid out.
struct CertificateContent {
    QString title;
    QString codeLabel; // "Microchip", or "Dispositivo externo" for a six-character device code
    QString code;
    std::vector<CertificateSection> sections;
    QString signer;    // the implanter
    QString signerRut; // empty: a blank line to write on
    QString issued;    // date and place of issue
    QString footer;
    QImage logo;
};

CertificateContent certificateContent(const store::Card& card, const CertificateContext& context);

// Age at `on` of an animal born on `born`: "2 años y 3 meses", "1 año", "5 meses"; empty when
// either date is invalid or the birth is after `on`.
QString ageText(const QDate& born, const QDate& on);

// The R.U.T. the [VETERINARIOS] section of the configuration gives for this implanter, when it
// passes the modulo 11 check; empty otherwise (never an invented one).
QString veterinarianRut(const store::IniFile& ini, const QString& implanter);

// A4 or Letter, whichever the default printer uses; Letter without a printer.
QPageSize certificatePaper();

// Paints the certificate on a page of `paper` onto a painter already begun on a device whose
// origin is the paper's corner, at `dpi` device pixels per inch.
void paintCertificate(QPainter& painter, const QPageSize& paper, double dpi,
                      const CertificateContent& content);

// Writes the certificate as a one-page PDF with real, searchable text and embedded fonts.
bool writeCertificatePdf(const CertificateContent& content, const QPageSize& paper,
                         const QString& path, QString* error);

// Prints the certificate on the default printer; a Spanish reason on failure.
bool printCertificate(const CertificateContent& content, QString* error);

// The certificate of this card with the configuration, logo and footer of the data folder.
CertificateContent certificateFor(const store::Folders& folders, const store::Card& card,
                                  const QDate& today);

// The certificate of the stored card with this code, with the configuration, logo and footer of
// the data folder. False with a Spanish reason when the registry or the card cannot be read.
bool loadCertificate(const store::Folders& folders, const QString& code, const QDate& today,
                     CertificateContent* content, QString* error);

// `tarjetas --certificado CODIGO --salida ARCHIVO.pdf`: writes the PDF without a window and says
// where it went; returns the exit code (1 with a Spanish message on any failure).
int runCertificateCommand(const store::Folders& folders, const QString& code,
                          const QString& pdfPath, const store::Clock& clock, QTextStream& out,
                          QTextStream& err);

// A modeless preview of the certificate, from which it is printed or saved as PDF.
class CertificatePreview : public QDialog {
    Q_OBJECT
public:
    CertificatePreview(CertificateContent content, store::MessageLayer& messages,
                       QWidget* parent = nullptr);

    const CertificateContent& content() const { return content_; }
    const QImage& pageImage() const { return image_; }
    // Saves the PDF; failures are told through the message layer.
    bool savePdf(const QString& path);

private:
    void print();
    void askAndSave();

    CertificateContent content_;
    store::MessageLayer& messages_;
    QPageSize paper_;
    QImage image_;
};

} // namespace output
