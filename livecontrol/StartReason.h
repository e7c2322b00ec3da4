#pragma once
// Why "Starten" of the selection dialog is greyed, in words the user can act
// on ("Ladestrom 2000 mA liegt über 500 mA, dem Höchstwert von Lumo an
// COM1"), and the chosen terminal's current range. Plain functions of the
// dialog's state, so every reason is tested without a window.

#include "treatment/Serviceman.h"

#include <QString>

#include <vector>

struct StartChoice {
    bool Searching = false;      // a port search is still under way
    int TerminalsListed = 0;     // free terminals in the list
    QString Terminal;            // the chosen terminal's name as typed or picked
    bool TerminalKnown = false;  // ... names a listed terminal
    int MinCurrent = 0, MaxCurrent = 0;   // mA, of the chosen terminal
    bool StandardPage = true;
    int ChargeCurrent = 0, DischargeCurrent = 0;   // mA, on "Standard"
    std::vector<UserGridRow> Rows;                 // on "Spezial"
};

// Empty when the choice may be started.
QString StartBlockedReason(const StartChoice &choice);
// "Lumo an COM1: 10 bis 500 mA"; empty without a chosen terminal.
QString CurrentRangeText(const StartChoice &choice);
