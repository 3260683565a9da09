#pragma once

#include "CardStore.h"
#include "Clock.h"
#include "EntryForm.h"
#include "Folders.h"
#include "Ini.h"
#include "Messages.h"

#include <QHash>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace browse {
class CardGrid;
class TypeAheadList;
} // namespace browse

namespace app {

class CommandButton;
class DatePicker;

// The main window "Clientes": the entry fields laid out like the printed card, the card grid,
// the ten command buttons along the bottom, the hidden search buttons, frames and type-ahead
// lists. It implements the entry form through which the commands of the other subsystems reach
// its controls; what each command does lives in the subsystem that owns it and is installed here
// with setCommandHandler.
class MainWindow : public QWidget, public store::EntryForm {
    Q_OBJECT
public:
    MainWindow(store::Folders folders, store::MessageLayer& messages, const store::Clock& clock,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- what the subsystems work with ---
    const store::Folders& folders() const { return folders_; }
    store::MessageLayer& messages() const { return messages_; }
    const store::Clock& clock() const { return clock_; }
    store::CardStore* cardStore() const { return cards_.get(); } // null when not open
    store::TableCursor* table() const { return table_.get(); }   // TablaClientes
    const QString& textoPie() const { return textoPie_; }
    void setTextoPie(const QString& text) { textoPie_ = text; }
    browse::CardGrid* grid() const { return grid_; }
    QLabel* positionLabel() const { return label27_; }
    browse::TypeAheadList* typeAheadList(const QString& name) const;
    QLineEdit* textBox(store::Field field) const; // null for dates, combos and sexo
    QComboBox* comboBox(store::Field field) const;
    // Pixels for twips at this window's logical resolution.
    int twips(int twips) const;

    // --- commands ---
    // Runs when the button with this objectName is clicked (the ten command buttons and the two
    // search buttons). cmdSalir has its own handling unless one is installed.
    void setCommandHandler(const QString& button, std::function<void()> handler);
    void runCommand(const QString& button);

    // --- start-up steps ---
    void setVersionText(const QString& text); // Label6
    // The footer's line naming the open registry (empty: none is open).
    void setRegistryText(const QString& description);
    void setCardStore(std::unique_ptr<store::CardStore> cards);
    void fillCombos(const store::IniFile& ini);
    bool loadLogo(const QString& path); // false when the file is no loadable picture
    void setRunTimeCaptions();

    // --- the entry form ---
    QString fieldText(store::Field field) const override;
    void setFieldText(store::Field field, const QString& text) override;
    bool fieldAccepted(store::Field field) const override;
    void setFieldDate(store::Field field, const QDate& date) override;
    void setFieldEnabled(store::Field field, bool enabled) override;
    bool fieldEnabled(store::Field field) const override;
    void focusField(store::Field field) override;
    void selectFieldText(store::Field field) override;
    bool fieldHasFocus(store::Field field) const override;

    QString buttonCaption(const QString& button) const override;
    void setButtonCaption(const QString& button, const QString& caption) override;
    void setButtonEnabled(const QString& button, bool enabled) override;
    bool buttonEnabled(const QString& button) const override;

    int gridRows() const override;
    int gridCurrentRow() const override;
    void setGridCurrentRow(int row) override;
    GridView gridView() const override;
    void restoreGridView(const GridView& view) override;
    QString gridCurrentCode() const override;
    void gridAppendCard(const store::Card& card, store::RowId id) override;
    void gridReplaceCard(int row, const store::Card& card) override;
    void gridRemoveRow(int row) override;
    void setGridEnabled(bool enabled) override;
    bool gridEnabled() const override;
    void gridShowRows(std::vector<store::RowId> ids) override;
    std::vector<store::RowId> gridRowIds() const override;
    store::Status gridShowStored(const store::CardStore& cards, store::RowId keep,
                                 int* keepRow) override;
    bool gridListsStored() const override;
    bool gridFollowStored(std::span<const store::RowId> written,
                          std::span<const std::pair<store::RowId, store::Card>> stored,
                          qint64 count) override;
    void setSearchControlsVisible(bool visible) override;
    void llenaGrilla() override;
    store::Status gridAppendStored(const store::CardStore& cards,
                                   std::span<const store::RowId> ids) override;

    bool enEdicion() const override { return enEdicion_; }
    void setEnEdicion(bool on) override { enEdicion_ = on; }
    void modoConsulta() override;
    void cargaTarjeta() override;
    store::RowId shownCardId() const override { return shownId_; }
    void ocultaListas() override;
    store::LoadedCard loadedCard() const override { return loaded_; }

signals:
    void commandClicked(const QString& button);
    void gridEnterPressed();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Anchor { Fixed, Grow, Bottom, BottomRight };
    struct Placed {
        QWidget* widget;
        QRect twips;
        Anchor anchor;
    };

    void buildTitle();
    void buildFields();
    void buildGridArea();
    void buildButtons();
    void buildHiddenControls();
    QWidget* place(QWidget* widget, int left, int top, int width, int height,
                   Anchor anchor = Anchor::Fixed);
    QLabel* addLabel(const QString& name, const QString& caption, int left, int top,
                     QWidget* buddy = nullptr);
    QLineEdit* addTextBox(store::Field field, int left, int top, int width, int height);
    QComboBox* addCombo(store::Field field, int left, int top, int width, int height);
    DatePicker* addDatePicker(store::Field field, int left, int top, int width, int height);
    void applyGeometry(const Placed& placed, QSize extra);
    void hoverButton(CommandButton* hovered);
    void onGridCellChanged();
    void followShownCard();
    void onCommand(const QString& button);
    void setSex(const QString& letter);
    QWidget* fieldWidget(store::Field field) const;
    QPushButton* button(const QString& name) const;

    store::Folders folders_;
    store::MessageLayer& messages_;
    const store::Clock& clock_;
    std::unique_ptr<store::CardStore> cards_;
    std::unique_ptr<store::TableCursor> table_;
    QString textoPie_;
    QLabel* registryLabel_ = nullptr;
    class StoreWaitIndicator* waitIndicator_ = nullptr;
    bool enEdicion_ = false;
    bool loadingCard_ = false;
    store::LoadedCard loaded_;             // what CargaTarjeta last put into the fields
    store::RowId shownId_ = store::kNoRow; // the card the entry fields show

    std::array<QWidget*, store::kFieldCount> fields_{};
    QRadioButton* option1_ = nullptr;
    QRadioButton* option2_ = nullptr;
    browse::CardGrid* grid_ = nullptr;
    QLabel* label27_ = nullptr;
    QLabel* label6_ = nullptr;
    QLabel* image12_ = nullptr;
    std::vector<CommandButton*> hoverOrder_; // the order in which hovering writes the buttons
    QHash<QString, QPushButton*> buttons_;
    QHash<QString, browse::TypeAheadList*> lists_;
    QHash<QString, std::function<void()>> handlers_;
    std::vector<Placed> anchored_;
    QSize baseSize_;
};

} // namespace app
