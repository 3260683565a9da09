#pragma once

#include "CardStore.h"
#include "PrintSurface.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace browse {
class CodeSearch;
class FreeSearch;
class EntryKeys;
class StoreFollower;
class TypeAheadIndex;
class TypeAheadLists;
} // namespace browse
namespace store {
class ChangeWatch;
} // namespace store
namespace output {
class ListingPreview;
} // namespace output
namespace report {
class ReportWindow;
} // namespace report
namespace editing {
class CardEditor;
class IdentifierHints;
} // namespace editing

namespace app {

class MainWindow;

// Connects the commands of the subsystems to the main window: editing, search, type-ahead lists
// and keys, identifier hints, card printing, export and the listing. Each command lives in the
// subsystem that owns it; this only hands it the window's entry form, store, messages and clock.
class Commands : public QObject {
    Q_OBJECT
public:
    // `printer` is where the card commands print; the default printer when null.
    explicit Commands(MainWindow& window, std::unique_ptr<output::PrintTarget> printer = nullptr);
    ~Commands() override;

    browse::TypeAheadIndex* typeAhead() const { return typeAhead_.get(); }
    // What tells and follows another program's writes; null without a store.
    store::ChangeWatch* changeWatch() const { return watch_.get(); }
    browse::StoreFollower* storeFollower() const { return follower_; }
    browse::FreeSearch* freeSearch() const { return freeSearch_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void wireStoreCommands();
    void wireNoStoreCommands();
    void printCard(bool quick);
    void addWithCode(const QString& code);
    void wireChipReader();
    // The card the fields show, read as stored now; false (with any failure told) when browse
    // mode shows no card.
    bool readShownCard(store::Card* card);
    void showCertificate();
    void wireHistory();
    void wireMerge();
    void showRestored(store::RowId restored);
    void wireFreeSearch();
    // Begins the read of the type-ahead values, once.
    void startTypeAhead();

    MainWindow& window_;
    std::unique_ptr<output::PrintTarget> printer_;
    std::unique_ptr<editing::CardEditor> editor_;
    std::unique_ptr<browse::CodeSearch> search_;
    std::unique_ptr<browse::TypeAheadIndex> typeAhead_;
    browse::TypeAheadLists* lists_ = nullptr;
    std::unique_ptr<store::ChangeWatch> watch_;
    browse::StoreFollower* follower_ = nullptr;
    browse::FreeSearch* freeSearch_ = nullptr;
    QPointer<output::ListingPreview> listing_; // the open listing preview, if any
    QPointer<report::ReportWindow> report_;    // the open implant report, if any
    int storeListener_ = 0;
    bool typeAheadStarted_ = false;
};

} // namespace app
