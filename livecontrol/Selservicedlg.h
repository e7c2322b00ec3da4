#pragma once
// TSelectServiceDialog ("Akkubehandlung"): the user picks a free charger
// terminal and either a standard program with its currents or a user program
// of up to ten steps. The dialog starts nothing; the caller reads the choice.
//
// One instance is reused for every start: typed currents, the user program
// grid and the active page persist, while the terminal list, the program list
// and the radio buttons are reset on every showing.
//
// Every showing and every "&Suchen" searches the ports anew. The search runs on
// a worker thread while this thread keeps repainting under a busy cursor; user
// input is held back until it has finished.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "treatment/Serviceman.h"

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

namespace Ohmrida { class TerminalManager; }

class TSelectServiceDialog : public QDialog {
    Q_OBJECT
public:
    // Whether a listed treatment uses the terminal of that name.
    using TerminalInUse = std::function<bool(const std::string& terminalName)>;
    // Rebuilds the terminal registry; runs on a worker thread.
    using SearchFunction = std::function<void(Ohmrida::TerminalManager&)>;

    TSelectServiceDialog(Ohmrida::TerminalManager& terminals, const TServiceManager& services,
                         QWidget* parent = nullptr);
    TSelectServiceDialog(Ohmrida::TerminalManager& terminals, TerminalInUse terminalInUse,
                         QWidget* parent = nullptr);
    ~TSelectServiceDialog() override;

    // The search used on every showing and by "&Suchen"; TerminalManager::Scan by default.
    void SetSearchFunction(SearchFunction search);
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

    void FillTerminalList();
    void ReadCurrents();
    bool CheckInput();
    void UpdateStartButton();
    bool IsSearching() const { return searching; }

    // The program numbers ProgramCombo offers, in its order.
    static const std::vector<uint8_t>& ProgramChoices();
    static constexpr int UserStepRows = 10;
    static constexpr int FunctionColumn = 0;
    static constexpr int CurrentColumn = 1;
    static constexpr int LimitColumn = 2;

    // Controls, named by kind and role.
    QLabel* Label1 = nullptr;
    QComboBox* TerminalCombo = nullptr;
    QPushButton* Button1 = nullptr;   // "&Suchen"
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
    QPushButton* StartButton = nullptr;
    QPushButton* Button4 = nullptr;   // "&Abbruch"

signals:
    // A terminal search begins (the ports are asked on a worker thread).
    void SearchStarted();
    // A terminal search has finished and the lists are rebuilt.
    void SearchFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void BuildControls();
    QGroupBox* BuildCurrentGroup(const QString& title, QRadioButton*& c10, QRadioButton*& cThird,
                                 QRadioButton*& c, QRadioButton*& user, QLineEdit*& edit);
    void ConnectCurrentGroup(QRadioButton* c10, QRadioButton* cThird, QRadioButton* c,
                             QRadioButton* user, QLineEdit* edit);
    void FormShow();
    void SearchTerminals();
    void Button1Click();
    void TerminalComboChange();
    void UserProgStringGridSetEditText(QTableWidgetItem* item);
    int CurrentOf(const QRadioButton* c10, const QRadioButton* cThird, const QRadioButton* c,
                  const QLineEdit* edit) const;

    Ohmrida::TerminalManager& terminals;
    TerminalInUse terminalInUse;
    SearchFunction search;
    std::function<void()> alertSound;
    bool searching = false;
    bool showPending = false;

    int capacity = 0;
    int chargeCurrent = 0;
    int dischargeCurrent = 0;
    int maxCurrent = 0;
    int minCurrent = 0;
};
