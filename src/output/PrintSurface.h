#pragma once

#include "Status.h"

#include <QString>
#include <QStringView>

#include <memory>

namespace output {

// A printer font as the stationery layouts name it.
struct PrintFont {
    QStringView family;
    int points;
    bool bold;

    bool operator==(const PrintFont& other) const {
        return family == other.family && points == other.points && bold == other.bold;
    }
};

inline constexpr PrintFont kValueFont{u"Arial", 10, false};
inline constexpr PrintFont kFooterFont{u"Arial", 8, true};

// What printing needs of a printer: a font, a current position in twips measured from the
// top-left corner of the printable area, a text item whose top lies at the current Y, and the
// end of the document, which sends the page.
class PrintSurface {
public:
    virtual ~PrintSurface() = default;
    virtual void setFont(const PrintFont& font) = 0;
    virtual void setPosition(double xTwips, double yTwips) = 0;
    virtual void printText(const QString& text) = 0;
    // Sends the document; a printer that refuses it gives a failure with a Spanish message.
    virtual store::Status endDocument() = 0;
};

// Where a print goes: opens one document at a time. The program's own target is the default
// printer; tests hand a recording one or a PDF file.
class PrintTarget {
public:
    virtual ~PrintTarget() = default;
    // A surface for a new document, or null with `status` set to what prevented it.
    virtual std::unique_ptr<PrintSurface> open(store::Status* status) = 0;
};

} // namespace output
