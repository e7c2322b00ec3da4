#pragma once
// What a garbling peer's log says about the charger: the true status answers
// decoded, and the counts of a run through the bad line. Header only, shared
// by the garbled-line test and its benchmark.

#include "tests/support/GarblingPeer.h"

#include <algorithm>
#include <vector>

namespace SimTest {

// One status read of a channel as the charger answered it (the truth).
struct TrueStatus {
    size_t At = 0;         // index of its first exchange in the log
    bool Garbled = false;  // some answer of it reached the program garbled
    int ModeFlags = 0;
    int DischargeTime = 0, ChargeTime = 0;           // s
    int DischargeCapacity = 0, ChargeCapacity = 0;   // mAh
    int Voltage = 0;                                 // mV
};

inline int TimeOf(const GarblingPeer::Bytes &c, size_t at) { return c[at] * 3600 + c[at + 1] * 60 + c[at + 2]; }
inline int WordOf(const GarblingPeer::Bytes &c, size_t at) { return c[at] << 8 | c[at + 1]; }

// The complete status reads (0x11, 0x21, 0x12 in a row) of the log.
inline std::vector<TrueStatus> TrueStatusReads(const std::vector<GarblingPeer::Exchange> &log)
{
    std::vector<TrueStatus> reads;
    for (size_t i = 0; i + 2 < log.size(); ++i) {
        const auto &a = log[i], &b = log[i + 1], &c = log[i + 2];
        if ((a.command[0] & 0x3F) != 0x11 || (b.command[0] & 0x3F) != 0x21 || (c.command[0] & 0x3F) != 0x12
            || a.truth.size() != 14 || c.truth.size() != 16)
            continue;
        TrueStatus status;
        status.At = i;
        status.Garbled = a.Garbled() || b.Garbled() || c.Garbled();
        status.ModeFlags = a.truth[1];
        status.DischargeCapacity = WordOf(c.truth, 1);
        status.ChargeCapacity = WordOf(c.truth, 3);
        status.Voltage = WordOf(c.truth, 5) * 5;
        status.DischargeTime = TimeOf(c.truth, 7);
        status.ChargeTime = TimeOf(c.truth, 10);
        reads.push_back(status);
    }
    return reads;
}

struct LineCounts {
    int Answers = 0;        // answers the charger gave
    int Garbled = 0;        // of them garbled on the line
    int StatusReads = 0;    // complete status reads the program asked for
    int GarbledReads = 0;   // of them with a garbled answer
};

inline LineCounts CountLine(const std::vector<GarblingPeer::Exchange> &log)
{
    LineCounts counts;
    for (const GarblingPeer::Exchange &exchange : log) {
        counts.Answers += !exchange.truth.empty();
        counts.Garbled += exchange.Garbled();
    }
    const std::vector<TrueStatus> reads = TrueStatusReads(log);
    counts.StatusReads = static_cast<int>(reads.size());
    counts.GarbledReads = static_cast<int>(std::count_if(reads.begin(), reads.end(), [](const TrueStatus &s) {
        return s.Garbled;
    }));
    return counts;
}

} // namespace SimTest
