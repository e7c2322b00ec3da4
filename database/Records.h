#pragma once
// Plain records exchanged between the database and the treatment code.

// One step of a treatment: a row of table sub plus its time limit (not stored).
struct StepRecord {
    int ServiceID = 0;
    int Step = 0;       // 1-based
    int Function = 0;   // StepFunction
    int Parameter = 0;  // current in mA
    int Duration = 0;   // s
    int Capacity = 0;   // mAh
    int State = 0;      // StepState
    int TimeLimit = 0;  // s, 0 = none
};

// One measured point: a row of table samples plus the capacity (not stored).
struct Sample {
    int ServiceID = 0;
    int Step = 0;       // 1-based
    int Time = 0;       // s since the treatment started
    int Voltage = 0;    // mV
    int Current = 0;    // mA
    int Capacity = 0;   // mAh
};
