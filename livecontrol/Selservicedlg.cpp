#include "livecontrol/Selservicedlg.h"

#include "database/Texts.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString FunctionTitle = QStringLiteral("Funktion (L/E)");
const QString CurrentTitle = QStringLiteral("Strom [mA]");
const QString LimitTitle = QStringLiteral("Zeitlimit [s]");
constexpr uint8_t VarnDeviceType = 4;

QString Cell(const QTableWidget& grid, int row, int column)
{
    const QTableWidgetItem* item = grid.item(row, column);
    return item ? item->text() : QString();
}

// The edit masks of the user program grid, chosen by the column title: one
// letter shown in upper case, up to four digits of mA, up to six digits of s.
class UserProgramDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        auto* editor = new QLineEdit(parent);
        const QString title =
            index.model()->headerData(index.column(), Qt::Horizontal, Qt::DisplayRole).toString();
        QString pattern;
        if (title == FunctionTitle) {
            pattern = QStringLiteral("[A-Za-z]?");
            QObject::connect(editor, &QLineEdit::textEdited, editor, [editor](const QString& text) {
                if (text != text.toUpper())
                    editor->setText(text.toUpper());
            });
        } else if (title == CurrentTitle) {
            pattern = QStringLiteral("[0-9]{0,4}");
        } else if (title == LimitTitle) {
            pattern = QStringLiteral("[0-9]{0,6}");
        }
        if (!pattern.isEmpty())
            editor->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), editor));
        return editor;
    }
};

}  // namespace

const std::vector<uint8_t>& TSelectServiceDialog::ProgramChoices()
{
    static const std::vector<uint8_t> choices{1, 2, 3, 4, 5};
    return choices;
}

TSelectServiceDialog::TSelectServiceDialog(SearchFunction searchFunction, TerminalInUse inUse, QWidget* parent)
    : QDialog(parent),
      startSearch(std::move(searchFunction)),
      terminalInUse(std::move(inUse)),
      alertSound([] { QApplication::beep(); })
{
    setWindowTitle(QStringLiteral("Akkubehandlung"));
    BuildControls();

    // FormCreate
    UserProgStringGrid->setHorizontalHeaderLabels({FunctionTitle, CurrentTitle, LimitTitle});
    for (int column = 0; column < 3; ++column)
        UserProgStringGrid->setColumnWidth(column, 100);
    ProgramPageControl->setCurrentWidget(StandardTabSheet);
    StartButton->setEnabled(false);
}

TSelectServiceDialog::~TSelectServiceDialog() = default;

// ---- construction of the controls -----------------------------------------------------

QGroupBox* TSelectServiceDialog::BuildCurrentGroup(const QString& title, QRadioButton*& c10,
                                                   QRadioButton*& cThird, QRadioButton*& c,
                                                   QRadioButton*& user, QLineEdit*& edit)
{
    auto* group = new QGroupBox(title);
    c10 = new QRadioButton(QStringLiteral("Kapazitätswert C/10"));
    cThird = new QRadioButton(QStringLiteral("Kapazitätswert C/3"));
    c = new QRadioButton(QStringLiteral("Kapazitätswert C"));
    user = new QRadioButton(QStringLiteral("Eingabe:"));
    edit = new QLineEdit(QStringLiteral("100"));
    // Digits only: a current is a whole number of mA, so no conversion error can arise.
    edit->setValidator(new QIntValidator(0, 99999, edit));
    edit->setMaxLength(5);
    edit->setEnabled(false);

    auto* layout = new QGridLayout(group);
    layout->addWidget(c10, 0, 0, 1, 2);
    layout->addWidget(cThird, 1, 0, 1, 2);
    layout->addWidget(c, 2, 0, 1, 2);
    layout->addWidget(user, 3, 0);
    layout->addWidget(edit, 3, 1);
    return group;
}

void TSelectServiceDialog::BuildControls()
{
    resize(334, 334);

    // Terminal row
    auto* panel1 = new QFrame;
    Label1 = new QLabel(QStringLiteral("&Ladegerät"));
    TerminalCombo = new QComboBox;
    TerminalCombo->setEditable(true);
    TerminalCombo->setInsertPolicy(QComboBox::NoInsert);
    Label1->setBuddy(TerminalCombo);
    Button1 = new QPushButton(QStringLiteral("&Suchen"));
    Button1->setAutoDefault(false);
    SearchLabel = new QLabel(QStringLiteral("Suche Ladegeräte..."));
    SearchLabel->setObjectName(QStringLiteral("SearchLabel"));
    SearchLabel->setVisible(false);
    auto* terminalRow = new QGridLayout(panel1);
    terminalRow->addWidget(Label1, 0, 0, 1, 2);
    terminalRow->addWidget(TerminalCombo, 1, 0);
    terminalRow->addWidget(Button1, 1, 1);
    terminalRow->addWidget(SearchLabel, 2, 0, 1, 2);
    terminalRow->setColumnStretch(0, 1);

    // "Standard" page
    StandardTabSheet = new QWidget;
    auto* label3 = new QLabel(QStringLiteral("&Programm"));
    ProgramCombo = new QComboBox;
    label3->setBuddy(ProgramCombo);
    GroupBox1 = BuildCurrentGroup(QStringLiteral("&Entladestrom (mA)"), rbDischargeC10, rbDischargeCThird,
                                  rbDischargeC, rbDischargeUser, DischargeCurrentEdit);
    GroupBox2 = BuildCurrentGroup(QStringLiteral("&Ladestrom (mA)"), rbChargeC10, rbChargeCThird,
                                  rbChargeC, rbChargeUser, ChargeCurrentEdit);
    auto* standardLayout = new QGridLayout(StandardTabSheet);
    standardLayout->addWidget(label3, 0, 0, 1, 2);
    standardLayout->addWidget(ProgramCombo, 1, 0, 1, 2);
    standardLayout->addWidget(GroupBox1, 2, 0);
    standardLayout->addWidget(GroupBox2, 2, 1);
    standardLayout->setRowStretch(3, 1);

    // "Spezial" page
    SpecialTabSheet = new QWidget;
    UserProgStringGrid = new QTableWidget(UserStepRows, 3);
    UserProgStringGrid->verticalHeader()->hide();
    UserProgStringGrid->verticalHeader()->setMinimumSectionSize(1);
    UserProgStringGrid->verticalHeader()->setDefaultSectionSize(16);
    UserProgStringGrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    UserProgStringGrid->setEditTriggers(QAbstractItemView::AllEditTriggers);
    UserProgStringGrid->setItemDelegate(new UserProgramDelegate(UserProgStringGrid));
    auto* specialLayout = new QVBoxLayout(SpecialTabSheet);
    specialLayout->setContentsMargins(0, 0, 0, 0);
    specialLayout->addWidget(UserProgStringGrid);

    ProgramPageControl = new QTabWidget;
    ProgramPageControl->setTabPosition(QTabWidget::South);
    ProgramPageControl->addTab(StandardTabSheet, QStringLiteral("Standard"));
    ProgramPageControl->addTab(SpecialTabSheet, QStringLiteral("Spezial"));

    // Buttons
    auto* panel2 = new QFrame;
    auto* bevel1 = new QFrame;
    bevel1->setFrameShape(QFrame::HLine);
    bevel1->setFrameShadow(QFrame::Sunken);
    StartButton = new QPushButton(QStringLiteral("&Start"));
    StartButton->setDefault(true);
    Button4 = new QPushButton(QStringLiteral("&Abbruch"));
    Button4->setAutoDefault(false);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(StartButton);
    buttonRow->addWidget(Button4);
    auto* panel2Layout = new QVBoxLayout(panel2);
    panel2Layout->addWidget(bevel1);
    panel2Layout->addLayout(buttonRow);

    // Below the currents: what the terminal takes, and why Start is greyed.
    RangeLabel = new QLabel;
    RangeLabel->setObjectName(QStringLiteral("RangeLabel"));
    ReasonLabel = new QLabel;
    ReasonLabel->setObjectName(QStringLiteral("ReasonLabel"));
    ReasonLabel->setWordWrap(true);
    QPalette warning = ReasonLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(0xb0, 0x20, 0x20));
    ReasonLabel->setPalette(warning);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel1);
    layout->addWidget(ProgramPageControl, 1);
    layout->addWidget(RangeLabel);
    layout->addWidget(ReasonLabel);
    layout->addWidget(panel2);

    ConnectCurrentGroup(rbDischargeC10, rbDischargeCThird, rbDischargeC, rbDischargeUser,
                        DischargeCurrentEdit);
    ConnectCurrentGroup(rbChargeC10, rbChargeCThird, rbChargeC, rbChargeUser, ChargeCurrentEdit);
    connect(TerminalCombo, &QComboBox::currentTextChanged, this, [this] { TerminalComboChange(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(ProgramPageControl, &QTabWidget::currentChanged, this, [this] { UpdateStartButton(); });
    connect(UserProgStringGrid, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { UserProgStringGridSetEditText(item); });
    connect(StartButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button4, &QPushButton::clicked, this, &QDialog::reject);

    // Tests and the screenshots find the controls by these names.
    const std::pair<QWidget*, const char*> named[] = {
        {Label1, "Label1"}, {TerminalCombo, "TerminalCombo"}, {Button1, "Button1"}, {SearchLabel, "SearchLabel"}, {ProgramPageControl, "ProgramPageControl"}, {StandardTabSheet, "StandardTabSheet"}, {SpecialTabSheet, "SpecialTabSheet"}, {ProgramCombo, "ProgramCombo"}, {GroupBox1, "GroupBox1"}, {GroupBox2, "GroupBox2"}, {rbDischargeC10, "rbDischargeC10"}, {rbDischargeCThird, "rbDischargeCThird"}, {rbDischargeC, "rbDischargeC"}, {rbDischargeUser, "rbDischargeUser"}, {DischargeCurrentEdit, "DischargeCurrentEdit"}, {rbChargeC10, "rbChargeC10"}, {rbChargeCThird, "rbChargeCThird"}, {rbChargeC, "rbChargeC"}, {rbChargeUser, "rbChargeUser"}, {ChargeCurrentEdit, "ChargeCurrentEdit"}, {UserProgStringGrid, "UserProgStringGrid"}, {RangeLabel, "RangeLabel"}, {ReasonLabel, "ReasonLabel"}, {StartButton, "StartButton"}, {Button4, "Button4"}};
    for (const auto& [control, name] : named)
        control->setObjectName(QLatin1String(name));
}

void TSelectServiceDialog::ConnectCurrentGroup(QRadioButton* c10, QRadioButton* cThird, QRadioButton* c,
                                               QRadioButton* user, QLineEdit* edit)
{
    // A capacity button disables the group's edit, "Eingabe:" enables it; any
    // choice re-evaluates Start. Checking a button from code does the same.
    for (QRadioButton* capacityButton : {c10, cThird, c}) {
        connect(capacityButton, &QRadioButton::toggled, this, [this, edit](bool checked) {
            if (!checked)
                return;
            edit->setEnabled(false);
            UpdateStartButton();
        });
    }
    connect(user, &QRadioButton::toggled, this, [this, edit](bool checked) {
        if (!checked)
            return;
        edit->setEnabled(true);
        UpdateStartButton();
    });
    connect(edit, &QLineEdit::textChanged, this, [this, edit] {
        edit->setEnabled(true);
        UpdateStartButton();
    });
}

// ---- showing and the terminal search ----------------------------------------------------

void TSelectServiceDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TSelectServiceDialog::FormShow()
{
    rbChargeC->setChecked(true);
    rbDischargeC->setChecked(true);
    FillTerminalList();
    TerminalComboChange();
}

void TSelectServiceDialog::done(int result)
{
    // Answers still on their way belong to nobody now.
    EndSearch();
    QDialog::done(result);
}

void TSelectServiceDialog::FillTerminalList()
{
    {
        const QSignalBlocker blocker(TerminalCombo);
        TerminalCombo->clear();
        TerminalCombo->setCurrentIndex(0);
    }
    listed.clear();
    UpdateStartButton();
    if (!startSearch)
        return;
    // The emptied list says what is going on until the terminals are in.
    TerminalCombo->setPlaceholderText(QStringLiteral("Suche Ladegeräte..."));
    SearchLabel->setVisible(true);
    search = startSearch();
    emit SearchBegun();
}

void TSelectServiceDialog::AddTerminals(const QVector<TerminalInfo>& terminals)
{
    const bool wasEmpty = TerminalCombo->count() == 0;
    {
        const QSignalBlocker blocker(TerminalCombo);
        for (const TerminalInfo& terminal : terminals) {
            const bool known = std::any_of(listed.begin(), listed.end(),
                                           [&](const TerminalInfo& t) { return t.Name == terminal.Name; });
            if (known || (terminalInUse && terminalInUse(terminal.Name.toStdString())))
                continue;
            listed.append(terminal);
            // In the order of the names, as the registry walks them.
            int row = 0;
            while (row < TerminalCombo->count() && TerminalCombo->itemText(row).toUtf8() < terminal.Name.toUtf8())
                ++row;
            TerminalCombo->insertItem(row, terminal.Name);
        }
        if (wasEmpty && TerminalCombo->count() > 0)
            TerminalCombo->setCurrentIndex(0);
    }
    if (wasEmpty && TerminalCombo->count() > 0)
        TerminalComboChange();
    UpdateStartButton();
}

void TSelectServiceDialog::TerminalsFound(int searchNumber, const QVector<TerminalInfo>& terminals)
{
    if (searchNumber == search && search != 0)
        AddTerminals(terminals);
}

void TSelectServiceDialog::SearchFinished(int searchNumber, const QVector<TerminalInfo>& terminals)
{
    if (searchNumber != search || search == 0)
        return;
    AddTerminals(terminals);
    EndSearch();
}

void TSelectServiceDialog::EndSearch()
{
    if (search == 0)
        return;
    search = 0;
    TerminalCombo->setPlaceholderText(QString());
    SearchLabel->setVisible(false);
    emit SearchEnded();
}

void TSelectServiceDialog::Button1Click()
{
    EndSearch();
    FillTerminalList();
    TerminalComboChange();
}

const TerminalInfo* TSelectServiceDialog::Chosen() const
{
    const QString name = TerminalCombo->currentText();
    for (const TerminalInfo& terminal : listed)
        if (terminal.Name == name)
            return &terminal;
    return nullptr;
}

void TSelectServiceDialog::TerminalComboChange()
{
    const TerminalInfo* terminal = Chosen();
    const size_t offered = (terminal && terminal->Kind == VarnDeviceType) ? 4 : ProgramChoices().size();
    ProgramCombo->clear();
    for (size_t i = 0; i < offered; ++i)
        ProgramCombo->addItem(ProgramName(ProgramChoices()[i]));
    ProgramCombo->setCurrentIndex(0);
    UpdateStartButton();
}

// ---- the choice -------------------------------------------------------------------------

std::string TSelectServiceDialog::TerminalName() const
{
    return TerminalCombo->currentText().toStdString();
}

bool TSelectServiceDialog::IsStandardPageActive() const
{
    return ProgramPageControl->currentWidget() == StandardTabSheet;
}

uint8_t TSelectServiceDialog::SelectedProgram() const
{
    const int index = ProgramCombo->currentIndex();
    if (index < 0 || index >= static_cast<int>(ProgramChoices().size()))
        return ProgramChoices().front();
    return ProgramChoices()[static_cast<size_t>(index)];
}

int TSelectServiceDialog::CurrentOf(const QRadioButton* c10, const QRadioButton* cThird,
                                    const QRadioButton* c, const QLineEdit* edit) const
{
    if (c10->isChecked())
        return capacity / 10;
    if (cThird->isChecked())
        return capacity / 3;
    if (c->isChecked())
        return capacity;
    return edit->text().trimmed().toInt();   // the validator admits digits only; empty is 0
}

void TSelectServiceDialog::ReadCurrents()
{
    const TerminalInfo* terminal = Chosen();
    maxCurrent = terminal ? terminal->MaxCurrent : 0;
    minCurrent = terminal ? terminal->MinCurrent : 0;
    chargeCurrent = CurrentOf(rbChargeC10, rbChargeCThird, rbChargeC, ChargeCurrentEdit);
    dischargeCurrent = CurrentOf(rbDischargeC10, rbDischargeCThird, rbDischargeC, DischargeCurrentEdit);
}

std::vector<UserGridRow> TSelectServiceDialog::UserGridRows() const
{
    std::vector<UserGridRow> rows;
    for (int row = 0; row < UserStepRows; ++row) {
        rows.push_back({Cell(*UserProgStringGrid, row, FunctionColumn),
                        Cell(*UserProgStringGrid, row, CurrentColumn),
                        Cell(*UserProgStringGrid, row, LimitColumn)});
    }
    return rows;
}

std::vector<UserStep> TSelectServiceDialog::UserSteps() const
{
    return ParseUserSteps(UserGridRows());
}

bool TSelectServiceDialog::CheckInput()
{
    ReadCurrents();
    if (IsStandardPageActive()) {
        return maxCurrent >= chargeCurrent && maxCurrent >= dischargeCurrent &&
               chargeCurrent >= minCurrent && dischargeCurrent >= minCurrent;
    }
    bool anyStep = false;
    for (const UserGridRow& row : UserGridRows()) {
        if (row.Function.isEmpty() || row.Current.isEmpty())
            continue;
        const int current = row.Current.toInt();
        if (current < minCurrent || current > maxCurrent)
            return false;
        anyStep = true;
    }
    if (!anyStep)
        return false;
    // The start reads the grid with the same parser; a row it cannot read must not pass here.
    try {
        UserSteps();
    } catch (const UserStepError&) {
        return false;
    }
    return true;
}

void TSelectServiceDialog::UpdateStartButton()
{
    StartButton->setEnabled(Chosen() != nullptr && CheckInput());
    const StartChoice choice = Choice();
    const QString range = CurrentRangeText(choice);
    RangeLabel->setText(range.isEmpty() ? QString() : QStringLiteral("Strombereich ") + range);
    ReasonLabel->setText(StartButton->isEnabled() ? QString() : StartBlockedReason(choice));
}

StartChoice TSelectServiceDialog::Choice() const
{
    StartChoice choice;
    choice.Searching = IsSearching();
    choice.TerminalsListed = int(listed.size());
    choice.Terminal = TerminalCombo->currentText();
    choice.TerminalKnown = Chosen() != nullptr;
    choice.MinCurrent = minCurrent;
    choice.MaxCurrent = maxCurrent;
    choice.StandardPage = IsStandardPageActive();
    choice.ChargeCurrent = chargeCurrent;
    choice.DischargeCurrent = dischargeCurrent;
    choice.Rows = UserGridRows();
    return choice;
}

void TSelectServiceDialog::UserProgStringGridSetEditText(QTableWidgetItem* item)
{
    if (item->column() == FunctionColumn) {
        const QString text = item->text();
        if (!text.isEmpty() && text != QLatin1String("L") && text != QLatin1String("E")) {
            if (alertSound)
                alertSound();
            item->setText(QString());   // re-enters with the empty text, which passes
            return;
        }
    }
    UpdateStartButton();
}
