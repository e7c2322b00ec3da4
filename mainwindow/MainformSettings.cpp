// What the main window keeps across starts: its size and splitters, the
// options dialog's values, the port assignment and the folders of the file
// dialogs. Everything lives in the settings handed over by the program's
// start, read here once and written through the settings writer as it
// changes; the window tests run without and keep nothing.

#include "mainwindow/Mainform.h"
#include "mainwindow/Notifications.h"
#include "mainwindow/SettingsWriter.h"

#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "treatment/PortSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
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
// Whether the user moved the border of the treatment pages; until then
// they take their share of the window's width.
const QString sidePanelPlacedKey = QStringLiteral("window/sidePanelPlaced");
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
    // The previous file gets everything still queued for it.
    windowStateTimer_.stop();
    settingsWriter_.reset();
    storedDatabaseChoice_.clear();
    if (!settings)
        return;

    int value = 0;
    if (storedNumber(*settings, timerKey, value))
        TheTimer->setInterval(std::max(1000, std::abs(value)));
    if (database_ && storedNumber(*settings, minDeltaUKey, value))
        database_->SetMinDeltaU(std::abs(value));
    if (database_ && storedNumber(*settings, minDeltaIKey, value))
        database_->SetMinDeltaI(std::abs(value));
    PortSettings::Apply(*settings);
    NoticeOptions notices;
    notices.Load(*settings);
    notifications_->SetOptions(notices);
    if (database_) {
        // The lists' orders as the user left them ("F_Capacity desc"); a
        // hand-edited value that names no column is passed over.
        const std::pair<QString, TBRASKDataModule::List> orders[] = {
            {QStringLiteral("lists/batteryOrder"), TBRASKDataModule::List::Batteries},
            {QStringLiteral("lists/serviceOrder"), TBRASKDataModule::List::Services},
            {QStringLiteral("lists/stepOrder"), TBRASKDataModule::List::Steps}};
        for (const auto &[key, list] : orders) {
            const QStringList stored = settings->value(key).toString().split(QLatin1Char(' '));
            if (stored.size() != 2)
                continue;
            try {
                database_->SortList(list, stored[0],
                                    stored[1] == QLatin1String("desc") ? Qt::DescendingOrder : Qt::AscendingOrder);
            } catch (const DatabaseError &) {
            }
        }
        ShowSortIndicators();
    }
    storedDatabaseChoice_ = DataLocation::StoredChoice(*settings);

    settings->beginGroup(foldersGroup);
    for (const QString &kind : settings->childKeys())
        lastFolders_[kind] = settings->value(kind).toString();
    settings->endGroup();

    // From here on the window's own changes are kept, the size a first start
    // gives it included.
    settingsWriter_ = std::make_unique<TSettingsWriter>(*settings);
    connect(settingsWriter_.get(), &TSettingsWriter::WriteFailed, this,
            [this](const QString &message) { StatusBar1->showMessage(message); });

    if (!restoreGeometry(settings->value(geometryKey).toByteArray())) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        const QRect available = screen ? screen->availableGeometry() : QRect();
        resize(FirstStartSize(available.size()));
        if (available.isValid())
            move(available.center() - rect().center());
    }
    VerticalSplitter->restoreState(settings->value(verticalKey).toByteArray());
    sidePanelPlaced_ = settings->value(sidePanelPlacedKey, false).toBool()
                       && HorizontalSplitter->restoreState(settings->value(horizontalKey).toByteArray());
}

void TMainForm::ScheduleWindowStateSave()
{
    if (settingsWriter_)
        windowStateTimer_.start();
}

void TMainForm::SaveWindowState()
{
    if (!settingsWriter_)
        return;
    settingsWriter_->Write([geometry = saveGeometry(), vertical = VerticalSplitter->saveState(),
                            horizontal = HorizontalSplitter->saveState(), placed = sidePanelPlaced_](QSettings &settings) {
        settings.setValue(geometryKey, geometry);
        settings.setValue(verticalKey, vertical);
        settings.setValue(horizontalKey, horizontal);
        settings.setValue(sidePanelPlacedKey, placed);
    });
}

void TMainForm::SaveOptions()
{
    if (!settingsWriter_ || !database_)
        return;
    settingsWriter_->Write([timer = TheTimer->interval(), minDeltaU = database_->MinDeltaU(),
                            minDeltaI = database_->MinDeltaI()](QSettings &settings) {
        settings.setValue(timerKey, timer);
        settings.setValue(minDeltaUKey, minDeltaU);
        settings.setValue(minDeltaIKey, minDeltaI);
    });
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
    if (settingsWriter_)
        settingsWriter_->Write([key = foldersGroup + kind, folder](QSettings &settings) { settings.setValue(key, folder); });
}
