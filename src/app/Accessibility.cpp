#include "Accessibility.h"

#include <QAccessibleWidget>
#include <QRadioButton>

namespace app {

namespace {

const char* const kKeptExclusive = "keptExclusive";

class KeptExclusiveOption : public QAccessibleWidget {
public:
    explicit KeptExclusiveOption(QRadioButton* option)
        : QAccessibleWidget(option, QAccessible::RadioButton) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = option()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (option()->isEnabled())
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            if (option()->isEnabled())
                option()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QRadioButton* option() const { return static_cast<QRadioButton*>(object()); }
};

QAccessibleInterface* keptExclusiveFactory(const QString& className, QObject* object) {
    if (className == QLatin1StringView("QRadioButton") && object &&
        object->property(kKeptExclusive).toBool())
        return new KeptExclusiveOption(static_cast<QRadioButton*>(object));
    return nullptr;
}

} // namespace

void markKeptExclusive(QRadioButton* option) {
    static const bool installed = [] {
        QAccessible::installFactory(keptExclusiveFactory);
        return true;
    }();
    Q_UNUSED(installed);
    option->setProperty(kKeptExclusive, true);
    // Creating the button may already have made Qt's own description of it: replace it.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(option);
    if (made && !dynamic_cast<KeptExclusiveOption*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace app
