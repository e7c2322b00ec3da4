#include "treatment/PendingWrites.h"

#include "database/RecordStore.h"

void PendingWrites::AddStepResult(const StepRecord &step)
{
    Entry entry;
    entry.IsStep = true;
    entry.Step = step;
    entries_.push_back(entry);
    ++steps_;
}

bool PendingWrites::AddSample(const Sample &sample)
{
    if (samples_ >= maxSamples_) {
        ++dropped_;
        return false;
    }
    Entry entry;
    entry.Measured = sample;
    entries_.push_back(entry);
    ++samples_;
    return true;
}

void PendingWrites::WriteTo(RecordStore &database) const
{
    for (const Entry &entry : entries_) {
        if (entry.IsStep) {
            // A copy: StoreStepResult takes its record by reference.
            StepRecord step = entry.Step;
            database.StoreStepResult(step);
        } else {
            database.InsertSample(entry.Measured);
        }
    }
}

void PendingWrites::Clear()
{
    entries_.clear();
    samples_ = 0;
    steps_ = 0;
}
