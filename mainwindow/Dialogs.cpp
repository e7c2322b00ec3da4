#include "mainwindow/Dialogs.h"

#include "BraskonVersion.h"

#include "database/DataLocation.h"
#include "database/Texts.h"
#include "resources/Artwork.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <climits>

namespace {

QFrame *SeparatorLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Buttons at the bottom right, below a separator line.
QWidget *ButtonPanel(QWidget *parent, QPushButton *ok, QPushButton *cancel)
{
    auto *panel = new QWidget(parent);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(SeparatorLine(panel));
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    return panel;
}

void FixDialogSize(QDialog *dialog, const QSize &designSize)
{
    dialog->adjustSize();
    dialog->setFixedSize(dialog->sizeHint().expandedTo(designSize));
}

QPushButton *NamedButton(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QLineEdit *NamedEdit(const char *name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

}  // namespace

// ---------------------------------------------------------------------------

TNewBatteryDialog::TNewBatteryDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("NewBatteryDialog"));
    setWindowTitle(QStringLiteral("Neuer Akku"));

    IDEdit = NamedEdit("IDEdit", this);
    CapEdit = NamedEdit("CapEdit", this);
    CapEdit->setText(QStringLiteral("600"));
    TypCombo = new QComboBox(this);
    TypCombo->setObjectName(QStringLiteral("TypCombo"));
    for (int code = 0; code <= 2; ++code)
        TypCombo->addItem(TypeName(code));
    ZellenEdit = NamedEdit("ZellenEdit", this);
    ZellenEdit->setText(QStringLiteral("1"));
    FormCombo = new QComboBox(this);
    FormCombo->setObjectName(QStringLiteral("FormCombo"));
    for (int code = 0; code <= 5; ++code)
        FormCombo->addItem(FormName(code));
    BezEdit = NamedEdit("BezEdit", this);
    BezEdit->setMaxLength(50);
    BezEdit->setText(QStringLiteral("<noname>"));
    OKBtn = NamedButton(QStringLiteral("OK"), "OKBtn", this);
    OKBtn->setDefault(true);
    CancelBtn = NamedButton(QStringLiteral("Abbrechen"), "CancelBtn", this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    auto *idRow = new QFormLayout;
    idRow->addRow(QStringLiteral("Kennzahl (ID)"), IDEdit);
    layout->addLayout(idRow);
    layout->addWidget(SeparatorLine(this));
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Nennkapazität"), this), 0, 0);
    grid->addWidget(CapEdit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Typ"), this), 0, 2);
    grid->addWidget(TypCombo, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Zellen"), this), 1, 0);
    grid->addWidget(ZellenEdit, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Bauform"), this), 1, 2);
    grid->addWidget(FormCombo, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Bezeichnung"), this), 2, 0);
    grid->addWidget(BezEdit, 2, 1, 1, 3);
    layout->addLayout(grid);
    layout->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    FixDialogSize(this, QSize(332, 198));
}

void TNewBatteryDialog::Prepare(int proposedID)
{
    IDEdit->setText(QString::number(proposedID));
    TypCombo->setCurrentIndex(0);
    FormCombo->setCurrentIndex(0);
    IDEdit->setFocus();
    IDEdit->selectAll();
}

MainCommands::NewBatteryInput TNewBatteryDialog::Input() const
{
    MainCommands::NewBatteryInput input;
    input.id = IDEdit->text();
    input.capacity = CapEdit->text();
    input.type = TypCombo->currentIndex();
    input.form = FormCombo->currentIndex();
    input.cells = ZellenEdit->text();
    input.brand = BezEdit->text();
    return input;
}

// ---------------------------------------------------------------------------

TIDSpinBox::TIDSpinBox(QWidget *parent)
    : QSpinBox(parent)
{
    setRange(INT_MIN, INT_MAX);
    setWrapping(false);
    setValue(0);
}

void TIDSpinBox::stepBy(int steps)
{
    const qlonglong target = static_cast<qlonglong>(value()) + steps;
    if (target < 0)
        setValue(0);
    else if (target > INT_MAX)
        setValue(INT_MAX);
    else
        setValue(static_cast<int>(target));
    selectAll();
}

QAbstractSpinBox::StepEnabled TIDSpinBox::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (value() > 0)
        enabled |= StepDownEnabled;
    if (value() < INT_MAX)
        enabled |= StepUpEnabled;
    return enabled;
}

TFindAccuDialog::TFindAccuDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FindAccuDialog"));
    setWindowTitle(QStringLiteral("Akku Suchen"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    edID = new TIDSpinBox(this);
    edID->setObjectName(QStringLiteral("edID"));
    Button1 = NamedButton(QStringLiteral("Suchen"), "Button1", this);
    Button1->setDefault(true);
    Button2 = NamedButton(QStringLiteral("Abbrechen"), "Button2", this);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Akku-Nummer (ID):"), edID);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(ButtonPanel(this, Button1, Button2));
    FixDialogSize(this, QSize(312, 133));
}

int TFindAccuDialog::Position() const
{
    // A number typed but not yet confirmed still counts.
    edID->interpretText();
    return edID->value();
}

// ---------------------------------------------------------------------------

TOptionsDialog::TOptionsDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    edTimer = NamedEdit("edTimer", this);
    edTimer->setFixedWidth(50);
    edMinDeltaU = NamedEdit("edMinDeltaU", this);
    edMinDeltaI = NamedEdit("edMinDeltaI", this);
    Button1 = NamedButton(QStringLiteral("OK"), "Button1", this);
    Button1->setDefault(true);
    Button2 = NamedButton(QStringLiteral("Abbrechen"), "Button2", this);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    Pages = new QTabWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));
    auto *general = new QWidget(Pages);
    auto *generalLayout = new QVBoxLayout(general);
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Aufzeichnungstakt (s)"), general), 0, 0);
    grid->addWidget(edTimer, 0, 1, Qt::AlignLeft);
    grid->addWidget(new QLabel(QStringLiteral("Mindestdifferenz (mV)"), general), 1, 0);
    grid->addWidget(edMinDeltaU, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("(mA)"), general), 1, 2);
    grid->addWidget(edMinDeltaI, 1, 3);
    edDatabase = NamedEdit("edDatabase", general);
    edDatabase->setPlaceholderText(QStringLiteral("Standard (Ordner oder postgresql://BENUTZER@RECHNER/DATENBANK)"));
    edDatabase->setMinimumWidth(260);
    auto *databaseLabel = new QLabel(QStringLiteral("&Datenbank"), general);
    databaseLabel->setBuddy(edDatabase);
    grid->addWidget(databaseLabel, 2, 0);
    grid->addWidget(edDatabase, 2, 1, 1, 3);
    lbDatabaseNote = new QLabel(general);
    lbDatabaseNote->setObjectName(QStringLiteral("lbDatabaseNote"));
    lbDatabaseNote->setWordWrap(true);
    // Room for the note and the two lines added when shown; the dialog's size is fixed.
    lbDatabaseNote->setMinimumHeight(5 * lbDatabaseNote->fontMetrics().lineSpacing());
    grid->addWidget(lbDatabaseNote, 3, 1, 1, 3);
    lbClockNote = new QLabel(general);
    lbClockNote->setObjectName(QStringLiteral("lbClockNote"));
    lbClockNote->setWordWrap(true);
    lbClockNote->setMinimumHeight(3 * lbClockNote->fontMetrics().lineSpacing());
    grid->addWidget(lbClockNote, 4, 0, 1, 4);
    generalLayout->addLayout(grid);
    generalLayout->addStretch();
    Pages->addTab(general, QStringLiteral("Allgemein"));

    auto *ports = new QWidget(Pages);
    auto *portsLayout = new QGridLayout(ports);
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        QComboBox *&combo = cbPort[port - 1];
        combo = new QComboBox(ports);
        combo->setObjectName(QStringLiteral("cbCOM%1").arg(port));
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setMinimumContentsLength(28);
        combo->lineEdit()->setPlaceholderText(QStringLiteral("Standard: /dev/ttyS%1").arg(port - 1));
        QLabel *&override = lbPortOverride[port - 1];
        override = new QLabel(ports);
        override->setObjectName(QStringLiteral("lbOverrideCOM%1").arg(port));
        portsLayout->addWidget(new QLabel(QStringLiteral("COM%1").arg(port), ports), port - 1, 0);
        portsLayout->addWidget(combo, port - 1, 1);
        portsLayout->addWidget(override, port - 1, 2);
    }
    portsLayout->setColumnStretch(1, 1);
    Pages->addTab(ports, QStringLiteral("Schnittstellen"));

    // What the user is told when a treatment ends, a charger falls silent or
    // saving fails.
    auto *notices = new QWidget(Pages);
    auto *noticesLayout = new QGridLayout(notices);
    cbNoticeDesktop = new QCheckBox(QStringLiteral("&Desktop-Benachrichtigung"), notices);
    cbNoticeDesktop->setObjectName(QStringLiteral("cbNoticeDesktop"));
    cbNoticeSound = new QCheckBox(QStringLiteral("&Ton"), notices);
    cbNoticeSound->setObjectName(QStringLiteral("cbNoticeSound"));
    cbNoticeTaskBar = new QCheckBox(QStringLiteral("Eintrag in der Task&leiste markieren"), notices);
    cbNoticeTaskBar->setObjectName(QStringLiteral("cbNoticeTaskBar"));
    edEndCommand = NamedEdit("edEndCommand", notices);
    edEndCommand->setPlaceholderText(QStringLiteral("z. B. notify-send \"$BRASKON_MESSAGE\""));
    auto *endLabel = new QLabel(QStringLiteral("&Befehl am Ende einer Behandlung"), notices);
    endLabel->setBuddy(edEndCommand);
    auto *endNote = new QLabel(QStringLiteral("Läuft mit der Shell; BRASKON_RESULT, BRASKON_BATTERY_ID, "
                                              "BRASKON_CHARGED_MAH, BRASKON_DISCHARGED_MAH, BRASKON_MESSAGE "
                                              "u. a. stehen in der Umgebung."),
                               notices);
    endNote->setWordWrap(true);
    noticesLayout->addWidget(new QLabel(QStringLiteral("Bei Ende einer Behandlung, einem Ladegerät ohne Antwort und "
                                                       "fehlgeschlagenem Speichern:"),
                                        notices),
                             0, 0);
    noticesLayout->addWidget(cbNoticeDesktop, 1, 0);
    noticesLayout->addWidget(cbNoticeSound, 2, 0);
    noticesLayout->addWidget(cbNoticeTaskBar, 3, 0);
    noticesLayout->addWidget(endLabel, 4, 0);
    noticesLayout->addWidget(edEndCommand, 5, 0);
    noticesLayout->addWidget(endNote, 6, 0);
    noticesLayout->setRowStretch(7, 1);
    Pages->addTab(notices, QStringLiteral("Meldungen"));

    layout->addWidget(Pages);
    layout->addWidget(ButtonPanel(this, Button1, Button2));
    FixDialogSize(this, QSize(312, 153));
}

void TOptionsDialog::SetNotices(const NoticeOptions &options)
{
    cbNoticeDesktop->setChecked(options.Desktop);
    cbNoticeSound->setChecked(options.Sound);
    cbNoticeTaskBar->setChecked(options.TaskBar);
    edEndCommand->setText(options.EndCommand);
}

NoticeOptions TOptionsDialog::Notices() const
{
    NoticeOptions options;
    options.Desktop = cbNoticeDesktop->isChecked();
    options.Sound = cbNoticeSound->isChecked();
    options.TaskBar = cbNoticeTaskBar->isChecked();
    options.EndCommand = edEndCommand->text().trimmed();
    return options;
}

void TOptionsDialog::SetDevices(const std::vector<Ohmrida::SerialPorts::Device> &devices)
{
    for (QComboBox *combo : cbPort) {
        const QString typed = combo->currentText();
        combo->clear();
        combo->addItem(QString());   // the default device
        for (const Ohmrida::SerialPorts::Device &device : devices) {
            QString text = QString::fromStdString(device.path);
            if (!device.description.empty())
                text += QStringLiteral(" — ") + QString::fromStdString(device.description);
            combo->addItem(text);
            if (!device.target.empty())
                combo->setItemData(combo->count() - 1, QString::fromStdString(device.target), Qt::ToolTipRole);
        }
        combo->setEditText(typed);
    }
}

void TOptionsDialog::SetPorts(const std::map<int, std::string> &devices)
{
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const auto found = devices.find(port);
        const QString device = found == devices.end() ? QString() : QString::fromStdString(found->second);
        QComboBox *combo = cbPort[port - 1];
        // The entry with the adapter's description when the device is offered.
        int index = -1;
        for (int item = 1; !device.isEmpty() && item < combo->count(); ++item) {
            if (DeviceOfText(combo->itemText(item)) == device)
                index = item;
        }
        if (index >= 0)
            combo->setCurrentIndex(index);
        else
            combo->setEditText(device);
    }
}

void TOptionsDialog::SetClockNote(const QString &note)
{
    lbClockNote->setText(note);
}

std::map<int, std::string> TOptionsDialog::Ports() const
{
    std::map<int, std::string> devices;
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const QString device = DeviceOfText(cbPort[port - 1]->currentText());
        if (!device.isEmpty())
            devices[port] = device.toStdString();
    }
    return devices;
}

QString TOptionsDialog::DeviceOfText(const QString &text)
{
    const auto description = text.indexOf(QStringLiteral(" — "));
    return (description >= 0 ? text.left(description) : text).trimmed();
}

void TOptionsDialog::showEvent(QShowEvent *event)
{
    // The environment wins over what is chosen here; say so where it does.
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const Ohmrida::SerialPorts::Resolved resolved = Ohmrida::SerialPorts::Resolve(port);
        const bool fromEnvironment = resolved.origin == Ohmrida::SerialPorts::Origin::Environment;
        lbPortOverride[port - 1]->setText(fromEnvironment ? QStringLiteral("gilt: BRASKON_COM%1=%2")
                                                                .arg(port)
                                                                .arg(QString::fromStdString(resolved.device))
                                                          : QString());
    }
    QString note = QStringLiteral("Eine ge\u00e4nderte Datenbank gilt ab dem n\u00e4chsten Start. Labor-Datenbank: "
                                  "postgresql://BENUTZER@RECHNER/DATENBANK ohne Passwort; das Passwort steht in "
                                  "~/.pgpass oder in PGPASSWORD.");
    if (!inUse_.isEmpty())
        note += QStringLiteral(" Jetzt: %1").arg(inUse_);
    if (!qEnvironmentVariableIsEmpty("BRASKON_DATABASE"))
        note += QStringLiteral("\nVorrang hat BRASKON_DATABASE=%1.").arg(qEnvironmentVariable("BRASKON_DATABASE"));
    lbDatabaseNote->setText(note);
    QDialog::showEvent(event);
}

void TOptionsDialog::SetDatabase(const QString &stored, const QString &inUse)
{
    edDatabase->setText(stored);
    inUse_ = inUse;
}

QString TOptionsDialog::Database() const
{
    return edDatabase->text().trimmed();
}

void TOptionsDialog::accept()
{
    QString normalized, error;
    if (!DataLocation::CheckChoice(edDatabase->text(), normalized, error)) {
        Pages->setCurrentIndex(0);
        edDatabase->setFocus();
        QMessageBox::warning(this, QStringLiteral("Datenbank"), error);
        return;
    }
    QDialog::accept();
}

void TOptionsDialog::SetTexts(const MainCommands::OptionsTexts &texts)
{
    edTimer->setText(texts.timerSeconds);
    edMinDeltaU->setText(texts.minDeltaU);
    edMinDeltaI->setText(texts.minDeltaI);
}

MainCommands::OptionsTexts TOptionsDialog::Texts() const
{
    return {edTimer->text(), edMinDeltaU->text(), edMinDeltaI->text()};
}

// ---------------------------------------------------------------------------

TInfoDialog::TInfoDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("InfoDialog"));
    setWindowTitle(QStringLiteral("Info über Braskon"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);

    auto *panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *panelLayout = new QVBoxLayout(panel);
    auto *head = new QHBoxLayout;
    auto *icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(Artwork::ProgramIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
    icon->setFixedSize(32, 32);
    head->addWidget(icon, 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    auto *title = new QLabel(QStringLiteral("Braskon - Version " BRASKON_VERSION), panel);
    QFont titleFont(QStringLiteral("Sans Serif"), 12);
    titleFont.setStyleHint(QFont::SansSerif);
    titleFont.setBold(true);
    title->setFont(titleFont);
    texts->addWidget(title);
    texts->addWidget(new QLabel(QStringLiteral("Steuersoftware für Ohmrida Ladegeräte"), panel));
    texts->addStretch();
    head->addLayout(texts, 1);
    panelLayout->addLayout(head);
    panelLayout->addStretch();
    layout->addWidget(panel, 1);

    auto *picturePanel = new QFrame(this);
    picturePanel->setAutoFillBackground(true);
    QPalette white = picturePanel->palette();
    white.setColor(QPalette::Window, Qt::white);
    picturePanel->setPalette(white);
    picturePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *pictureLayout = new QVBoxLayout(picturePanel);
    pictureLayout->setContentsMargins(2, 2, 2, 2);
    auto *picture = new QLabel(picturePanel);
    picture->setObjectName(QStringLiteral("AboutPicture"));
    picture->setPixmap(Artwork::AboutPicture(QSize(56, 185), devicePixelRatioF()));
    pictureLayout->addWidget(picture);
    layout->addWidget(picturePanel);

    FixDialogSize(this, QSize(363, 207));
}

void TInfoDialog::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    reject();
}
