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

namespace browse {

class CodeSearch;

// Tells a USB chip reader from a person at the keyboard. A reader types the code as keystrokes a
// few milliseconds apart and ends with Enter; in browse mode, with the focus anywhere in the
// window but an entry field, such a burst (at least kMinLength letters or digits, each less than
// kMaxGapMs after the previous, then Enter) is taken as a scanned code and reported by
// codeScanned; the Enter that ends it goes nowhere else.
//
// Whether keys are a burst is known only when they end, so letters and digits typed where a
// burst may start are held back rather than handed on: the grid's keyboard search would move the
// selection, and the card shown with it, on the first digit of every scan. A held key goes on to
// the control it was meant for, unchanged and in order, as soon as it turns out not to be part of
// a burst: the next key comes too late or is no letter or digit, the Enter comes after too few
// characters, the mouse is pressed, or kReleaseMs pass without a key. Keys typed at human speed
// thus do what they always did, a fraction of a second later.
//
// A key's time is its event's timestamp, from the window system, so that keys queued while the
// window was busy keep the spacing they were typed with; events without one (synthesised) are
// timed by the clock on arrival.
class ChipScanner : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinLength = 10;
    static constexpr int kMaxLength = 64; // longer bursts are no chip code
    static constexpr qint64 kMaxGapMs = 50;
    static constexpr int kReleaseMs = 100;

    // Watches the keys meant for `window` (an application-wide filter, so that it sees them before
    // the filters of the window's own controls); `form` tells whether the window is in browse mode.
    ChipScanner(QWidget* window, const store::EntryForm& form, QObject* parent = nullptr);
    ~ChipScanner() override;

    // A monotonic clock in milliseconds for keys that carry no timestamp; tests set their own.
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

signals:
    void codeScanned(const QString& code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool watches(QObject* receiver) const;
    bool onKeyPress(QWidget* receiver, QKeyEvent* key);
    void release();

    QWidget* window_;
    const store::EntryForm& form_;
    std::function<qint64()> clock_;
    QTimer releaseTimer_;
    QPointer<QWidget> heldFor_;
    std::vector<std::unique_ptr<QKeyEvent>> held_;
    QString code_;
    qint64 lastAt_ = 0;
    bool lastStamped_ = false;
    bool replaying_ = false;
};

// Browse mode: the entry fields only show stored cards, neither a card being typed nor the search
// is open.
bool browsing(const store::EntryForm& form);

// What a scanned code does: the stored card is found as the search by code finds it (the grid
// lists that card alone and shows it, the search closed again). A code not stored asks whether
// to add a card with it; Yes calls `addCard` with the code, No leaves the window as it was. A
// store that cannot be read is reported.
void goToScannedCode(const QString& code, const store::CardStore& store, CodeSearch& search,
                     store::EntryForm& form, store::MessageLayer& messages,
                     const std::function<void(const QString&)>& addCard);

} // namespace browse
