#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace store {

class CardStore;

// Tells that the card store was written by another connection: another program on the same
// file, or another workstation on the same server. Writes made through the store itself are told
// to its change listeners and never come through here, so a window that follows both reloads
// nothing twice.
//
// The watch lives on the thread that starts it, which must run a Qt event loop; it tells once per
// look that found a change, however many writes there were.
class ChangeWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultPollMs = 500;

    // The watch that suits the store's engine, already watching; null when the engine has none.
    // `pollMs` is how often an engine that must be asked is asked.
    static std::unique_ptr<ChangeWatch> start(const CardStore& store, int pollMs = kDefaultPollMs);
    ~ChangeWatch() override;

    // Looks now rather than at the next poll; true when a change was found (and told).
    virtual bool check() = 0;
    // Why the last look failed, empty when it worked. A failed look tells nothing and is
    // repeated at the next poll; the window's own next read of the store reports the failure.
    const QString& lastError() const { return lastError_; }

signals:
    void changedElsewhere();
    // The connection to a server was lost (true), or made again (false).
    void connectionChanged(bool lost);

protected:
    ChangeWatch() = default;
    QString lastError_;
};

} // namespace store
