#include "Datamodule.h"

#include "ChangeListener.h"
#include "DataLocation.h"
#include "SqlStore.h"
#include "TableCursor.h"

#include <QDate>
#include <QLocale>
#include <QMutexLocker>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QTime>

#include <limits>

namespace {

const QString batteriesCounter = QStringLiteral("batteries");
const QString servicesCounter = QStringLiteral("services");

// Dates and times are stored in ISO form and shown in the user's locale; the
// same texts go into the records, the grids and the curve names.
QString dateText(const QVariant &stored)
{
    const QDate date = QDate::fromString(stored.toString(), Qt::ISODate);
    return date.isValid() ? QLocale::system().toString(date, QLocale::ShortFormat) : stored.toString();
}

QString timeFormatWithSeconds()
{
    // Two treatments started in the same minute must still get different curve names.
    QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        const int minutes = format.lastIndexOf(QLatin1String("mm"));
        if (minutes >= 0)
            format.insert(minutes + 2, QLatin1String(":ss"));
    }
    return format;
}

QString timeText(const QVariant &stored)
{
    const QTime time = QTime::fromString(stored.toString(), Qt::ISODate);
    return time.isValid() ? QLocale::system().toString(time, timeFormatWithSeconds()) : stored.toString();
}

QVariant renderStored(const QString &column, const QVariant &stored)
{
    if (column == QLatin1String("F_Date"))
        return dateText(stored);
    if (column == QLatin1String("F_Time"))
        return timeText(stored);
    return stored;
}

void checkSmallint(int value, const char *column)
{
    if (value < -32768 || value > 32767)
        throw DatabaseError(QStringLiteral("Wert %1 f\u00fcr %2 liegt au\u00dferhalb von -32768 bis 32767")
                                .arg(value)
                                .arg(QLatin1String(column)));
}

// Keeps a list's views suspended for the duration of a re-read, even when it fails.
class ControlsDisabled {
public:
    explicit ControlsDisabled(QueryModel *query) : query_(query) { query_->disableControls(); }
    ~ControlsDisabled() { query_->enableControls(); }
    ControlsDisabled(const ControlsDisabled &) = delete;
    ControlsDisabled &operator=(const ControlsDisabled &) = delete;

private:
    QueryModel *query_;
};

} // namespace

TBRASKDataModule::TBRASKDataModule(const QString &databaseDirectory, QObject *parent)
    : QObject(parent), store_(std::make_unique<SqlStore>(databaseDirectory))
{
    QueryModel::Definition batteries;
    batteries.calculatedColumns = {QStringLiteral("F_Voltage"), QStringLiteral("F_TypeString"),
                                   QStringLiteral("F_FormString"), QStringLiteral("F_MaxChargeString"),
                                   QStringLiteral("F_SelfDischargeString")};
    batteries.calculate = [](const QSqlRecord &row) {
        const int type = row.value(QStringLiteral("F_Type")).toInt();
        return QVariantList{NominalVoltage(row.value(QStringLiteral("F_Cells")).toInt(), type), TypeName(type),
                            FormName(row.value(QStringLiteral("F_Form")).toInt()),
                            PercentText(row.value(QStringLiteral("F_MaxCharge")).toInt()),
                            PercentText(row.value(QStringLiteral("F_SelfDischarge")).toInt())};
    };
    batteries.render = renderStored;
    batteries.titles = {{QStringLiteral("F_ID"), QStringLiteral("ID")},
                        {QStringLiteral("F_Capacity"), QStringLiteral("Kapazit\u00e4t")},
                        {QStringLiteral("F_Brand"), QStringLiteral("Beschreibung")},
                        {QStringLiteral("F_TypeString"), QStringLiteral("Typ")}};
    batteries.editableColumns = {QStringLiteral("F_Info")};
    batteries.table = QStringLiteral("batteries");
    batteries.keyColumn = QStringLiteral("F_ID");
    batteries.maxLengths = {{QStringLiteral("F_Info"), 250}};

    QueryModel::Definition services;
    services.calculatedColumns = {QStringLiteral("F_ProgramString")};
    services.calculate = [](const QSqlRecord &row) {
        return QVariantList{ProgramName(row.value(QStringLiteral("F_Program")).toInt())};
    };
    services.render = renderStored;
    services.titles = {{QStringLiteral("F_Date"), QStringLiteral("Datum")},
                       {QStringLiteral("F_Time"), QStringLiteral("Uhrzeit")},
                       {QStringLiteral("F_ProgramString"), QStringLiteral("Programm")}};

    QueryModel::Definition steps;
    steps.calculatedColumns = {QStringLiteral("F_FunctionString"), QStringLiteral("F_DurationString"),
                               QStringLiteral("F_StateString")};
    steps.calculate = [](const QSqlRecord &row) {
        return QVariantList{FunctionName(row.value(QStringLiteral("F_Function")).toInt()),
                            DurationText(row.value(QStringLiteral("F_Duration")).toInt()),
                            StateName(row.value(QStringLiteral("F_State")).toInt())};
    };
    steps.titles = {{QStringLiteral("F_Step"), QStringLiteral("Schritt")},
                    {QStringLiteral("F_Parameter"), QStringLiteral("mA")},
                    {QStringLiteral("F_Duration"), QStringLiteral("Dauer (s)")},
                    {QStringLiteral("F_Capacity"), QStringLiteral("mAh")},
                    {QStringLiteral("F_State"), QStringLiteral("Status")},
                    {QStringLiteral("F_FunctionString"), QStringLiteral("Funktion")},
                    {QStringLiteral("F_DurationString"), QStringLiteral("Dauer")},
                    {QStringLiteral("F_StateString"), QStringLiteral("Status")}};

    batteryQuery_ = std::make_unique<QueryModel>(*store_, std::move(batteries));
    serviceQuery_ = std::make_unique<QueryModel>(*store_, std::move(services));
    subServiceQuery_ = std::make_unique<QueryModel>(*store_, std::move(steps));

    connect(batteryQuery_.get(), &QueryModel::currentRowChanged, this, &TBRASKDataModule::batteriesCurrentChanged);
    connect(batteryQuery_.get(), &QueryModel::afterScroll, this, &TBRASKDataModule::BatteryQueryAfterScroll);
    connect(serviceQuery_.get(), &QueryModel::currentRowChanged, this, &TBRASKDataModule::servicesCurrentChanged);
    connect(subServiceQuery_.get(), &QueryModel::currentRowChanged, this,
            &TBRASKDataModule::SelectedSubServicesDataChange);

    QMutexLocker locker(&lock_);
    subServiceQuery_->setSql({QStringLiteral("SELECT * FROM sub")});
    serviceQuery_->setSql({QStringLiteral("SELECT * FROM services")});
    // Key order, as a file's table walks it; a server keeps no order of its own.
    batteryQuery_->setSql({QStringLiteral("SELECT * FROM batteries"), QStringLiteral(" ORDER BY F_ID")});
    // Opening the battery list narrows the treatment list (to none when there is no battery).
    batteryQuery_->open();
}

void TBRASKDataModule::FollowOtherPCs()
{
    // A listener whose notices are never read would make the server keep them
    // all; only a program that runs its event loop listens.
    if (!store_->isServer() || listener_)
        return;
    listener_ = std::make_unique<ChangeListener>(*store_);
    connect(listener_.get(), &ChangeListener::tablesChanged, this, [this](const QStringList &tables) {
        const bool lists = tables.contains(QStringLiteral("batteries")) || tables.contains(QStringLiteral("services"))
                           || tables.contains(QStringLiteral("sub"));
        if (lists) {
            try {
                RefreshLists();
            } catch (const DatabaseError &error) {
                // The server is away; the next notice or reconnection reads again.
                qWarning("%s", error.what());
            }
        }
        emit RecordsChanged(tables);
    });
}

bool TBRASKDataModule::IsShared() const
{
    return store_->isServer();
}

void TBRASKDataModule::RefreshLists()
{
    onModelThread([this] {
        QMutexLocker locker(&lock_);
        const QVariant battery = batteryQuery_->currentValue(QStringLiteral("F_ID"));
        const QVariant service = serviceQuery_->currentValue(QStringLiteral("F_ID"));
        const QVariant step = subServiceQuery_->currentValue(QStringLiteral("F_Step"));
        // Each re-read narrows the next list (through the current-row notices);
        // then the old rows are sought again, with one notice per list.
        ReopenBatteries(battery.isValid() ? battery.toInt() : 0);
        if (service.isValid()) {
            ControlsDisabled suspended(serviceQuery_.get());
            for (int row = 0; row < serviceQuery_->rowCount(); ++row)
                if (serviceQuery_->value(row, QStringLiteral("F_ID")).toInt() == service.toInt())
                    serviceQuery_->setCurrentRow(row);
        }
        if (step.isValid()) {
            for (int row = 0; row < subServiceQuery_->rowCount(); ++row)
                if (subServiceQuery_->value(row, QStringLiteral("F_Step")).toInt() == step.toInt())
                    subServiceQuery_->setCurrentRow(row);
        }
    });
}

TBRASKDataModule::~TBRASKDataModule()
{
    QMutexLocker locker(&lock_);
    listener_.reset();
    // The queries go before the store whose connections they use.
    subServiceQuery_.reset();
    serviceQuery_.reset();
    batteryQuery_.reset();
    store_.reset();
}

QString TBRASKDataModule::DefaultDatabaseDirectory()
{
    return DataLocation::ForThisProgram(QString()).directory;
}

QString TBRASKDataModule::DatabaseFile() const
{
    return store_->filePath();
}

bool TBRASKDataModule::IsReadOnly() const
{
    return store_->readOnly();
}

// ---- list queries -----------------------------------------------------------

void TBRASKDataModule::onModelThread(std::function<void()> work)
{
    if (QThread::currentThread() == thread()) {
        work();
        return;
    }
    // The lists and their views live on the module's thread; a re-read asked
    // for from another thread (the logger readout) is carried out there.
    QMetaObject::invokeMethod(
        this,
        [work = std::move(work)] {
            try {
                work();
            } catch (const std::exception &error) {
                qWarning("%s", error.what());
            }
        },
        Qt::QueuedConnection);
}

void TBRASKDataModule::reopen(QueryModel *query, const QString &table, int id)
{
    onModelThread([this, query, table, id] {
        QMutexLocker locker(&lock_);
        ControlsDisabled suspended(query);
        query->close();
        if (TableCursor(*store_, table, {QStringLiteral("F_ID")}).isEmpty())
            return;
        query->open();
        if (id == 0) {
            query->last();
            return;
        }
        query->first();
        while (query->currentValue(QStringLiteral("F_ID")).toInt() != id && query->next()) {
        }
    });
}

void TBRASKDataModule::batteriesCurrentChanged()
{
    QMutexLocker locker(&lock_);
    const QVariant current = batteryQuery_->currentValue(QStringLiteral("F_ID"));
    const int id = current.isValid() ? current.toInt() : 0;
    serviceQuery_->setSql({QStringLiteral("SELECT * FROM services "), QStringLiteral("WHERE F_Battery = "),
                           QStringLiteral("? ORDER BY F_ID")},
                          {id});
    serviceQuery_->open();
    emit SelectedBatteriesDataChange();
    emit BatteryCommandsChanged();
}

void TBRASKDataModule::servicesCurrentChanged()
{
    QMutexLocker locker(&lock_);
    const QVariant current = serviceQuery_->currentValue(QStringLiteral("F_ID"));
    const int id = current.isValid() ? current.toInt() : 0;
    subServiceQuery_->setSql({QStringLiteral("SELECT * FROM sub "), QStringLiteral("WHERE F_ServiceID = "),
                              QStringLiteral("? ORDER BY F_Step")},
                             {id});
    subServiceQuery_->open();
    emit SelectedServicesDataChange();
    emit ServiceCommandsChanged();
}

// ---- batteries --------------------------------------------------------------

void TBRASKDataModule::ReopenBatteries(int id)
{
    reopen(batteryQuery_.get(), QStringLiteral("batteries"), id);
}

void TBRASKDataModule::SortBatteries(const QString &column)
{
    static const QStringList sortable = {QStringLiteral("F_ID"), QStringLiteral("F_Capacity"),
                                         QStringLiteral("F_Type"), QStringLiteral("F_Brand")};
    if (!sortable.contains(column))
        throw DatabaseError(QStringLiteral("Nach der Spalte \"%1\" kann nicht sortiert werden").arg(column));
    onModelThread([this, column] {
        QMutexLocker locker(&lock_);
        if (batteryQuery_->isEmpty())
            return;
        batteryQuery_->setSql({QStringLiteral("SELECT * FROM batteries "), QStringLiteral("ORDER BY "), column});
        batteryQuery_->open();
    });
}

int TBRASKDataModule::readCounter(const QString &name, bool forUpdate)
{
    // Read for an update, the row stays locked until the caller's commit, so
    // two PCs taking an ID at the same moment take two.
    QSqlQuery counter = store_->exec(QStringLiteral("SELECT NextID FROM nextid WHERE TableName = ?")
                                         + (forUpdate ? store_->lockRowsClause() : QString()),
                                     {name});
    if (!counter.next() || counter.value(0).isNull())
        throw DatabaseError(
            QStringLiteral("Der ID-Z\u00e4hler \"%1\" fehlt in der Tabelle nextid; es wurde nichts gespeichert")
                .arg(name));
    // The counter must be a whole number that is a valid ID and can still be
    // advanced; text, a fraction or a number past the Integer range would
    // otherwise become an odd ID (0 or -1) without a word.
    const QVariant stored = counter.value(0);
    const int type = stored.typeId();
    bool whole = type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::ULongLong
                 || type == QMetaType::UInt;
    const qlonglong value = whole ? stored.toLongLong(&whole) : 0;
    if (!whole || value < 1 || value >= std::numeric_limits<int>::max())
        throw DatabaseError(QStringLiteral("Der ID-Z\u00e4hler \"%1\" in der Tabelle nextid steht auf \"%2\" und "
                                           "kann keine g\u00fcltige neue ID (1 bis %3) liefern; es wurde nichts "
                                           "gespeichert")
                                .arg(name, stored.toString())
                                .arg(std::numeric_limits<int>::max() - 1));
    return int(value);
}

void TBRASKDataModule::writeCounter(const QString &name, int value)
{
    TableCursor counters(*store_, QStringLiteral("nextid"), {QStringLiteral("TableName")});
    if (!counters.findKey({name}))
        throw DatabaseError(QStringLiteral("Der ID-Z\u00e4hler \"%1\" fehlt in der Tabelle nextid").arg(name));
    counters.edit({{QStringLiteral("NextID"), value}});
}

int TBRASKDataModule::PeekBatteryID()
{
    QMutexLocker locker(&lock_);
    return readCounter(batteriesCounter);
}

void TBRASKDataModule::AdvanceBatteryID()
{
    QMutexLocker locker(&lock_);
    SqlStore::Transaction transaction(*store_);
    writeCounter(batteriesCounter, readCounter(batteriesCounter, true) + 1);
    transaction.commit();
}

void TBRASKDataModule::InsertBattery(Battery &battery)
{
    QMutexLocker locker(&lock_);
    checkSmallint(battery.Type, "F_Type");
    checkSmallint(battery.Form, "F_Form");
    checkSmallint(battery.Cells, "F_Cells");
    if (battery.Brand.size() > 50)
        throw DatabaseError(QStringLiteral("Die Beschreibung ist l\u00e4nger als 50 Zeichen"));
    const QDate today = QDate::currentDate();
    TableCursor table(*store_, QStringLiteral("batteries"), {QStringLiteral("F_ID")});
    if (table.findKey({battery.ID}))
        throw DatabaseError(QStringLiteral("Ein Akku mit der ID %1 ist bereits vorhanden").arg(battery.ID));
    battery.MaxCharge = -1;
    battery.SelfDischarge = -1;
    battery.Date = dateText(today.toString(Qt::ISODate));
    battery.Info.clear();
    table.append({{QStringLiteral("F_ID"), battery.ID},
                  {QStringLiteral("F_Capacity"), battery.Capacity},
                  {QStringLiteral("F_Type"), battery.Type},
                  {QStringLiteral("F_Form"), battery.Form},
                  {QStringLiteral("F_Cells"), battery.Cells},
                  {QStringLiteral("F_MaxCharge"), battery.MaxCharge},
                  {QStringLiteral("F_SelfDischarge"), battery.SelfDischarge},
                  {QStringLiteral("F_Date"), today.toString(Qt::ISODate)},
                  {QStringLiteral("F_Brand"), battery.Brand},
                  {QStringLiteral("F_Info"), battery.Info}});
    ReopenBatteries(battery.ID);
}

void TBRASKDataModule::fillBattery(Battery &battery, const std::function<QVariant(const QString &)> &field)
{
    battery.Capacity = field(QStringLiteral("F_Capacity")).toInt();
    battery.Type = field(QStringLiteral("F_Type")).toInt();
    battery.Form = field(QStringLiteral("F_Form")).toInt();
    battery.Cells = field(QStringLiteral("F_Cells")).toInt();
    battery.MaxCharge = field(QStringLiteral("F_MaxCharge")).toInt();
    battery.SelfDischarge = field(QStringLiteral("F_SelfDischarge")).toInt();
    battery.Date = dateText(field(QStringLiteral("F_Date")));
    battery.Brand = field(QStringLiteral("F_Brand")).toString();
    battery.Info = field(QStringLiteral("F_Info")).toString();
}

bool TBRASKDataModule::LoadBattery(Battery &battery)
{
    QMutexLocker locker(&lock_);
    TableCursor table(*store_, QStringLiteral("batteries"), {QStringLiteral("F_ID")});
    if (!table.findKey({battery.ID}))
        return false;
    fillBattery(battery, [&table](const QString &column) { return table.value(column); });
    return true;
}

void TBRASKDataModule::ReadSelectedBattery(Battery &battery)
{
    QMutexLocker locker(&lock_);
    battery.ID = batteryQuery_->currentValue(QStringLiteral("F_ID")).toInt();
    fillBattery(battery, [this](const QString &column) { return batteryQuery_->currentValue(column); });
}

int TBRASKDataModule::SelectedBatteryID()
{
    QMutexLocker locker(&lock_);
    return batteryQuery_->currentValue(QStringLiteral("F_ID")).toInt();
}

int TBRASKDataModule::SelectedBatteryVoltage()
{
    QMutexLocker locker(&lock_);
    return int(batteryQuery_->currentValue(QStringLiteral("F_Voltage")).toDouble());
}

void TBRASKDataModule::DeleteSelectedBattery()
{
    QMutexLocker locker(&lock_);
    TableCursor table(*store_, QStringLiteral("batteries"), {QStringLiteral("F_ID")});
    const QVariant selected = batteryQuery_->currentValue(QStringLiteral("F_ID"));
    if (!selected.isValid() || table.isEmpty() || !table.findKey({selected.toInt()}))
        return;
    {
        SqlStore::Transaction transaction(*store_);
        QVector<int> services;
        QSqlQuery ofBattery =
            store_->exec(QStringLiteral("SELECT F_ID FROM services WHERE F_Battery = ?"), {selected.toInt()});
        while (ofBattery.next())
            services.append(ofBattery.value(0).toInt());
        refuseWhileRecorded(services, QStringLiteral("Akku %1").arg(selected.toInt()));
        deleteServicesOfBattery(selected.toInt());
        table.remove();
        transaction.commit();
    }
    ReopenBatteries(0);
    emit ServicesDeleted();
}

// ---- treatments -------------------------------------------------------------

void TBRASKDataModule::ReopenServices(int id)
{
    reopen(serviceQuery_.get(), QStringLiteral("services"), id);
}

int TBRASKDataModule::AllocateServiceID()
{
    QMutexLocker locker(&lock_);
    SqlStore::Transaction transaction(*store_);
    const int id = readCounter(servicesCounter, true);
    writeCounter(servicesCounter, id + 1);
    transaction.commit();
    return id;
}

void TBRASKDataModule::insertServiceRow(Service &service)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int id = AllocateServiceID();
    const QString date = now.date().toString(Qt::ISODate);
    const QString time = now.time().toString(QStringLiteral("HH:mm:ss"));
    TableCursor(*store_, QStringLiteral("services"), {QStringLiteral("F_ID")})
        .append({{QStringLiteral("F_ID"), id},
                 {QStringLiteral("F_Battery"), service.BatteryID},
                 {QStringLiteral("F_Date"), date},
                 {QStringLiteral("F_Time"), time},
                 {QStringLiteral("F_Program"), service.Program}});
    service.ID = id;
    service.Date = dateText(date);
    service.Time = timeText(time);
}

void TBRASKDataModule::InsertService(Service &service)
{
    QMutexLocker locker(&lock_);
    {
        // Counter and row together: a failed post neither stores the row nor uses up an ID.
        SqlStore::Transaction transaction(*store_);
        Service stored = service;
        insertServiceRow(stored);
        transaction.commit();
        service = stored;
    }
    ReopenServices(0);
}

void TBRASKDataModule::InsertServiceWithSteps(Service &service, std::vector<StepRecord> &steps)
{
    QMutexLocker locker(&lock_);
    {
        // A treatment without its steps, or with only some of them, must never
        // be seen, not even after a crash between two posts.
        SqlStore::Transaction transaction(*store_);
        Service stored = service;
        insertServiceRow(stored);
        std::vector<StepRecord> rows = steps;
        for (StepRecord &step : rows) {
            step.ServiceID = stored.ID;
            InsertStep(step);
        }
        transaction.commit();
        service = stored;
        steps = std::move(rows);
    }
    ReopenServices(0);
}

bool TBRASKDataModule::LoadService(Service &service)
{
    QMutexLocker locker(&lock_);
    TableCursor table(*store_, QStringLiteral("services"), {QStringLiteral("F_ID")});
    if (!table.findKey({service.ID}))
        return false;
    service.BatteryID = table.value(QStringLiteral("F_Battery")).toInt();
    service.Date = dateText(table.value(QStringLiteral("F_Date")));
    service.Time = timeText(table.value(QStringLiteral("F_Time")));
    service.Program = table.value(QStringLiteral("F_Program")).toInt();
    return true;
}

int TBRASKDataModule::SelectedServiceID()
{
    QMutexLocker locker(&lock_);
    return serviceQuery_->currentValue(QStringLiteral("F_ID")).toInt();
}

void TBRASKDataModule::DeleteSelectedService()
{
    QMutexLocker locker(&lock_);
    const QVariant selected = serviceQuery_->currentValue(QStringLiteral("F_ID"));
    TableCursor table(*store_, QStringLiteral("services"), {QStringLiteral("F_ID")});
    if (!selected.isValid() || !table.findKey({selected.toInt()}))
        return;
    {
        SqlStore::Transaction transaction(*store_);
        refuseWhileRecorded({selected.toInt()}, QStringLiteral("Die Aufzeichnung %1").arg(selected.toInt()));
        deleteStepsOfService(selected.toInt());
        table.remove();
        transaction.commit();
    }
    ReopenServices(0);
    emit ServicesDeleted();
}

bool TBRASKDataModule::DeleteService(int serviceID)
{
    if (QThread::currentThread() != thread())
        throw DatabaseError(QStringLiteral("DeleteService geht nur im Thread der Datenbank"));
    QMutexLocker locker(&lock_);
    Service service;
    service.ID = serviceID;
    if (!LoadService(service))
        return false;
    ReopenBatteries(service.BatteryID);
    if (SelectedBatteryID() == service.BatteryID) {
        ReopenServices(serviceID);
        if (SelectedServiceID() == serviceID) {
            DeleteSelectedService();
            return true;
        }
    }
    // A treatment whose battery no longer exists cannot be selected; remove it directly.
    SqlStore::Transaction transaction(*store_);
    refuseWhileRecorded({serviceID}, QStringLiteral("Die Aufzeichnung %1").arg(serviceID));
    deleteStepsOfService(serviceID);
    store_->exec(QStringLiteral("DELETE FROM services WHERE F_ID = ?"), {serviceID});
    transaction.commit();
    ReopenServices(0);
    emit ServicesDeleted();
    return true;
}

// Set-based deletes inside the caller's transaction: the same rows the
// row-by-row cascade removes, plus the samples of a treatment without steps.
void TBRASKDataModule::deleteServicesOfBattery(int batteryID)
{
    store_->exec(QStringLiteral("DELETE FROM samples WHERE F_ServiceID IN "
                                "(SELECT F_ID FROM services WHERE F_Battery = ?)"),
                 {batteryID});
    store_->exec(QStringLiteral("DELETE FROM sub WHERE F_ServiceID IN "
                                "(SELECT F_ID FROM services WHERE F_Battery = ?)"),
                 {batteryID});
    store_->exec(QStringLiteral("DELETE FROM services WHERE F_Battery = ?"), {batteryID});
}

void TBRASKDataModule::deleteStepsOfService(int serviceID)
{
    deleteSamplesOfService(serviceID);
    store_->exec(QStringLiteral("DELETE FROM sub WHERE F_ServiceID = ?"), {serviceID});
}

void TBRASKDataModule::deleteSamplesOfService(int serviceID)
{
    store_->exec(QStringLiteral("DELETE FROM samples WHERE F_ServiceID = ?"), {serviceID});
}

// ---- steps ------------------------------------------------------------------

void TBRASKDataModule::InsertStep(StepRecord &step)
{
    QMutexLocker locker(&lock_);
    checkSmallint(step.Step, "F_Step");
    checkSmallint(step.Function, "F_Function");
    checkSmallint(step.Parameter, "F_Parameter");
    step.Duration = step.Capacity = step.State = 0;
    TableCursor(*store_, QStringLiteral("sub"), {QStringLiteral("F_ServiceID"), QStringLiteral("F_Step")})
        .append({{QStringLiteral("F_ServiceID"), step.ServiceID},
                 {QStringLiteral("F_Step"), step.Step},
                 {QStringLiteral("F_Function"), step.Function},
                 {QStringLiteral("F_Parameter"), step.Parameter},
                 {QStringLiteral("F_Duration"), 0},
                 {QStringLiteral("F_Capacity"), 0},
                 {QStringLiteral("F_State"), 0}});
}

bool TBRASKDataModule::GetSubService(StepRecord &step)
{
    QMutexLocker locker(&lock_);
    TableCursor table(*store_, QStringLiteral("sub"), {QStringLiteral("F_ServiceID"), QStringLiteral("F_Step")});
    if (!table.findKey({step.ServiceID, step.Step}))
        return false;
    step.Function = table.value(QStringLiteral("F_Function")).toInt();
    step.Parameter = table.value(QStringLiteral("F_Parameter")).toInt();
    step.Duration = table.value(QStringLiteral("F_Duration")).toInt();
    step.Capacity = table.value(QStringLiteral("F_Capacity")).toInt();
    step.State = table.value(QStringLiteral("F_State")).toInt();
    return true;
}

bool TBRASKDataModule::StoreStepResult(StepRecord &step)
{
    QMutexLocker locker(&lock_);
    TableCursor table(*store_, QStringLiteral("sub"), {QStringLiteral("F_ServiceID"), QStringLiteral("F_Step")});
    if (!table.findKey({step.ServiceID, step.Step}))
        return false;
    table.edit({{QStringLiteral("F_Duration"), step.Duration},
                {QStringLiteral("F_Capacity"), step.Capacity},
                {QStringLiteral("F_State"), step.State}});
    return true;
}

void TBRASKDataModule::ReopenSteps()
{
    onModelThread([this] {
        QMutexLocker locker(&lock_);
        ControlsDisabled suspended(subServiceQuery_.get());
        subServiceQuery_->close();
        subServiceQuery_->open();
    });
}

// ---- samples ----------------------------------------------------------------

void TBRASKDataModule::InsertSample(const Sample &sample)
{
    QMutexLocker locker(&lock_);
    store_->exec(QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                                "VALUES (?, ?, ?, ?, ?)"),
                 {sample.ServiceID, sample.Step, sample.Time, sample.Voltage, sample.Current});
}

void TBRASKDataModule::InsertSamples(const QVector<Sample> &samples)
{
    QMutexLocker locker(&lock_);
    SqlStore::Transaction transaction(*store_);
    for (const Sample &sample : samples)
        InsertSample(sample);
    transaction.commit();
}

void TBRASKDataModule::SelectSamples(int serviceID)
{
    QMutexLocker locker(&lock_);
    QSqlQuery query = store_->exec(
        QStringList{QStringLiteral("SELECT * FROM samples "), QStringLiteral("WHERE F_ServiceID = "),
                    QStringLiteral("? ORDER BY ") + store_->insertionOrder()}
            .join(QString()),
        {serviceID});
    const QSqlRecord columns = query.record();
    const int service = columns.indexOf(QStringLiteral("F_ServiceID"));
    const int step = columns.indexOf(QStringLiteral("F_Step"));
    const int time = columns.indexOf(QStringLiteral("F_Time"));
    const int voltage = columns.indexOf(QStringLiteral("F_Voltage"));
    const int current = columns.indexOf(QStringLiteral("F_Current"));
    QVector<Sample> rows;
    while (query.next()) {
        Sample sample;
        sample.ServiceID = query.value(service).toInt();
        sample.Step = query.value(step).toInt();
        sample.Time = query.value(time).toInt();
        sample.Voltage = query.value(voltage).toInt();
        sample.Current = query.value(current).toInt();
        rows.append(sample);
    }
    samples_ = std::move(rows);
    sampleRow_ = samples_.isEmpty() ? -1 : 0;
}

QVector<TBRASKDataModule::StoredSample> TBRASKDataModule::SamplesAfter(int serviceID, qint64 afterKey)
{
    QMutexLocker locker(&lock_);
    // The key column is the store's own insertion order, never user input.
    const QString key = store_->insertionOrder();
    QSqlQuery query = store_->exec(QStringLiteral("SELECT ") + key
                                       + QStringLiteral(", F_Step, F_Time, F_Voltage, F_Current FROM samples "
                                                        "WHERE F_ServiceID = ? AND ")
                                       + key + QStringLiteral(" > ? ORDER BY ") + key,
                                   {serviceID, afterKey});
    QVector<StoredSample> rows;
    while (query.next()) {
        StoredSample row;
        row.Key = query.value(0).toLongLong();
        row.Values.ServiceID = serviceID;
        row.Values.Step = query.value(1).toInt();
        row.Values.Time = query.value(2).toInt();
        row.Values.Voltage = query.value(3).toInt();
        row.Values.Current = query.value(4).toInt();
        rows.append(row);
    }
    return rows;
}

bool TBRASKDataModule::FirstSample()
{
    QMutexLocker locker(&lock_);
    sampleRow_ = samples_.isEmpty() ? -1 : 0;
    return !samples_.isEmpty();
}

bool TBRASKDataModule::NextSample()
{
    QMutexLocker locker(&lock_);
    if (sampleRow_ < 0 || sampleRow_ >= samples_.size())
        return false;
    ++sampleRow_;
    return sampleRow_ < samples_.size();
}

void TBRASKDataModule::GetSample(Sample &sample)
{
    QMutexLocker locker(&lock_);
    if (sampleRow_ < 0 || sampleRow_ >= samples_.size())
        return;
    const int capacity = sample.Capacity;
    sample = samples_[sampleRow_];
    sample.Capacity = capacity;
}

// ---- curve names and settings -----------------------------------------------

bool TBRASKDataModule::CurveName(CurveKey &key)
{
    QMutexLocker locker(&lock_);
    Service service;
    service.ID = key.ServiceID;
    if (!LoadService(service))
        return false;
    QString name = QStringLiteral("Akku %1, %2, %3, %4, ")
                       .arg(service.BatteryID)
                       .arg(service.Date, service.Time, ProgramCode(service.Program));
    switch (key.Kind) {
    case 0: name += QLatin1String("V"); break;
    case 1: name += QLatin1String("mA"); break;
    case 2: name += QLatin1String("mAh"); break;
    default: break;
    }
    key.Name = name;
    return true;
}

int TBRASKDataModule::MinDeltaU() const
{
    QMutexLocker locker(&lock_);
    return minDeltaU_;
}

void TBRASKDataModule::SetMinDeltaU(int millivolts)
{
    QMutexLocker locker(&lock_);
    minDeltaU_ = millivolts;
}

int TBRASKDataModule::MinDeltaI() const
{
    QMutexLocker locker(&lock_);
    return minDeltaI_;
}

void TBRASKDataModule::SetMinDeltaI(int milliamps)
{
    QMutexLocker locker(&lock_);
    minDeltaI_ = milliamps;
}
