#pragma once
// How long the event loop of this thread stood still: a 5 ms timer notes the
// longest gap between two of its turns.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

class StallProbe {
public:
    StallProbe()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
    }
    void Start()
    {
        Restart();
        timer_.start(5);
    }
    // Forgets the gaps measured so far.
    void Restart()
    {
        clock_.start();
        last_ = longest_ = 0;
    }
    void Stop() { timer_.stop(); }
    qint64 Longest() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, longest_ = 0;
};
