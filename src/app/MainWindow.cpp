#include "MainWindow.h"

#include "StoreWaitIndicator.h"

#include "TabOrder.h"

#include "Accessibility.h"
#include "Browse.h"
#include "CardGrid.h"
#include "Controls.h"
#include "DatePicker.h"
#include "TypeAheadList.h"

#include <QComboBox>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>

#include <algorithm>

namespace app {

namespace {

// The client area of the window as laid out, in twips.
constexpr int kClientWidth = 11100;
constexpr int kClientHeight = 7605;

struct ButtonSpec {
    const char16_t* name;
    const char16_t* designCaption;
    const char16_t* runCaption;
    const char16_t* toolTip;
    int left;
    int width;
};

// Left to right along the bottom edge. "&Imprimir Tarjeta" and "El&iminar" share Alt+I: as on
// the original platform, the shared letter moves the focus between the two buttons and clicks
// neither, which keeps a stray Alt+I from printing or deleting.
constexpr ButtonSpec kButtons[] = {
    {u"cmdListado", u"Imprimir Listado", u"Imprimir &Listado", u"Imprime listado", 75, 1530},
    {u"cmdImprimir", u"Imprimir Tarjeta", u"&Imprimir Tarjeta", u"Imprime tarjeta", 1620, 1545},
    {u"Command1", u"Imprime 1", u"Imprimir &1", u"Impirme 1", 3195, 1050},
    {u"cmdExcel", u"Exportar", u"Exportar", u"Exporta datos a formato Excel", 4275, 975},
    {u"cmdBuscar", u"Buscar", u"Buscar", u"Buscar tarjetas", 5280, 975},
    {u"cmdAgregar", u"Agregar", u"&Agregar", u"Agrega una nueva tarjeta", 6280, 1020},
    {u"cmdEditar", u"Editar", u"&Editar", u"Modifica una tarjeta", 7320, 975},
    {u"cmdCopiar", u"Copiar", u"&Copiar", u"Copia una tarjeta a otra nueva con datos basicos", 8320,
     885},
    {u"cmdEliminar", u"Eliminar", u"El&iminar", u"Elimina una tarjeta", 9240, 930},
    {u"cmdSalir", u"Salir", u"&Salir", u"Salir/Cancelar", 10200, 855},
};
constexpr int kButtonTop = 7125;
constexpr int kButtonHeight = 390;

// The order in which the hover handlers write the ten buttons.
constexpr const char16_t* kHoverOrder[] = {
    u"cmdListado",  u"cmdAgregar", u"cmdEditar", u"cmdEliminar", u"cmdCopiar",
    u"cmdImprimir", u"cmdExcel",   u"cmdBuscar", u"Command1",    u"cmdSalir"};

// Type-ahead lists: name, left, top, width (the height is set when a list is shown), and the name
// a screen reader gives it, after its box.
struct ListSpec {
    const char16_t* name;
    int left;
    int top;
    int width;
    const char16_t* accessibleName;
};
constexpr ListSpec kLists[] = {
    {u"lstLugar", 3960, 1680, 3585, u"Lista de lugares"},
    {u"lstImplantador", 3960, 2040, 3585, u"Lista de implantadores"},
    {u"lstColor", 8430, 2800, 2400, u"Lista de colores"},
    {u"lstPropietario", 1125, 3520, 3015, u"Lista de propietarios"},
    {u"lstRut", 4845, 3520, 1800, u"Lista de R.U.T."},
    {u"lstTelefono1", 7605, 3520, 1335, u"Lista de teléfonos del propietario"},
    {u"lstCel", 9645, 3520, 1215, u"Lista de celulares"},
    {u"lstDomicilio", 1125, 3880, 3540, u"Lista de domicilios"},
    {u"lstContacto", 1725, 4240, 4920, u"Lista de contactos"},
    {u"lstTelefono2", 7605, 4240, 1920, u"Lista de teléfonos del contacto"},
};

// The entry controls that browse mode disables, in that order.
constexpr store::Field kEntryFields[] = {
    store::FechaAtencion, store::FechaNacimiento, store::Lugar,       store::Codigo,
    store::FichaClinica,  store::NombreAnimal,    store::Especie,     store::Raza,
    store::Color,         store::EReproductivo,   store::Tamano,      store::Propietario,
    store::Rut,           store::Telefono1,       store::Cel,         store::Direccion,
    store::NumeroDepto,   store::BlockDepto,      store::Email,       store::GrupoFam,
    store::Contacto,      store::Telefono2,       store::Implantador, store::Sexo,
};

QString text(const char16_t* s) {
    return QString::fromUtf16(s);
}

QString labelOf(store::Field f) {
    return store::cardField(f).label.toString();
}

} // namespace

MainWindow::MainWindow(store::Folders folders, store::MessageLayer& messages,
                       const store::Clock& clock, QWidget* parent)
    : QWidget(parent), folders_(std::move(folders)), messages_(messages), clock_(clock) {
    setObjectName(QStringLiteral("Clientes"));
    setWindowTitle(store::kDefaultTitle);
    setMouseTracking(true);
    QFont base(QStringLiteral("Arial"));
    base.setPointSize(8);
    setFont(base);
    // Browse mode shows the current card in disabled fields: keep their text readable.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x55, 0x55, 0x55));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x55, 0x55, 0x55));
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    setPalette(pal);

    buildTitle();
    buildFields();
    buildGridArea();
    buildButtons();
    buildHiddenControls();
    browse::applyTabOrder(this);

    baseSize_ = QSize(twips(kClientWidth), twips(kClientHeight));
    setMinimumSize(baseSize_);
    resize(baseSize_);
}

MainWindow::~MainWindow() {
    // What is attached to the window (its commands, key filters and hints) refers to it and to
    // its store: it goes first, while both are whole.
    const QObjectList attached = children();
    for (QObject* child : attached) {
        if (!child->isWidgetType())
            delete child;
    }
    // The grid reads from the store: let it go first.
    if (grid_)
        grid_->setStore(nullptr);
    table_.reset();
    cards_.reset();
}

int MainWindow::twips(int t) const {
    return browse::twipsToPixels(t, this);
}

QWidget* MainWindow::place(QWidget* widget, int left, int top, int width, int height,
                           Anchor anchor) {
    Placed placed{widget, QRect(left, top, width, height), anchor};
    applyGeometry(placed, QSize());
    if (anchor != Anchor::Fixed)
        anchored_.push_back(placed);
    return widget;
}

void MainWindow::applyGeometry(const Placed& p, QSize extra) {
    QRect r(twips(p.twips.left()), twips(p.twips.top()), twips(p.twips.width()),
            twips(p.twips.height()));
    switch (p.anchor) {
    case Anchor::Fixed:
        break;
    case Anchor::Grow:
        r.setSize(r.size() + extra);
        break;
    case Anchor::Bottom:
        r.translate(0, extra.height());
        break;
    case Anchor::BottomRight:
        r.translate(extra.width(), extra.height());
        break;
    }
    p.widget->setGeometry(r);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QSize extra(std::max(0, width() - baseSize_.width()),
                      std::max(0, height() - baseSize_.height()));
    for (const Placed& p : anchored_)
        applyGeometry(p, extra);
}

QLabel* MainWindow::addLabel(const QString& name, const QString& caption, int left, int top,
                             QWidget* buddy) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    // As tall as the text boxes of its row, the caption centred on their text.
    label->adjustSize();
    label->setGeometry(twips(left), twips(top), label->width(),
                       std::max(label->height(), twips(285)));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (buddy) {
        label->setBuddy(buddy);
        buddy->setAccessibleName(caption);
    }
    return label;
}

QLineEdit* MainWindow::addTextBox(store::Field field, int left, int top, int width, int height) {
    const store::CardField& f = store::cardField(field);
    auto* box = new LimitedLineEdit(f.entryLimit, this);
    box->setObjectName(f.control.toString());
    box->setAccessibleName(f.label.toString());
    place(box, left, top, width, height);
    fields_[field] = box;
    return box;
}

QComboBox* MainWindow::addCombo(store::Field field, int left, int top, int width, int height) {
    const store::CardField& f = store::cardField(field);
    auto* combo = new QComboBox(this);
    combo->setObjectName(f.control.toString());
    combo->setAccessibleName(f.label.toString());
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr); // typed text stays as typed
    combo->setMaxVisibleItems(12);
    markLabelledCombo(combo);
    // Emptied by the user, the combo has no current item: the first Down gives the first one.
    connect(combo->lineEdit(), &QLineEdit::textEdited, combo, [combo](const QString& text) {
        if (text.isEmpty() && combo->currentIndex() != -1)
            combo->setCurrentIndex(-1);
    });
    place(combo, left, top, width, height);
    fields_[field] = combo;
    return combo;
}

DatePicker* MainWindow::addDatePicker(store::Field field, int left, int top, int width,
                                      int height) {
    const store::CardField& f = store::cardField(field);
    auto* picker = new DatePicker(clock_, this);
    picker->setObjectName(f.control.toString());
    picker->setAccessibleName(f.label.toString());
    place(picker, left, top, width, height);
    fields_[field] = picker;
    return picker;
}

void MainWindow::buildTitle() {
    auto* banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setAccessibleName(QStringLiteral("Tarjeta de Identificacion"));
    place(banner, 120, 120, 3240, 990);
    banner->setPixmap(QPixmap(QStringLiteral(":/images/banner.png"))
                          .scaled(banner->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    auto* shape2 = new QFrame(this);
    shape2->setObjectName(QStringLiteral("Shape2"));
    shape2->setFrameShape(QFrame::Box);
    place(shape2, 3480, 80, 5175, 615);

    auto* title = new QLabel(QStringLiteral("TARJETA DE IDENTIFICACION"), this);
    title->setObjectName(QStringLiteral("Label5"));
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPointSize(14);
    titleFont.setBold(true);
    title->setFont(titleFont);
    place(title, 3300, 120, 5415, 495);

    image12_ = new QLabel(this);
    image12_->setObjectName(QStringLiteral("Image12"));
    image12_->setAccessibleName(QStringLiteral("Logo"));
    image12_->setAlignment(Qt::AlignCenter);
    place(image12_, 9120, 0, 1890, 1305);
    image12_->setPixmap(
        QPixmap(QStringLiteral(":/images/logo.png"))
            .scaled(image12_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void MainWindow::buildFields() {
    using namespace store;
    // Row 1470: date of attention, place, and the microchip box in its frame.
    auto* shape3 = new QFrame(this);
    shape3->setObjectName(QStringLiteral("Shape3"));
    shape3->setFrameShape(QFrame::Box);
    place(shape3, 7695, 1350, 3375, 735);

    addLabel(QStringLiteral("Label1"), labelOf(FechaAtencion), 135, 1470,
             addDatePicker(FechaAtencion, 1815, 1455, 1335, 300));
    addLabel(QStringLiteral("Label2"), labelOf(Lugar), 3255, 1470,
             addTextBox(Lugar, 3975, 1470, 3600, 285));
    QLineEdit* code = addTextBox(Codigo, 7875, 1515, 3015, 420);
    QFont codeFont(QStringLiteral("Arial Narrow"));
    codeFont.setPointSize(12);
    codeFont.setBold(true);
    code->setFont(codeFont);
    code->setAlignment(Qt::AlignCenter);
    QLabel* codeLabel = addLabel(QStringLiteral("Label15"), labelOf(Codigo), 8640, 1905, code);
    // Small enough to stay inside the frame around the code.
    QFont small = codeLabel->font();
    small.setPointSize(7);
    codeLabel->setFont(small);
    codeLabel->adjustSize();
    codeLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Row 1830
    addLabel(QStringLiteral("Label7"), labelOf(FichaClinica), 135, 1830,
             addTextBox(FichaClinica, 1575, 1830, 1200, 285));
    addLabel(QStringLiteral("Label24"), labelOf(Implantador), 2880, 1830,
             addTextBox(Implantador, 3960, 1830, 3600, 285));

    // Row 2190
    addLabel(QStringLiteral("Label16"), labelOf(NombreAnimal), 135, 2190,
             addTextBox(NombreAnimal, 2535, 2190, 5040, 285));
    addLabel(QStringLiteral("Label10"), labelOf(FechaNacimiento), 7695, 2190,
             addDatePicker(FechaNacimiento, 9615, 2145, 1335, 300));

    // Row 2550
    addLabel(QStringLiteral("Label9"), labelOf(Especie), 135, 2550,
             addCombo(Especie, 960, 2520, 2175, 315));
    addLabel(QStringLiteral("Label8"), labelOf(Raza), 3495, 2550,
             addCombo(Raza, 4080, 2520, 3375, 315));
    addLabel(QStringLiteral("Label14"), labelOf(Color), 7695, 2550,
             addTextBox(Color, 8400, 2550, 2415, 285));

    // Row 2910: the two sex options, kept exclusive by the window so that both can be clear.
    auto* male = new PairedOption(QStringLiteral("M"), this);
    auto* female = new PairedOption(QStringLiteral("H"), this);
    male->setPartner(female);
    female->setPartner(male);
    option1_ = male;
    option1_->setObjectName(QStringLiteral("Option1"));
    option2_ = female;
    option2_->setObjectName(QStringLiteral("Option2"));
    for (QRadioButton* option : {option1_, option2_}) {
        // Without auto-exclusivity Qt would announce them as check boxes.
        markKeptExclusive(option);
        option->setAutoExclusive(false);
        connect(option, &QRadioButton::clicked, this, [this, option] {
            setSex(option == option1_ ? QStringLiteral("M") : QStringLiteral("H"));
        });
    }
    place(option1_, 975, 2910, 495, 255);
    place(option2_, 1455, 2910, 495, 255);
    option1_->setAccessibleName(labelOf(Sexo) + QStringLiteral(" M"));
    option2_->setAccessibleName(labelOf(Sexo) + QStringLiteral(" H"));
    fields_[Sexo] = option1_;
    addLabel(QStringLiteral("Label13"), labelOf(Sexo), 120, 2940);
    addLabel(QStringLiteral("Label12"), labelOf(EReproductivo), 2175, 2910,
             addCombo(EReproductivo, 4080, 2880, 2655, 315));
    addLabel(QStringLiteral("Label4"), labelOf(Tamano), 6840, 2910,
             addCombo(Tamano, 7560, 2880, 1215, 315));
    addLabel(QStringLiteral("Label28"), labelOf(GrupoFam), 8760, 2910,
             addTextBox(GrupoFam, 9720, 2880, 1080, 285));

    // Row 3270
    addLabel(QStringLiteral("Label3"), labelOf(Propietario), 135, 3270,
             addTextBox(Propietario, 1080, 3270, 3015, 285));
    addLabel(QStringLiteral("Label17"), labelOf(Rut), 4215, 3270,
             addTextBox(Rut, 4815, 3270, 1800, 285));
    addLabel(QStringLiteral("Label19"), labelOf(Telefono1), 6735, 3270,
             addTextBox(Telefono1, 7575, 3270, 1335, 285));
    addLabel(QStringLiteral("Label18"), labelOf(Cel), 9135, 3270,
             addTextBox(Cel, 9615, 3270, 1215, 285));

    // Row 3630
    addLabel(QStringLiteral("Label20"), labelOf(Direccion), 135, 3630,
             addTextBox(Direccion, 1080, 3630, 3495, 285));
    addLabel(QStringLiteral("Label25"), labelOf(NumeroDepto), 4680, 3630,
             addTextBox(NumeroDepto, 5040, 3630, 735, 285));
    addLabel(QStringLiteral("Label26"), labelOf(BlockDepto), 5880, 3630,
             addTextBox(BlockDepto, 6960, 3630, 615, 285));
    addLabel(QStringLiteral("Label11"), labelOf(Email), 7680, 3630,
             addTextBox(Email, 8295, 3630, 2535, 285));

    // Row 3990
    addLabel(QStringLiteral("Label21"), labelOf(Contacto), 135, 3990,
             addTextBox(Contacto, 1695, 3990, 4920, 285));
    addLabel(QStringLiteral("Label22"), labelOf(Telefono2), 6735, 3990,
             addTextBox(Telefono2, 7575, 3990, 1920, 285));
    // Both telephone boxes are captioned "Teléfono": a screen reader tells whose they are.
    textBox(Telefono1)->setAccessibleName(QStringLiteral("Teléfono del propietario"));
    textBox(Telefono2)->setAccessibleName(QStringLiteral("Teléfono del contacto"));
}

void MainWindow::buildGridArea() {
    grid_ = new browse::CardGrid(this);
    grid_->setAccessibleName(QStringLiteral("Tarjetas"));
    place(grid_, 120, 4380, 10815, 2160, Anchor::Grow);
    connect(grid_, &browse::CardGrid::currentCellChanged, this, &MainWindow::onGridCellChanged);
    connect(grid_, &browse::CardGrid::rowClicked, this, &MainWindow::cargaTarjeta);
    connect(grid_, &browse::CardGrid::enterPressed, this, [this] {
        emit gridEnterPressed();
        // The edit command as its button would run it; not while the button is off (entry and
        // search modes, an empty table).
        if (buttonEnabled(QStringLiteral("cmdEditar")))
            runCommand(QStringLiteral("cmdEditar"));
    });
    connect(grid_->cardModel(), &browse::CardGridModel::storeError, this,
            [this](const QString& message) { messages_.notice(message); });

    label27_ = new QLabel(QStringLiteral("Version 3.31"), this);
    label27_->setObjectName(QStringLiteral("Label27"));
    place(label27_, 120, 6600, 5295, 240, Anchor::Bottom);
    label6_ = new QLabel(QStringLiteral("Version 3.31"), this);
    label6_->setObjectName(QStringLiteral("Label6"));
    label6_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    place(label6_, 9420, 6780, 1590, 240, Anchor::BottomRight);
    // Which registry is open: the file's path, or the server and base of a shared registry.
    registryLabel_ = new QLabel(this);
    registryLabel_->setObjectName(QStringLiteral("lblRegistro"));
    registryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    place(registryLabel_, 120, 6840, 9200, 240, Anchor::Bottom);
}

void MainWindow::buildButtons() {
    for (const ButtonSpec& spec : kButtons) {
        const QString name = text(spec.name);
        auto* b = new CommandButton(name, text(spec.designCaption), text(spec.toolTip), this);
        b->setAccessibleName(text(spec.designCaption));
        place(b, spec.left, kButtonTop, spec.width, kButtonHeight, Anchor::Bottom);
        buttons_.insert(name, b);
        connect(b, &QPushButton::clicked, this, [this, name] { onCommand(name); });
        connect(b, &CommandButton::hovered, this, [this, b] { hoverButton(b); });
    }
    for (const char16_t* name : kHoverOrder)
        hoverOrder_.push_back(static_cast<CommandButton*>(buttons_.value(text(name))));
}

void MainWindow::buildHiddenControls() {
    // The two frames the search shows over the entry area; small and hidden until then.
    for (const QString& name : {QStringLiteral("Frame1"), QStringLiteral("Frame2")}) {
        auto* frame = new QGroupBox(this);
        frame->setObjectName(name);
        frame->setAutoFillBackground(true);
        frame->setGeometry(0, 0, twips(615), twips(615));
        frame->hide();
    }
    const auto searchButton = [this](const QString& name, const QString& caption, int left, int top,
                                     int width, int height) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        place(b, left, top, width, height);
        b->hide();
        buttons_.insert(name, b);
        connect(b, &QPushButton::clicked, this, [this, name] { onCommand(name); });
    };
    searchButton(QStringLiteral("btnBuscarOK"), QStringLiteral("Ok"), 10680, 1800, 375, 255);
    searchButton(QStringLiteral("btnBuscarFin"), QStringLiteral("x"), 10800, 1320, 255, 255);
    // "x" read aloud says nothing: say what the button does.
    buttons_.value(QStringLiteral("btnBuscarFin"))
        ->setAccessibleName(QStringLiteral("Cerrar búsqueda"));
    buttons_.value(QStringLiteral("btnBuscarFin"))->setToolTip(QStringLiteral("Cerrar búsqueda"));

    for (const ListSpec& spec : kLists) {
        auto* list = new browse::TypeAheadList(this);
        const QString name = text(spec.name);
        list->setObjectName(name);
        list->setAccessibleName(text(spec.accessibleName));
        place(list, spec.left, spec.top, spec.width, 900);
        list->hide();
        lists_.insert(name, list);
    }
    // Lists stand over the fields under them.
    for (browse::TypeAheadList* list : std::as_const(lists_))
        list->raise();
}

// --- subsystems' access ---------------------------------------------------------------------

browse::TypeAheadList* MainWindow::typeAheadList(const QString& name) const {
    return lists_.value(name);
}

QLineEdit* MainWindow::textBox(store::Field field) const {
    if (field < 0 || field >= store::kFieldCount)
        return nullptr;
    return store::cardField(field).kind == store::ControlKind::Text
               ? static_cast<QLineEdit*>(fields_[field])
               : nullptr;
}

QComboBox* MainWindow::comboBox(store::Field field) const {
    if (field < 0 || field >= store::kFieldCount)
        return nullptr;
    return store::cardField(field).kind == store::ControlKind::Combo
               ? static_cast<QComboBox*>(fields_[field])
               : nullptr;
}

QWidget* MainWindow::fieldWidget(store::Field field) const {
    if (field < 0 || field >= store::kFieldCount)
        return nullptr;
    return fields_[field];
}

QPushButton* MainWindow::button(const QString& name) const {
    return buttons_.value(name);
}

void MainWindow::setCommandHandler(const QString& name, std::function<void()> handler) {
    handlers_.insert(name, std::move(handler));
}

void MainWindow::runCommand(const QString& name) {
    onCommand(name);
}

void MainWindow::onCommand(const QString& name) {
    emit commandClicked(name);
    if (const auto it = handlers_.constFind(name); it != handlers_.constEnd() && *it) {
        (*it)();
        return;
    }
    if (name == u"cmdSalir") {
        // "&Cancela" leaves entry mode without saving; "&Salir" ends the program.
        if (buttonCaption(name) == u"&Cancela")
            modoConsulta();
        else
            close();
    }
}

// --- start-up steps -------------------------------------------------------------------------

void MainWindow::setRegistryText(const QString& description) {
    registryLabel_->setText(description.isEmpty()
                                ? QStringLiteral("Sin registro de tarjetas abierto")
                                : QStringLiteral("Registro: ") + description);
}

void MainWindow::setVersionText(const QString& text) {
    label6_->setText(text);
}

void MainWindow::setCardStore(std::unique_ptr<store::CardStore> cards) {
    grid_->setStore(nullptr);
    table_.reset();
    if (waitIndicator_)
        waitIndicator_->follow(nullptr);
    cards_ = std::move(cards);
    if (cards_) {
        // The window keeps painting while the store waits for a lock or a server.
        cards_->workOnOwnThread();
        if (!waitIndicator_) {
            const QList<QPushButton*> buttons = findChildren<QPushButton*>();
            waitIndicator_ = new StoreWaitIndicator(
                this, std::vector<QWidget*>(buttons.begin(), buttons.end()), registryLabel_);
        }
        waitIndicator_->follow(cards_->storeThread());
        table_ = cards_->openTable();
    }
    grid_->setStore(cards_.get());
}

void MainWindow::fillCombos(const store::IniFile& ini) {
    using namespace store;
    const auto fill = [&](Field field, const QStringList& items) {
        QComboBox* combo = comboBox(field);
        const QString kept = combo->currentText();
        combo->clear();
        combo->addItems(items);
        combo->setEditText(kept);
    };
    fill(Especie, splitItemList(LeeIni(ini, kIniSectionLists, QStringLiteral("ESPECIE"))));
    fill(EReproductivo,
         splitItemList(LeeIni(ini, kIniSectionLists, QStringLiteral("ESTADO REPRODUCTIVO"))));
    fill(Tamano, splitItemList(LeeIni(ini, kIniSectionLists, QStringLiteral("TAMAÑO"))));
    fill(Raza, readBreedList(ini, kIniSectionLists));
}

bool MainWindow::loadLogo(const QString& path) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    image12_->setPixmap(QPixmap::fromImage(image).scaled(image12_->size(), Qt::KeepAspectRatio,
                                                         Qt::SmoothTransformation));
    return true;
}

void MainWindow::setRunTimeCaptions() {
    for (const ButtonSpec& spec : kButtons)
        setButtonCaption(text(spec.name), text(spec.runCaption));
}

// --- entry fields ---------------------------------------------------------------------------

QString MainWindow::fieldText(store::Field field) const {
    switch (store::cardField(field).kind) {
    case store::ControlKind::Text:
        return textBox(field)->text();
    case store::ControlKind::Combo:
        return comboBox(field)->currentText();
    case store::ControlKind::Date:
        return static_cast<DatePicker*>(fields_[field])->fieldText();
    case store::ControlKind::Sex:
        if (option1_->isChecked())
            return QStringLiteral("M");
        if (option2_->isChecked())
            return QStringLiteral("H");
        return QString(QLatin1StringView(""));
    case store::ControlKind::None:
        break;
    }
    return {};
}

void MainWindow::setSex(const QString& letter) {
    option1_->setChecked(!letter.isNull() && letter == u"M");
    option2_->setChecked(!letter.isNull() && letter != u"M");
}

void MainWindow::setFieldText(store::Field field, const QString& value) {
    switch (store::cardField(field).kind) {
    case store::ControlKind::Text:
        textBox(field)->setText(value); // whole: the entry limit is for typing
        textBox(field)->setCursorPosition(0);
        break;
    case store::ControlKind::Combo: {
        // An item equal to the value becomes current, otherwise none does: Down then goes to the
        // item after the value, or to the first one.
        QComboBox* combo = comboBox(field);
        combo->setCurrentIndex(
            combo->findText(value, Qt::MatchFixedString | Qt::MatchCaseSensitive));
        combo->setEditText(value);
        if (QLineEdit* edit = combo->lineEdit())
            edit->setCursorPosition(0); // a long breed shows its start, as the text boxes do
        break;
    }
    case store::ControlKind::Date:
        static_cast<DatePicker*>(fields_[field])->setStoredText(value);
        break;
    case store::ControlKind::Sex:
        setSex(value);
        break;
    case store::ControlKind::None:
        break;
    }
}

bool MainWindow::fieldAccepted(store::Field field) const {
    if (store::cardField(field).kind == store::ControlKind::Date)
        return static_cast<const DatePicker*>(fields_[field])->accepted();
    return true;
}

void MainWindow::setFieldDate(store::Field field, const QDate& date) {
    if (store::cardField(field).kind == store::ControlKind::Date)
        static_cast<DatePicker*>(fields_[field])->setPickedDate(date);
}

void MainWindow::setFieldEnabled(store::Field field, bool enabled) {
    if (field == store::Sexo) {
        option1_->setEnabled(enabled);
        option2_->setEnabled(enabled);
    } else if (QWidget* w = fieldWidget(field)) {
        w->setEnabled(enabled);
    }
}

bool MainWindow::fieldEnabled(store::Field field) const {
    const QWidget* w = fieldWidget(field);
    return w && w->isEnabled();
}

void MainWindow::focusField(store::Field field) {
    if (QWidget* w = fieldWidget(field))
        w->setFocus(Qt::OtherFocusReason);
}

void MainWindow::selectFieldText(store::Field field) {
    switch (store::cardField(field).kind) {
    case store::ControlKind::Text:
        textBox(field)->selectAll();
        break;
    case store::ControlKind::Combo:
        if (QLineEdit* edit = comboBox(field)->lineEdit())
            edit->selectAll();
        break;
    case store::ControlKind::Date:
        static_cast<DatePicker*>(fields_[field])->selectAll();
        break;
    default:
        break;
    }
}

bool MainWindow::fieldHasFocus(store::Field field) const {
    if (field == store::Sexo)
        return option1_->hasFocus() || option2_->hasFocus();
    const QWidget* w = fieldWidget(field);
    if (!w)
        return false;
    if (const QComboBox* combo = comboBox(field); combo && combo->lineEdit())
        return combo->hasFocus() || combo->lineEdit()->hasFocus();
    return w->hasFocus();
}

// --- buttons --------------------------------------------------------------------------------

QString MainWindow::buttonCaption(const QString& name) const {
    const QPushButton* b = button(name);
    return b ? b->text() : QString();
}

void MainWindow::setButtonCaption(const QString& name, const QString& caption) {
    if (QPushButton* b = button(name)) {
        b->setText(caption);
        b->setAccessibleName(QString(caption).remove(u'&'));
    }
}

void MainWindow::setButtonEnabled(const QString& name, bool enabled) {
    if (QPushButton* b = button(name))
        b->setEnabled(enabled);
}

bool MainWindow::buttonEnabled(const QString& name) const {
    const QPushButton* b = button(name);
    return b && b->isEnabled();
}

void MainWindow::hoverButton(CommandButton* hovered) {
    for (CommandButton* b : hoverOrder_)
        b->setBold(b == hovered);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    // The bare window: no button is under the pointer.
    hoverButton(nullptr);
    QWidget::mouseMoveEvent(event);
}

// --- grid -----------------------------------------------------------------------------------

int MainWindow::gridRows() const {
    return grid_->rows();
}

int MainWindow::gridCurrentRow() const {
    return grid_->currentRow();
}

void MainWindow::setGridCurrentRow(int row) {
    loadingCard_ = true;
    grid_->setCurrentRow(row);
    loadingCard_ = false;
    cargaTarjeta();
}

store::EntryForm::GridView MainWindow::gridView() const {
    return grid_->view();
}

void MainWindow::restoreGridView(const GridView& view) {
    grid_->restoreView(view);
}

QString MainWindow::gridCurrentCode() const {
    const int row = grid_->currentRow();
    return row > 0 ? grid_->cellText(row, 1) : QString();
}

void MainWindow::gridAppendCard(const store::Card& card, store::RowId id) {
    loadingCard_ = true;
    grid_->appendCard(card, id);
    loadingCard_ = false;
}

void MainWindow::gridReplaceCard(int row, const store::Card& card) {
    grid_->replaceCard(row, card);
}

void MainWindow::gridRemoveRow(int row) {
    loadingCard_ = true;
    grid_->removeRow(row);
    loadingCard_ = false;
}

void MainWindow::setGridEnabled(bool enabled) {
    grid_->setEnabled(enabled);
}

bool MainWindow::gridEnabled() const {
    return grid_->isEnabled();
}

void MainWindow::llenaGrilla() {
    loadingCard_ = true;
    grid_->llenaGrilla();
    loadingCard_ = false;
}

store::Status MainWindow::gridAppendStored(const store::CardStore& cards,
                                           std::span<const store::RowId> ids) {
    if (&cards != cards_.get())
        return EntryForm::gridAppendStored(cards, ids);
    loadingCard_ = true;
    grid_->appendIds(ids);
    loadingCard_ = false;
    return store::Status();
}

void MainWindow::gridShowRows(std::vector<store::RowId> ids) {
    llenaGrilla();
    if (!cards_)
        return;
    loadingCard_ = true;
    grid_->showIds(std::move(ids));
    loadingCard_ = false;
}

std::vector<store::RowId> MainWindow::gridRowIds() const {
    return grid_->cardModel()->rowIds();
}

store::Status MainWindow::gridShowStored(const store::CardStore& cards, store::RowId keep,
                                         int* keepRow) {
    if (&cards != cards_.get())
        return EntryForm::gridShowStored(cards, keep, keepRow);
    browse::CardGrid::StoredListing listing;
    const store::Status status = browse::CardGrid::readStored(cards, &listing);
    if (!status)
        return status; // the grid keeps what it listed
    llenaGrilla();
    loadingCard_ = true;
    grid_->showStored(listing);
    loadingCard_ = false;
    if (keepRow)
        *keepRow = status ? grid_->cardModel()->storedRow(keep) + 1 : 0;
    return status;
}

bool MainWindow::gridListsStored() const {
    return grid_->cardModel()->listsStored();
}

bool MainWindow::gridFollowStored(std::span<const store::RowId> written,
                                  std::span<const std::pair<store::RowId, store::Card>> stored,
                                  qint64 count) {
    browse::CardGridModel* model = grid_->cardModel();
    if (!model->listsStored())
        return false;
    loadingCard_ = true;
    bool followed = true;
    auto card = stored.begin();
    for (const store::RowId id : written) {
        if (card != stored.end() && card->first == id) {
            followed = model->storedWritten(id) && followed;
            ++card;
        } else {
            model->storedGone(id);
        }
    }
    loadingCard_ = false;
    return followed && model->storedRows() == count;
}

void MainWindow::setSearchControlsVisible(bool visible) {
    // The frames cover the entry area while searching; the code box and the two search buttons
    // stand over them.
    const struct {
        const char16_t* name;
        QRect twips;
    } frames[] = {{u"Frame1", {100, 1440, 7500, 2895}}, {u"Frame2", {7320, 2160, 3735, 2175}}};
    for (const auto& f : frames) {
        QWidget* frame = findChild<QWidget*>(text(f.name));
        if (!frame)
            continue;
        frame->setGeometry(twips(f.twips.x()), twips(f.twips.y()), twips(f.twips.width()),
                           twips(f.twips.height()));
        frame->setVisible(visible);
        if (visible)
            frame->raise();
    }
    // The code box overlaps the corners of the two buttons: the buttons go on top, so that
    // their captions are whole.
    if (visible)
        fields_[store::Codigo]->raise();
    for (const char16_t* name : {u"btnBuscarOK", u"btnBuscarFin"}) {
        if (QPushButton* b = button(text(name))) {
            b->setVisible(visible);
            b->raise();
        }
    }
    // A stored code may be longer than a typed one (a web card brings up to 25 characters, an
    // imported registry maybe more): while searching, the box takes any length, so that every
    // stored card can be found; spaces around the code are trimmed by the search.
    static_cast<LimitedLineEdit*>(fields_[store::Codigo])
        ->setLimit(visible ? 0 : store::cardField(store::Codigo).entryLimit);
}

void MainWindow::onGridCellChanged() {
    if (loadingCard_)
        return;
    loadingCard_ = true;
    shownId_ = browse::currentCellChanged(
        {grid_, label27_, this, table_.get(), &clock_, &messages_, &loaded_}, shownId_);
    loadingCard_ = false;
    followShownCard();
}

void MainWindow::followShownCard() {
    // In browse mode the commands that act on the shown card follow the card the fields show: a
    // row whose card is gone turns them off, the next row with a card on again.
    if (cards_ && buttonEnabled(QStringLiteral("cmdAgregar")) &&
        buttonCaption(QStringLiteral("cmdSalir")) == u"&Salir") {
        for (const char16_t* name :
             {u"cmdEditar", u"cmdEliminar", u"cmdCopiar", u"cmdImprimir", u"Command1"})
            setButtonEnabled(QString::fromUtf16(name), shownId_ != store::kNoRow);
    }
}

// --- routines -------------------------------------------------------------------------------

void MainWindow::cargaTarjeta() {
    const bool wasLoading = loadingCard_;
    loadingCard_ = true;
    shownId_ =
        browse::cargaTarjeta({grid_, label27_, this, table_.get(), &clock_, &messages_, &loaded_});
    loadingCard_ = wasLoading;
    followShownCard();
}

void MainWindow::ocultaListas() {
    for (const QString& name : browse::typeAheadListNames()) {
        if (browse::TypeAheadList* list = lists_.value(name))
            list->hide();
    }
}

void MainWindow::modoConsulta() {
    // Disabling the field that has the focus hands it on along the tab order to whatever is
    // still enabled at that moment, or drops it: remember where it was, to put it somewhere
    // useful at the end.
    QWidget* focus = focusWidget();
    const bool focusInFields =
        !focus || std::any_of(std::begin(kEntryFields), std::end(kEntryFields), [&](auto f) {
            const QWidget* w = fieldWidget(f);
            return focus == w || (w && w->isAncestorOf(focus)) ||
                   (f == store::Sexo && focus == option2_);
        });
    for (store::Field f : kEntryFields)
        setFieldEnabled(f, false);

    setButtonCaption(QStringLiteral("cmdAgregar"), QStringLiteral("&Agregar"));
    setButtonCaption(QStringLiteral("cmdEditar"), QStringLiteral("&Editar"));
    setButtonCaption(QStringLiteral("cmdCopiar"), QStringLiteral("&Copiar"));
    setButtonCaption(QStringLiteral("cmdSalir"), QStringLiteral("&Salir"));

    for (const char16_t* name :
         {u"cmdAgregar", u"cmdEditar", u"cmdEliminar", u"cmdCopiar", u"cmdListado", u"cmdImprimir",
          u"cmdExcel", u"cmdBuscar", u"Command1"})
        setButtonEnabled(text(name), true);
    setGridEnabled(true);

    cargaTarjeta();
    ocultaListas();

    qint64 count = 0;
    if (cards_) {
        store::Status status;
        count = cards_->recordCount(&status);
        if (!status) {
            messages_.notice(status.message());
            count = 0;
        }
    }
    if (count < 1) {
        for (const char16_t* name : {u"cmdEditar", u"cmdEliminar", u"cmdCopiar", u"cmdListado",
                                     u"cmdImprimir", u"Command1", u"cmdBuscar"})
            setButtonEnabled(text(name), false);
        setGridEnabled(false);
    } else if (shownId_ == store::kNoRow) {
        // Cards are stored but the fields show none (the grid could not be read, or its row's
        // card is gone): the commands that act on the shown card have nothing to act on.
        for (const char16_t* name :
             {u"cmdEditar", u"cmdEliminar", u"cmdCopiar", u"cmdImprimir", u"Command1"})
            setButtonEnabled(text(name), false);
    }

    // Back from typing a card, the keyboard goes on with the grid: the arrows choose a card and
    // Enter edits it. With no card, adding one is what is left.
    if (focusInFields) {
        if (grid_->isEnabled())
            grid_->setFocus(Qt::OtherFocusReason);
        else if (QPushButton* agregar = button(QStringLiteral("cmdAgregar")))
            agregar->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace app
