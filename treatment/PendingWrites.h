#pragma once
// The records of one treatment that are not in the database yet: step results
// and samples, in the order the polls produced them. A poll only adds to it;
// the manager writes it out in one transaction, so after a failed write the
// database holds exactly what it held before and nothing is written twice.

#include "database/Records.h"

#include <deque>

class RecordStore;

class PendingWrites {
public:
    // Room for 100,000 samples: more than a day of one treatment at the
    // shortest timer period of the windows, over 80 minutes at the command
    // line's fastest tick. Step results always find room (a treatment has at
    // most ten steps, each written a few times).
    static constexpr int DefaultMaxSamples = 100000;

    explicit PendingWrites(int maxSamples = DefaultMaxSamples) : maxSamples_(maxSamples) {}

    void AddStepResult(const StepRecord &step);
    // False when the room is full: the sample is counted as dropped instead.
    bool AddSample(const Sample &sample);

    bool Empty() const { return entries_.empty(); }
    int Samples() const { return samples_; }
    int StepResults() const { return steps_; }
    int Size() const { return static_cast<int>(entries_.size()); }
    // Samples dropped since the last ResetDropped.
    int Dropped() const { return dropped_; }
    void ResetDropped() { dropped_ = 0; }

    // Writes every entry in order through the record store. Keeps the entries:
    // the caller clears them once its transaction has committed.
    void WriteTo(RecordStore &database) const;
    void Clear();

private:
    struct Entry {
        bool IsStep = false;
        StepRecord Step;
        Sample Measured;
    };
    std::deque<Entry> entries_;
    int maxSamples_;
    int samples_ = 0;
    int steps_ = 0;
    int dropped_ = 0;
};
