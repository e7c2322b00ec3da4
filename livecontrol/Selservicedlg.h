#pragma once
// TSelectServiceDialog ("Akkubehandlung"): the user picks a free charger
// terminal and either a standard program with its currents or a user program
// of up to ten steps. The dialog starts nothing; the caller reads the choice.
//
// One instance is reused for every start: typed currents, the user program
// grid and the active page persist, while the terminal list, the program list
// and the radio buttons are reset on every showing.
//
// Every showing and every "&Suchen" searches the ports anew: a request to the
// treatment engine, whose answers (the terminals of each port) fill the list
// as they arrive. The dialog stays fully usable meanwhile: a page can be
// switched, the dialog closed (later answers are dropped), and a terminal that
// was found already chosen; a line under the list says that the search runs.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "treatment/ServiceViews.h"
#include "treatment/Serviceman.h"
#include "livecontrol/StartReason.h"

#include <QVector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableWidget;
class QTableWidgetItem;
class QWidget;

class TSelectServiceDialog : public QDialog {
    Q_OBJECT
public:
    // Whether a listed treatment uses the terminal of that name.
    using TerminalInUse = std::function<bool(const std::string& terminalName)>;
    // Starts a search of the ports and returns its number; its answers come
    // back through TerminalsFound and SearchFinished with that number.
    using SearchFunction = std::function<int()>;

    TSelectServiceDialog(SearchFunction search, TerminalInUse terminalInUse, QWidget* parent = nullptr);
    ~TSelectServiceDialog() override;
    // The alert for a bad function letter; QApplication::beep by default.
    void SetAlertSound(std::function<void()> alert) { alertSound = std::move(alert); }

    // Nominal capacity of the battery in mAh; set by the caller before every showing.
    void SetCapacity(int mAh) { capacity = mAh; }
    int Capacity() const { return capacity; }

    // The chosen standard program (1..5).
    uint8_t SelectedProgram() const;
    int ChargeCurrent() const { return chargeCurrent; }
    int DischargeCurrent() const { return dischargeCurrent; }
    int MaxCurrent() const { return maxCurrent; }
    int MinCurrent() const { return minCurrent; }
    std::string TerminalName() const;
    bool IsStandardPageActive() const;
    bool IsSpecialPageActive() const { return !IsStandardPageActive(); }

    // Cells of grid rows 1..10 (function, current, limit), and the user program
    // they define; UserSteps throws UserStepError for a cell it cannot read.
    std::vector<UserGridRow> UserGridRows() const;
    std::vector<UserStep> UserSteps() const;

    // Empties the list and starts a search.
    void FillTerminalList();
    void ReadCurrents();
    bool CheckInput();
    void UpdateStartButton();
    // The dialog's state for StartBlockedReason (currents as ReadCurrents left them).
    StartChoice Choice() const;
    bool IsSearching() const { return search != 0; }
    // The terminals listed, as the search reported them.
    const QVector<TerminalInfo>& Listed() const { return listed; }

    // The answers of a search: some port's terminals, and the end with all of them.
    void TerminalsFound(int searchNumber, const QVector<TerminalInfo>& terminals);
    void SearchFinished(int searchNumber, const QVector<TerminalInfo>& terminals);

    // The program numbers ProgramCombo offers, in its order.
    static const std::vector<uint8_t>& ProgramChoices();
    static constexpr int UserStepRows = 10;
    static constexpr int FunctionColumn = 0;
    static constexpr int CurrentColumn = 1;
    static constexpr int LimitColumn = 2;

signals:
    // A terminal search begins.
    void SearchBegun();
    // A terminal search has ended (all ports answered, or the dialog closed).
    void SearchEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    // Controls, named by kind and role.
    QLabel* Label1 = nullptr;
    QComboBox* TerminalCombo = nullptr;
    QPushButton* Button1 = nullptr;   // "&Suchen"
    QLabel* SearchLabel = nullptr;    // "Suche Ladegeräte..." while a search runs
    QTabWidget* ProgramPageControl = nullptr;
    QWidget* StandardTabSheet = nullptr;
    QWidget* SpecialTabSheet = nullptr;
    QComboBox* ProgramCombo = nullptr;
    QGroupBox* GroupBox1 = nullptr;   // discharge current
    QRadioButton* rbDischargeC10 = nullptr;
    QRadioButton* rbDischargeCThird = nullptr;
    QRadioButton* rbDischargeC = nullptr;
    QRadioButton* rbDischargeUser = nullptr;
    QLineEdit* DischargeCurrentEdit = nullptr;
    QGroupBox* GroupBox2 = nullptr;   // charge current
    QRadioButton* rbChargeC10 = nullptr;
    QRadioButton* rbChargeCThird = nullptr;
    QRadioButton* rbChargeC = nullptr;
    QRadioButton* rbChargeUser = nullptr;
    QLineEdit* ChargeCurrentEdit = nullptr;
    QTableWidget* UserProgStringGrid = nullptr;   // rows 0..9 are the steps 1..10
    QLabel* RangeLabel = nullptr;    // the chosen terminal's current range
    QLabel* ReasonLabel = nullptr;   // why Start is disabled
    QPushButton* StartButton = nullptr;
    QPushButton* Button4 = nullptr;   // "&Abbruch"
    void BuildControls();
    QGroupBox* BuildCurrentGroup(const QString& title, QRadioButton*& c10, QRadioButton*& cThird,
                                 QRadioButton*& c, QRadioButton*& user, QLineEdit*& edit);
    void ConnectCurrentGroup(QRadioButton* c10, QRadioButton* cThird, QRadioButton* c,
                             QRadioButton* user, QLineEdit* edit);
    void FormShow();
    void EndSearch();
    void AddTerminals(const QVector<TerminalInfo>& terminals);
    const TerminalInfo* Chosen() const;
    void Button1Click();
    void TerminalComboChange();
    void UserProgStringGridSetEditText(QTableWidgetItem* item);
    int CurrentOf(const QRadioButton* c10, const QRadioButton* cThird, const QRadioButton* c,
                  const QLineEdit* edit) const;

    SearchFunction startSearch;
    TerminalInUse terminalInUse;
    std::function<void()> alertSound;
    int search = 0;   // the search whose answers are awaited, 0: none
    QVector<TerminalInfo> listed;

    int capacity = 0;
    int chargeCurrent = 0;
    int dischargeCurrent = 0;
    int maxCurrent = 0;
    int minCurrent = 0;
};
