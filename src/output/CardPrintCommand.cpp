#include "CardPrintCommand.h"

#include "CardPrintLayout.h"
#include "OffsetFile.h"

namespace output {

namespace {

PrintOutcome fail(store::MessageLayer& messages, const store::Status& status) {
    messages.inform(status.message(), store::kDefaultTitle, store::MessageLayer::Icon::Warning);
    return PrintOutcome::Failed;
}

} // namespace

PrintOutcome printCardCommand(store::CardStore& cards, const QString& code,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind) {
    return printCardCommand(
        cards, [&](store::RowId* id) { return cards.findCode(code, id); }, folders, footerText,
        messages, target, kind);
}

PrintOutcome printCardCommand(store::CardStore& cards, store::RowId id,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind) {
    return printCardCommand(
        cards,
        [id](store::RowId* found) {
            *found = id;
            return store::Status();
        },
        folders, footerText, messages, target, kind);
}

PrintOutcome printCardCommand(store::CardStore& cards,
                              const std::function<store::Status(store::RowId*)>& findCard,
                              const store::Folders& folders, const QString& footerText,
                              store::MessageLayer& messages, PrintTarget& target, PrintKind kind) {
    using Answer = store::MessageLayer::Answer;

    PrintOffsets offsets;
    if (store::Status s = readOffsetFile(folders.dataFile(store::kOffsetFileName), &offsets); !s)
        return fail(messages, s);

    bool fullPrint = true;
    if (kind == PrintKind::ThreeBlocks) {
        const Answer answer =
            messages.askYesNoCancel(QStringLiteral("Impresion Completa ?"),
                                    QStringLiteral("Tipo de Impresion"), Answer::Yes);
        if (answer == Answer::Cancel)
            return PrintOutcome::Cancelled;
        fullPrint = answer == Answer::Yes;
    }

    store::Status status;
    const qint64 count = cards.recordCount(&status);
    if (!status)
        return fail(messages, status);
    if (count <= 0)
        return PrintOutcome::NothingToPrint;

    store::RowId id = store::kNoRow;
    if (store::Status s = findCard(&id); !s)
        return fail(messages, s);
    if (id == store::kNoRow)
        return PrintOutcome::NothingToPrint;
    store::Card card;
    if (store::Status s = cards.readCard(id, &card); !s) {
        if (s.kind() == store::ErrorKind::NotFound)
            return PrintOutcome::NothingToPrint; // gone since it was shown, as an unknown code
        return fail(messages, s);
    }

    std::unique_ptr<PrintSurface> surface = target.open(&status);
    if (!surface)
        return fail(messages, status);
    const CardLayout& layout = kind == PrintKind::ThreeBlocks ? threeBlockLayout() : quickLayout();
    if (store::Status s = printCardLayout(layout, card, footerText, fullPrint, offsets, *surface);
        !s)
        return fail(messages, s);

    messages.inform(QStringLiteral("Tarjeta Enviada a la Impresora"),
                    QStringLiteral("Impresion de Tarjeta"), store::MessageLayer::Icon::Information);
    return PrintOutcome::Printed;
}

} // namespace output
