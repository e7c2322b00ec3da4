#pragma once
// The main window's small modal dialogs: new battery, find battery, options
// and the about box. Each is created once, hidden, and reused; the fields keep
// what was typed from one showing to the next unless a showing resets them.

#include "database/MainCommands.h"
#include "mainwindow/Notifications.h"

#include "charger/SerialPorts.h"

#include <QDialog>
#include <QSpinBox>

#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QTabWidget;

class TNewBatteryDialog : public QDialog {
    Q_OBJECT
public:
    explicit TNewBatteryDialog(QWidget *parent = nullptr);

    // Before every showing: the proposed ID, the first type and the empty form;
    // capacity, cells and description keep what they held.
    void Prepare(int proposedID);
    MainCommands::NewBatteryInput Input() const;

private:
    QLineEdit *IDEdit;
    QLineEdit *CapEdit;
    QComboBox *TypCombo;
    QLineEdit *ZellenEdit;
    QComboBox *FormCombo;
    QLineEdit *BezEdit;
    QPushButton *OKBtn;
    QPushButton *CancelBtn;
};

// A spin box whose arrows stop at 0 but which takes every 32-bit number typed,
// so every battery ID that can be stored can also be searched for.
class TIDSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit TIDSpinBox(QWidget *parent = nullptr);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

class TFindAccuDialog : public QDialog {
    Q_OBJECT
public:
    explicit TFindAccuDialog(QWidget *parent = nullptr);
    int Position() const;   // the battery ID to search for

private:
    TIDSpinBox *edID;   // the field with its up/down spinner (udID)
    QPushButton *Button1;
    QPushButton *Button2;
};

// Three pages: "Allgemein" (recording clock, minimum differences and the
// database of the next start), "Schnittstellen" (which device stands
// behind COM1..COM9) and "Meldungen" (notifications and the end command).
class TOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsDialog(QWidget *parent = nullptr);
    void SetTexts(const MainCommands::OptionsTexts &texts);
    MainCommands::OptionsTexts Texts() const;

    // The drop-downs offer these devices (by-id names with their adapters'
    // descriptions first); any other path may be typed.
    void SetDevices(const std::vector<Ohmrida::SerialPorts::Device> &devices);
    // Port number -> device path; a port left empty keeps its default.
    void SetPorts(const std::map<int, std::string> &devices);
    std::map<int, std::string> Ports() const;
    // The device path in a drop-down text ("path — description" -> "path").
    static QString DeviceOfText(const QString &text);

    // Which ports cannot keep the recording clock, and at what period their
    // treatments are polled instead (empty: all keep it).
    void SetClockNote(const QString &note);

    // The database for the next start (a folder or a server URL, empty for
    // the default) and the one this run uses.
    void SetDatabase(const QString &stored, const QString &inUse);
    QString Database() const;

    // The page "Meldungen".
    void SetNotices(const NoticeOptions &options);
    NoticeOptions Notices() const;

    // OK keeps the dialog open, with a message, while the database field
    // names neither a folder nor a valid server URL.
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QTabWidget *Pages;
    QLineEdit *edTimer;
    QLineEdit *edMinDeltaU;
    QLineEdit *edMinDeltaI;
    QComboBox *cbPort[Ohmrida::SerialPorts::LastPort];        // cbCOM1..cbCOM9
    QLabel *lbPortOverride[Ohmrida::SerialPorts::LastPort];   // set when BRASKON_COM<n> wins
    QLineEdit *edDatabase;
    QLabel *lbDatabaseNote;   // when the choice applies, and what wins over it
    QCheckBox *cbNoticeDesktop, *cbNoticeSound, *cbNoticeTaskBar;
    QLineEdit *edEndCommand;
    QLabel *lbClockNote;      // ports whose period stretched beyond the clock
    QPushButton *Button1;
    QPushButton *Button2;

    QString inUse_;
};

class TInfoDialog : public QDialog {
    Q_OBJECT
public:
    explicit TInfoDialog(QWidget *parent = nullptr);

protected:
    // Any key closes the box.
    void keyPressEvent(QKeyEvent *event) override;
};
