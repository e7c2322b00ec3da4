// What the main window keeps across starts: its size and splitters, the
// options dialog's values, the port assignment and the folders of the file
// dialogs. Everything lives in the settings handed over by the program's
// start; the window tests run without and keep nothing.

#include "Mainform.h"

#include "database/Datamodule.h"
#include "treatment/PortSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>

namespace {

const QString timerKey = QStringLiteral("options/timerMs");
const QString minDeltaUKey = QStringLiteral("options/minDeltaU");
const QString minDeltaIKey = QStringLiteral("options/minDeltaI");
const QString geometryKey = QStringLiteral("window/geometry");
const QString verticalKey = QStringLiteral("window/verticalSplitter");
const QString horizontalKey = QStringLiteral("window/horizontalSplitter");
const QString foldersGroup = QStringLiteral("folders/");

// A stored number, or nothing when it is missing or no number (a hand-edited file).
bool storedNumber(const QSettings &settings, const QString &key, int &value)
{
    bool ok = false;
    const int stored = settings.value(key).toInt(&ok);
    if (ok)
        value = stored;
    return ok;
}

} // namespace

QSize TMainForm::FirstStartSize(const QSize &availableScreen)
{
    const QSize wanted(1100, 750);
    if (!availableScreen.isValid())
        return wanted;
    return wanted.boundedTo(availableScreen * 0.9);
}

void TMainForm::SetSettings(QSettings *settings)
{
    settings_ = settings;
    if (!settings_)
        return;

    int value = 0;
    if (storedNumber(*settings_, timerKey, value))
        TheTimer->setInterval(std::max(1000, std::abs(value)));
    if (database_ && storedNumber(*settings_, minDeltaUKey, value))
        database_->SetMinDeltaU(std::abs(value));
    if (database_ && storedNumber(*settings_, minDeltaIKey, value))
        database_->SetMinDeltaI(std::abs(value));
    PortSettings::Apply(*settings_);

    settings_->beginGroup(foldersGroup);
    for (const QString &kind : settings_->childKeys())
        lastFolders_[kind] = settings_->value(kind).toString();
    settings_->endGroup();

    if (!restoreGeometry(settings_->value(geometryKey).toByteArray())) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect();
        resize(FirstStartSize(available.size()));
        if (available.isValid())
            move(available.center() - rect().center());
    }
    VerticalSplitter->restoreState(settings_->value(verticalKey).toByteArray());
    HorizontalSplitter->restoreState(settings_->value(horizontalKey).toByteArray());
}

void TMainForm::SaveWindowState()
{
    if (!settings_)
        return;
    settings_->setValue(geometryKey, saveGeometry());
    settings_->setValue(verticalKey, VerticalSplitter->saveState());
    settings_->setValue(horizontalKey, HorizontalSplitter->saveState());
    settings_->sync();
}

void TMainForm::SaveOptions()
{
    if (!settings_ || !database_)
        return;
    settings_->setValue(timerKey, TheTimer->interval());
    settings_->setValue(minDeltaUKey, database_->MinDeltaU());
    settings_->setValue(minDeltaIKey, database_->MinDeltaI());
    settings_->sync();
}

QString TMainForm::LastFolder(const QString &kind) const
{
    const auto found = lastFolders_.find(kind);
    if (found != lastFolders_.end() && QFileInfo(found->second).isDir())
        return found->second;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void TMainForm::RememberFolder(const QString &kind, const QString &chosenFile)
{
    const QString folder = QFileInfo(chosenFile).absolutePath();
    lastFolders_[kind] = folder;
    if (settings_) {
        settings_->setValue(foldersGroup + kind, folder);
        settings_->sync();
    }
}
