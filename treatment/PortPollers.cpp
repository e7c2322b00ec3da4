#include "treatment/PortPollers.h"

#include <QMetaObject>

TPortPollers::~TPortPollers()
{
    for (auto &entry : lanes_)
        entry.second->thread.quit();
    for (auto &entry : lanes_) {
        entry.second->thread.wait();
        entry.second->context.reset();
    }
}

TPortPollers::Lane &TPortPollers::lane(int port)
{
    std::unique_ptr<Lane> &found = lanes_[port];
    if (!found) {
        found = std::make_unique<Lane>();
        found->thread.setObjectName(QStringLiteral("Poll COM%1").arg(port));
        found->context = std::make_unique<QObject>();
        found->context->moveToThread(&found->thread);
        found->thread.start();
    }
    return *found;
}

void TPortPollers::Run(int port, std::function<void()> work, std::function<void()> done)
{
    Lane &target = lane(port);
    target.busy = true;
    QMetaObject::invokeMethod(
        target.context.get(),
        [this, port, work = std::move(work), done = std::move(done)]() mutable {
            work();
            // Queued to this object: dropped with it when the engine ends first.
            QMetaObject::invokeMethod(
                this,
                [this, port, done = std::move(done)] {
                    lanes_.at(port)->busy = false;
                    done();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

bool TPortPollers::Busy(int port) const
{
    const auto found = lanes_.find(port);
    return found != lanes_.end() && found->second->busy;
}

int TPortPollers::BusyCount() const
{
    int busy = 0;
    for (const auto &entry : lanes_)
        busy += entry.second->busy ? 1 : 0;
    return busy;
}
