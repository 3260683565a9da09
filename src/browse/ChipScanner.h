#pragma once

#include "CardStore.h"
#include "EntryForm.h"
#include "Messages.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QWidget;

namespace store {
class IniFile;
}

namespace browse {

class CodeSearch;

// How the practice's chip reader types: the slowest interval between two of its keys, and what
// it sends before and after the code. Section [LECTOR] of the configuration file:
//   INTERVALO MAXIMO = milliseconds (kDefaultSlowestKeyMs when absent, kept between the limits)
//   PREFIJO, SUFIJO  = characters the reader sends before or after the code (none by default)
struct ReaderSettings {
    static constexpr int kDefaultSlowestKeyMs = 150;
    static constexpr int kFewestMs = 20;
    static constexpr int kMostMs = 250;

    int slowestKeyMs = kDefaultSlowestKeyMs;
    QString prefix;
    QString suffix;

    static ReaderSettings fromIni(const store::IniFile& ini);
    // The settings as lines of the configuration file.
    QString iniText() const;
};

// Tells a keyboard-wedge chip reader from a person at the keyboard. A reader types the code as
// keys a few to about a hundred milliseconds apart, then Enter or Tab (or its suffix), all at
// one pace; a person pauses. A run of letters and digits whose keys each came within the slowest
// key interval of the one before, ended by Enter or Tab, is a scan.
//
// Where the keys went meanwhile is taken back once the run turns out to be a scan: fast keys
// are held back for a moment (so that the grid does not jump on every digit of a fast reader);
// slower ones reach the grid's jump-to-row at once, and the grid returns to the row it had
// before the run. Enter on the grid (or a button) within kReaderEnterMs of a letter or digit is
// a reader's and never reaches it, scan or not: a reader's Enter must never open a card for
// editing.
//
// In a text box (the search box, or the fields of a card being entered) a person types letters
// and digits too, so there a run is a scan only if its keys came at a steady pace, the Enter
// or Tab included; its characters are then taken out of the box again. The code field is left
// alone: a code is read into it on purpose.
//
// A key's time is its event's timestamp, from the window system, so that keys queued while the
// window was busy keep the spacing they were typed with; events without one (synthesised) are
// timed by the clock on arrival.
class ChipScanner : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinLength = 6;  // the shortest identifier: an external device's code
    static constexpr int kMaxLength = 64; // longer runs are no chip code
    static constexpr qint64 kHoldMs = 60;
    static constexpr qint64 kReaderEnterMs = 300;
    // An earlier run of keys on the grid this soon before a scan is taken to be its first keys,
    // cut off by a pause of the reader's.
    static constexpr qint64 kLeadMs = 1000;

    // Watches the keys meant for `window` (an application-wide filter, so that it sees them before
    // the filters of the window's own controls); `form` tells whether the window is in browse mode.
    ChipScanner(QWidget* window, const store::EntryForm& form, QObject* parent = nullptr);
    ~ChipScanner() override;

    // A monotonic clock in milliseconds for keys that carry no timestamp; tests set their own.
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
    void setSettings(const ReaderSettings& settings) { settings_ = settings; }
    const ReaderSettings& settings() const { return settings_; }
    // The box a code is typed or read into on purpose: keys there are never taken.
    void setCodeField(QWidget* field) { codeField_ = field; }

signals:
    // A scan in browse mode. `lead` holds the keys of a run cut off just before it (possibly the
    // code's first characters), empty when none.
    void codeScanned(const QString& code, const QString& lead);
    // A scan while a card is being entered: its keys were taken out of the box they reached.
    void codeScannedWhileEntering(const QString& code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool watches(QObject* receiver) const;
    bool onKeyPress(QWidget* receiver, QKeyEvent* key);
    // The code a finished run holds, without the reader's prefix and suffix; empty when the run
    // is no scan. `endGap` is the time from the last character to the Enter or Tab (-1 when the
    // suffix ended the run).
    QString scannedCode(qint64 endGap) const;
    void finish(const QString& code);
    void release();
    void reset();

    QWidget* window_;
    const store::EntryForm& form_;
    std::function<qint64()> clock_;
    ReaderSettings settings_;
    QPointer<QWidget> codeField_;
    QTimer releaseTimer_;

    // The run being typed.
    QPointer<QWidget> runFor_;
    QString run_;
    std::vector<qint64> gaps_;
    bool steady_ = false;   // a text box's run: judged by its pace
    bool entering_ = false; // typed while a card is entered
    std::vector<std::unique_ptr<QKeyEvent>> held_;
    bool delivered_ = false;         // some of its keys reached their control
    std::function<void()> takeBack_; // puts that control back as it was before the run
    QString lead_;

    qint64 lastAt_ = 0;
    bool lastStamped_ = false;
    bool lastWasCode_ = false;  // the last key was a letter or digit (or ended a scan)
    QPointer<QWidget> lastFor_; // where it went
    bool justScanned_ = false;  // the last key ended a scan
    bool replaying_ = false;
};

// Browse mode: the entry fields only show stored cards, neither a card being typed nor the search
// is open.
bool browsing(const store::EntryForm& form);

// What a scanned code does: the stored card is found as the search by code finds it (the grid
// lists that card alone and shows it, the search closed again); `lead` and the code together
// are tried first. A code not stored that begins or ends a stored card's code offers that card
// ("¿Es la tarjeta …?"); otherwise, or on No, the offer to add a card with the code, which says
// when the code is not of the shape of a chip identifier. Yes calls `addCard` with the code, No
// leaves the window as it was. A store that cannot be read is reported.
void goToScannedCode(const QString& code, const QString& lead, const store::CardStore& store,
                     CodeSearch& search, store::EntryForm& form, store::MessageLayer& messages,
                     const std::function<void(const QString&)>& addCard);

} // namespace browse
