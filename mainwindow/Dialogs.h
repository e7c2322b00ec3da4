#pragma once
// The main window's small modal dialogs: new battery, find battery, options
// and the about box. Each is created once, hidden, and reused; the fields keep
// what was typed from one showing to the next unless a showing resets them.

#include "Commands.h"

#include <QDialog>
#include <QSpinBox>

class QComboBox;
class QLineEdit;
class QPushButton;

class TNewBatteryDialog : public QDialog {
    Q_OBJECT
public:
    explicit TNewBatteryDialog(QWidget *parent = nullptr);

    // Before every showing: the proposed ID, the first type and the empty form;
    // capacity, cells and description keep what they held.
    void Prepare(int proposedID);
    MainCommands::NewBatteryInput Input() const;

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

    TIDSpinBox *edID;   // the field with its up/down spinner (udID)
    QPushButton *Button1;
    QPushButton *Button2;
};

class TOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsDialog(QWidget *parent = nullptr);
    void SetTexts(const MainCommands::OptionsTexts &texts);
    MainCommands::OptionsTexts Texts() const;

    QLineEdit *edTimer;
    QLineEdit *edMinDeltaU;
    QLineEdit *edMinDeltaI;
    QPushButton *Button1;
    QPushButton *Button2;
};

class TInfoDialog : public QDialog {
    Q_OBJECT
public:
    explicit TInfoDialog(QWidget *parent = nullptr);

protected:
    // Any key closes the box.
    void keyPressEvent(QKeyEvent *event) override;
};
