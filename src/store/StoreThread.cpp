#include "StoreThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace store {

// What the store thread's work shares with the waiting side; it outlives a StoreThread whose
// thread is still running stuck work.
struct StoreThreadLink {
    std::mutex mutex;
    StoreThread* owner = nullptr; // told when work ends; null once the owner is gone
    std::atomic<qint64> lockDeadline{0};
    std::atomic<qint64> lastProgress{0};
    std::atomic<bool> stopped{false}; // the work running now was stopped for its time
};

struct StoreThread::Job {
    std::function<void()> work;
    qint64 lockDeadline = 0;
    std::atomic<bool> done{false};
    QEventLoop* loop = nullptr;
};

namespace {

const QEvent::Type kWorkDone = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kPostedDone = static_cast<QEvent::Type>(QEvent::registerEventType());

// Posted work ended: what runs next on the window's thread.
struct PostedDone : QEvent {
    PostedDone(QPointer<QObject> context, std::function<void()> then)
        : QEvent(kPostedDone), context(std::move(context)), then(std::move(then)) {}
    QPointer<QObject> context;
    std::function<void()> then;
};

} // namespace

qint64 StoreThread::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

StoreThread::StoreThread() : link_(std::make_shared<StoreThreadLink>()) {
    link_->owner = this;
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("tarjetas-registro"));
    worker_ = new QObject;
    worker_->moveToThread(thread_);
    thread_->start();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
    sinceLastWork_.start();
}

StoreThread::~StoreThread() {
    {
        std::lock_guard lock(link_->mutex);
        link_->owner = nullptr;
    }
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
}

bool StoreThread::onStoreThread() const {
    return QThread::currentThread() == thread_;
}

qint64 StoreThread::lockWaitLeft() const {
    return link_->lockDeadline.load() - nowMs();
}

bool StoreThread::stopped() const {
    return link_->stopped.load();
}

void StoreThread::progress() {
    link_->lastProgress = nowMs();
}

void StoreThread::newCommand() {
    if (depth_ == 0)
        spentMs_ = 0;
}

void StoreThread::afterWork(QObject* context, std::function<void()> then) {
    if (depth_ == 0)
        QTimer::singleShot(0, context, std::move(then));
    else
        after_.emplace_back(context, std::move(then));
}

bool StoreThread::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    // Work a timer, a queued call or a socket starts from the event loop is a command of its
    // own, not the rest of whatever ran before: without this, a window following a busy
    // registry (another workstation's writes, one after another) would add up its follows
    // into one budget and have the next one cut short for want of time it never had.
    case QEvent::Timer:
    case QEvent::MetaCall:
    case QEvent::SockAct:
        newCommand();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool StoreThread::event(QEvent* event) {
    if (event->type() == kPostedDone) {
        auto* done = static_cast<PostedDone*>(event);
        if (done->context)
            done->then();
        return true;
    }
    if (event->type() != kWorkDone)
        return QObject::event(event);
    // Work ended: every wait whose work is done may end (an outer one once the inner returns).
    for (Job* job : waits_) {
        if (job->done)
            job->loop->quit();
    }
    return true;
}

void StoreThread::post(std::function<void()> work) {
    QMetaObject::invokeMethod(
        worker_,
        [work = std::move(work), link = link_] {
            link->lockDeadline = nowMs();
            link->stopped = false;
            work();
        },
        Qt::QueuedConnection);
}

void StoreThread::post(std::function<void()> work, QObject* context, std::function<void()> then) {
    post([work = std::move(work), guard = QPointer<QObject>(context), then = std::move(then),
          link = link_]() mutable {
        work();
        std::lock_guard lock(link->mutex);
        if (link->owner)
            QCoreApplication::postEvent(link->owner,
                                        new PostedDone(std::move(guard), std::move(then)));
    });
}

StoreThread::Outcome StoreThread::run(const std::function<void()>& work, Kind kind) {
    if (onStoreThread()) {
        work();
        return Outcome::Done;
    }
    if (depth_ == 0 && sinceLastWork_.elapsed() > kCommandGapMs)
        spentMs_ = 0;
    const qint64 start = nowMs();
    const qint64 budgetEnd = start + std::max<qint64>(0, kCommandBudgetMs - spentMs_);

    QEventLoop loop;
    auto job = std::make_shared<Job>();
    job->work = work;
    job->lockDeadline = kind == Kind::Look ? start : budgetEnd - kLockMarginMs;
    job->loop = &loop;
    link_->lastProgress = start;
    QMetaObject::invokeMethod(
        worker_,
        [job, link = link_] {
            link->lockDeadline = job->lockDeadline;
            link->stopped = false;
            job->work();
            job->done = true;
            std::lock_guard lock(link->mutex);
            if (link->owner)
                QCoreApplication::postEvent(link->owner, new QEvent(kWorkDone));
        },
        Qt::QueuedConnection);

    ++depth_;
    waits_.push_back(job.get());
    bool interrupted = false;
    qint64 lastCutOff = 0;
    // The deadlines of the wait, looked at every 20 ms.
    const auto check = [&] {
        const qint64 now = nowMs();
        if (!indicated_ && kind != Kind::Look && now - start >= kIndicatorDelayMs) {
            indicated_ = true;
            emit waiting(true);
        }
        // A scan that keeps moving keeps its time; one that stalls is stopped like other work.
        const qint64 end = kind == Kind::Scan
                               ? std::max(budgetEnd, link_->lastProgress.load() + kCommandBudgetMs)
                               : budgetEnd;
        if (now >= end - kLockMarginMs / 3 && !interrupted) {
            interrupted = true;
            link_->stopped = true;
            if (stoppers_.interrupt)
                stoppers_.interrupt();
        }
        // The engine did not return when interrupted (a server that does not answer at all):
        // its connection is cut, which makes the work fail at once. The work's own stack is
        // still in use on the store thread, so the wait goes on until it is back.
        if (now >= end && now - lastCutOff >= 1000) {
            lastCutOff = now;
            if (stoppers_.cutOff)
                stoppers_.cutOff();
        }
    };
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, &loop, [&] {
        if (job->done)
            loop.quit();
        else
            check();
    });
    watch.start();
    if (!job->done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    watch.stop();
    // The program quitting ends every event loop of this thread and lets no new one run, even
    // one begun by a timer that fires after the quit: the wait would end with the work still
    // running on the store's thread, on the caller's variables. It goes on without the loop.
    while (!job->done) {
        QThread::msleep(2);
        check();
    }
    waits_.erase(std::find(waits_.begin(), waits_.end(), job.get()));
    --depth_;
    if (kind != Kind::Look) {
        // A walk that kept moving was answered all along, however long it took: the work the
        // command asks next (the window listing the cards again after a merge) has a budget of
        // its own, not what the walk left of it, which was nothing after a walk of seconds.
        spentMs_ = kind == Kind::Scan && !interrupted ? 0 : spentMs_ + nowMs() - start;
        sinceLastWork_.restart();
    }
    if (depth_ == 0) {
        if (indicated_) {
            indicated_ = false;
            emit waiting(false);
        }
        auto after = std::move(after_);
        after_.clear();
        for (auto& [context, then] : after) {
            if (context)
                QTimer::singleShot(0, context.data(), std::move(then));
        }
    }
    return interrupted ? Outcome::Interrupted : Outcome::Done;
}

} // namespace store
