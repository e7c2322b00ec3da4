#pragma once
// The window's settings file, written on a thread of its own. Each change is
// handed over as it happens and written there at once, flushed to disk, so a
// change is kept even when the program is killed right after it, and neither
// a slow disk nor another program's lock on the file holds up the window.
// Changes are written in the order they were made.

#include <QObject>
#include <QSettings>
#include <QString>
#include <QThread>

#include <functional>

class TSettingsWriter : public QObject {
    Q_OBJECT
public:
    using Change = std::function<void(QSettings &)>;

    // The file of `settings` in its format; `settings` itself is not kept.
    explicit TSettingsWriter(const QSettings &settings, QObject *parent = nullptr);
    // Writes what is still queued, then ends the thread.
    ~TSettingsWriter() override;
    TSettingsWriter(const TSettingsWriter &) = delete;
    TSettingsWriter &operator=(const TSettingsWriter &) = delete;

    // Queues a change; it runs on the writer's thread on a QSettings of its
    // own, which is synced to disk right after it.
    void Write(Change change);

signals:
    // The file could not be written (German, with the file's name).
    void WriteFailed(const QString &message);

private:
    QThread thread_;
    QObject *worker_;   // lives on thread_, deleted there when it ends
    QString fileName_;
    QSettings::Format format_;
};
