#include "ReaderTest.h"

#include "IdentifierChecks.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace browse {

namespace {

bool isCodeChar(const QString& text) {
    if (text.size() != 1)
        return false;
    const char16_t c = text.front().unicode();
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A pause this long starts a new measurement.
constexpr qint64 kNewScanMs = 1000;

} // namespace

ReaderMeasure measureScan(const std::vector<TimedKey>& keys) {
    ReaderMeasure m;
    std::vector<TimedKey> typed = keys;
    if (!typed.empty() && (typed.back().text == u"\r" || typed.back().text == u"\t")) {
        m.end = typed.back().text == u"\r" ? QStringLiteral("Enter") : QStringLiteral("Tab");
        typed.pop_back();
    }
    // The longest run of letters and digits.
    size_t best = 0;
    size_t bestLength = 0;
    for (size_t i = 0; i < typed.size();) {
        size_t j = i;
        while (j < typed.size() && isCodeChar(typed[j].text))
            ++j;
        if (j - i > bestLength) {
            best = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    for (size_t i = 0; i < typed.size(); ++i) {
        if (i < best)
            m.prefix += typed[i].text;
        else if (i < best + bestLength)
            m.code += typed[i].text;
        else
            m.suffix += typed[i].text;
    }
    std::vector<qint64> gaps;
    for (size_t i = 1; i < keys.size(); ++i)
        gaps.push_back(std::max<qint64>(0, keys[i].at - keys[i - 1].at));
    if (!gaps.empty()) {
        m.slowestGap = *std::max_element(gaps.begin(), gaps.end());
        std::vector<qint64> sorted = gaps;
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                         sorted.end());
        m.medianGap = sorted[sorted.size() / 2];
    }
    m.proposed.prefix = m.prefix;
    m.proposed.suffix = m.suffix;
    const qint64 wanted = (m.slowestGap * 3 / 2 + 9) / 10 * 10;
    m.proposed.slowestKeyMs = int(
        std::clamp<qint64>(wanted, ReaderSettings::kDefaultSlowestKeyMs, ReaderSettings::kMostMs));
    QStringList advice;
    if (m.end.isEmpty() && m.suffix.isEmpty())
        advice.append(QStringLiteral("El lector no envía Enter ni Tab después del código: "
                                     "prográmelo para que lo haga (vea su manual)."));
    if (wanted > ReaderSettings::kMostMs)
        advice.append(QStringLiteral("El lector es más lento (%1 ms entre teclas) de lo que el "
                                     "programa puede distinguir de una persona: prográmelo a "
                                     "mayor velocidad.")
                          .arg(m.slowestGap));
    if (m.code.size() < ChipScanner::kMinLength)
        advice.append(QStringLiteral("No se leyó un código completo: vuelva a leer el chip."));
    m.advice = advice.join(u'\n');
    return m;
}

namespace {

// The box the test scan is read into: it keeps every key with its time, Enter and Tab included.
class ScanBox : public QLineEdit {
public:
    explicit ScanBox(QWidget* parent) : QLineEdit(parent) { clock_.start(); }
    std::function<void(const std::vector<TimedKey>&)> measured;

protected:
    bool event(QEvent* e) override {
        // Tab would move the focus before keyPressEvent saw it.
        if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Tab) {
            keyPressEvent(static_cast<QKeyEvent*>(e));
            return true;
        }
        return QLineEdit::event(e);
    }
    void keyPressEvent(QKeyEvent* key) override {
        const qint64 at = key->timestamp() != 0 ? qint64(key->timestamp()) : clock_.elapsed();
        QString text = key->text();
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            text = QStringLiteral("\r");
        else if (key->key() == Qt::Key_Tab)
            text = QStringLiteral("\t");
        if (text.size() != 1 || (!text.front().isPrint() && text != u"\r" && text != u"\t")) {
            QLineEdit::keyPressEvent(key); // Esc closes the dialog, arrows move the cursor
            return;
        }
        if (keys_.empty() || at - keys_.back().at > kNewScanMs || at < keys_.back().at ||
            keys_.back().text == u"\r" || keys_.back().text == u"\t") {
            keys_.clear();
            clear();
        }
        keys_.push_back({text, at});
        if (text != u"\r" && text != u"\t")
            insert(text);
        if (measured)
            measured(keys_);
    }

private:
    QElapsedTimer clock_;
    std::vector<TimedKey> keys_;
};

} // namespace

void testReader(ChipScanner& scanner, const QString& iniPath, QWidget* parent) {
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("dlgProbarLector"));
    dialog->setWindowTitle(QStringLiteral("Probar lector"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setMinimumWidth(520);
    auto* layout = new QVBoxLayout(dialog);
    auto* intro = new QLabel(QStringLiteral("Lea un chip con el lector. Se medirá lo que el lector "
                                            "envía y a qué velocidad, y se propondrán los ajustes "
                                            "que lo reconocen."),
                             dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* box = new ScanBox(dialog);
    box->setObjectName(QStringLiteral("txtLecturaPrueba"));
    box->setAccessibleName(QStringLiteral("Lectura de prueba"));
    layout->addWidget(box);
    auto* result = new QLabel(QStringLiteral("Esperando una lectura…"), dialog);
    result->setObjectName(QStringLiteral("lblMedida"));
    result->setWordWrap(true);
    result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(result);
    auto* lines = new QPlainTextEdit(dialog);
    lines->setObjectName(QStringLiteral("txtAjustesLector"));
    lines->setReadOnly(true);
    lines->setPlainText(scanner.settings().iniText());
    lines->setFixedHeight(lines->fontMetrics().lineSpacing() * 5 +
                          2 * int(lines->document()->documentMargin()) + 2 * lines->frameWidth());
    layout->addWidget(lines);
    auto* where = new QLabel(QStringLiteral("Para conservar los ajustes, copie estas líneas en "
                                            "«%1».")
                                 .arg(iniPath),
                             dialog);
    where->setWordWrap(true);
    layout->addWidget(where);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* use =
        buttons->addButton(QStringLiteral("&Usar estos ajustes"), QDialogButtonBox::ApplyRole);
    use->setObjectName(QStringLiteral("btnUsarAjustes"));
    use->setEnabled(false);
    QPushButton* copy = buttons->addButton(QStringLiteral("&Copiar"), QDialogButtonBox::ActionRole);
    QPushButton* close =
        buttons->addButton(QStringLiteral("C&errar"), QDialogButtonBox::RejectRole);
    use->setAutoDefault(false);
    copy->setAutoDefault(false);
    close->setAutoDefault(false);
    layout->addWidget(buttons);

    auto proposed = std::make_shared<ReaderSettings>(scanner.settings());
    box->measured = [result, lines, use, proposed](const std::vector<TimedKey>& keys) {
        const ReaderMeasure m = measureScan(keys);
        const store::ChipInfo shape = store::classifyChip(m.code);
        QStringList text;
        text.append(QStringLiteral("Código leído: %1 (%2)")
                        .arg(m.code, shape.description.isEmpty() ? QStringLiteral("vacío")
                                                                 : shape.description));
        text.append(
            QStringLiteral("Antes del código: %1. Después: %2%3.")
                .arg(m.prefix.isEmpty() ? QStringLiteral("nada") : u'«' + m.prefix + u'»',
                     m.suffix.isEmpty() ? QString() : u'«' + m.suffix + QStringLiteral("» "),
                     m.end.isEmpty() ? (m.suffix.isEmpty() ? QStringLiteral("nada") : QString())
                                     : (m.suffix.isEmpty() ? m.end : u"y " + m.end)));
        text.append(QStringLiteral("Tiempo entre teclas: %1 ms de costumbre, %2 ms el más largo.")
                        .arg(m.medianGap)
                        .arg(m.slowestGap));
        if (!m.advice.isEmpty())
            text.append(m.advice);
        result->setText(text.join(u'\n'));
        *proposed = m.proposed;
        lines->setPlainText(m.proposed.iniText());
        use->setEnabled(m.code.size() >= ChipScanner::kMinLength);
    };
    QPointer<ChipScanner> target(&scanner);
    QObject::connect(use, &QPushButton::clicked, dialog, [target, proposed, result] {
        if (target)
            target->setSettings(*proposed);
        result->setText(result->text() +
                        QStringLiteral("\nAjustes en uso hasta que se cierre el programa."));
    });
    QObject::connect(copy, &QPushButton::clicked, dialog,
                     [lines] { QApplication::clipboard()->setText(lines->toPlainText()); });
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::reject);
    dialog->open();
    box->setFocus(Qt::OtherFocusReason);
}

} // namespace browse
