#include "Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace app {

namespace {

const char* const kKeptExclusive = "keptExclusive";
const char* const kLabelledCombo = "labelledCombo";

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

class LabelledCombo : public QAccessibleWidget {
public:
    explicit LabelledCombo(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {
        addControllingSignal(QStringLiteral("activated(int)"));
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return combo()->accessibleName();
        case QAccessible::Value:
            return combo()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = combo()->isEditable();
        s.expandable = true;
        s.expanded = combo()->view() && combo()->view()->isVisible();
        return s;
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (combo()->isEnabled())
            names.prepend(showMenuAction());
        return names;
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            if (combo()->isEnabled())
                combo()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(object()); }
};

// Replaces the description Qt may already have made of a widget, so that the factory's is used.
void forgetMade(QObject* object) {
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(object);
    if (made && !dynamic_cast<KeptExclusiveOption*>(made) && !dynamic_cast<LabelledCombo*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

QAccessibleInterface* ownFactory(const QString& className, QObject* object) {
    if (className == QLatin1StringView("QRadioButton") && object &&
        object->property(kKeptExclusive).toBool())
        return new KeptExclusiveOption(static_cast<QRadioButton*>(object));
    if (className == QLatin1StringView("QComboBox") && object &&
        object->property(kLabelledCombo).toBool())
        return new LabelledCombo(static_cast<QComboBox*>(object));
    return nullptr;
}

void installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(ownFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

void markKeptExclusive(QRadioButton* option) {
    installFactory();
    option->setProperty(kKeptExclusive, true);
    // Creating the button may already have made Qt's own description of it: replace it.
    forgetMade(option);
}

void markLabelledCombo(QComboBox* combo) {
    installFactory();
    combo->setProperty(kLabelledCombo, true);
    forgetMade(combo);
    // The box typed into says whose it is too.
    if (QLineEdit* edit = combo->lineEdit())
        edit->setAccessibleName(combo->accessibleName());
}

} // namespace app
