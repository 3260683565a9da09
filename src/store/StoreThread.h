#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QThread;

namespace store {

// The thread a card store's connection works on once a window uses the store, so that the window
// never waits on the store with its event loop stopped.
//
// The window's thread hands each piece of store work over and waits for it in an event loop of
// its own that keeps painting and running timers but holds key presses and clicks back (they
// arrive once the work is done, so nothing typed is lost). Work asked for while other work is in
// flight (a timer firing during the wait) is queued behind it on the same thread, so the
// connection is never used by two threads at once; owners of timers should rather wait for
// afterWork().
//
// One user command has one budget of time for everything it asks of the store, however many
// statements that takes. A command begins with a key press or click, with work a timer, a queued
// call or a socket starts from the event loop, or with the first work after a pause. A wait for a
// lock gives up by itself shortly before the budget ends (the engine's busy handler asks
// lockWaitLeft()); when the budget is spent the work is interrupted (SQLite's own interrupt, or a
// cancel request to the server), and work that still does not return, as on a server that does not
// answer at all, has its connection cut off, which makes it fail at once.
class StoreThread : public QObject {
    Q_OBJECT
public:
    static constexpr int kCommandBudgetMs = 4000;
    // Before the budget ends: how early a wait for a lock gives up by itself, so that the
    // engine's own "busy" failure (with its message) comes back in time.
    static constexpr int kLockMarginMs = 300;
    // How long work may take before the window shows that it waits.
    static constexpr int kIndicatorDelayMs = 300;
    // Work begun this long after the last work ended starts a new command.
    static constexpr int kCommandGapMs = 1000;

    // What the work is: part of a user command; a walk over a whole registry, which may take
    // longer than the budget and has its time counted from its last sign of progress; or a look
    // made by a timer (has another program written?), which never waits for a lock, shows no
    // notice and spends nothing of the command's budget: it looks again at its next turn.
    enum class Kind { Command, Scan, Look };

    enum class Outcome {
        Done,        // the work ran to its end
        Interrupted, // the budget ran out and the work was interrupted (or its connection cut)
    };

    // How to stop work that outlived its budget; both are called on the waiting thread while the
    // work runs, so they may only use thread-safe calls (sqlite3_interrupt, PQcancel, shutdown).
    struct Stoppers {
        std::function<void()> interrupt;
        std::function<void()> cutOff;
    };

    StoreThread();
    ~StoreThread() override;
    StoreThread(const StoreThread&) = delete;
    StoreThread& operator=(const StoreThread&) = delete;

    void setStoppers(Stoppers stoppers) { stoppers_ = std::move(stoppers); }

    // Runs `work` on the store thread and returns when it is done or given up. Called on the
    // store thread itself (work inside work) it runs right away.
    Outcome run(const std::function<void()>& work, Kind kind = Kind::Command);

    // Runs `work` on the store thread without waiting for it, as a look: it never waits for a
    // lock and nothing is told when it ends. Work asked for afterwards is queued behind it.
    void post(std::function<void()> work);
    // The same, with `then` run afterwards on the window's thread from its event loop, unless
    // `context` is gone by then.
    void post(std::function<void()> work, QObject* context, std::function<void()> then);

    QThread* thread() const { return thread_; }
    bool onStoreThread() const;
    // Work is in flight (the window waits for it).
    bool busy() const { return depth_ > 0; }

    // Milliseconds the work now running may still wait for a lock; called by the engine's busy
    // handler on the store thread.
    qint64 lockWaitLeft() const;
    // The work now running outlived its budget and was interrupted or cut off: called on the
    // store thread, it tells the engine to begin nothing more (no new connection, no second
    // try), so that the command is refused now rather than later.
    bool stopped() const;
    // A scan calls this now and then: it is still moving.
    void progress();
    // The next work begins a new command with a full budget.
    void newCommand();

    // Runs `then` (in `context`'s thread, from its event loop) once no work is in flight: right
    // away from the event loop when none is, otherwise after the last work in flight ends.
    void afterWork(QObject* context, std::function<void()> then);

signals:
    // The window has waited kIndicatorDelayMs for the store (true), and the wait ended (false).
    void waiting(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Job;
    static qint64 nowMs();

    QThread* thread_ = nullptr;
    QObject* worker_ = nullptr; // lives on thread_, runs the jobs
    Stoppers stoppers_;
    int depth_ = 0;
    bool indicated_ = false;
    qint64 spentMs_ = 0;
    QElapsedTimer sinceLastWork_;
    std::shared_ptr<struct StoreThreadLink> link_;
    std::vector<Job*> waits_; // the work being waited for, innermost last
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> after_;
};

} // namespace store
