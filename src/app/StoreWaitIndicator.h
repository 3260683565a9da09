#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

class QLabel;

namespace store {
class StoreThread;
}

namespace app {

// Shows that the window waits for the card store. While the store works for a command the window
// keeps painting but takes no keys or clicks; once the wait has lasted a moment the command
// buttons are switched off and a small notice "Esperando al registro…" appears at the right of
// the footer line `footer`, until the wait ends. The buttons come back as they were, and so does
// the keyboard focus.
class StoreWaitIndicator : public QObject {
    Q_OBJECT
public:
    StoreWaitIndicator(QWidget* window, std::vector<QWidget*> commands, QWidget* footer);

    // Follows the waits of this store thread (null: none).
    void follow(store::StoreThread* thread);
    QLabel* label() const { return label_; }

private:
    void waiting(bool on);

    QWidget* window_;
    std::vector<QWidget*> commands_;
    QWidget* footer_;
    QLabel* label_;
    QPointer<store::StoreThread> thread_;
    QMetaObject::Connection connection_;
    std::vector<QWidget*> switchedOff_;
    QPointer<QWidget> focus_;
};

} // namespace app
