#include "database/Datamodule.h"

#include "database/ChangeListener.h"
#include "database/DataLocation.h"
#include "database/SqlStore.h"
#include "database/StoreDialect.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QVariant renderStored(const QString &column, const QVariant &stored)
{
    if (column == QLatin1String("F_Date"))
        return DateText(stored);
    if (column == QLatin1String("F_Time"))
        return TimeText(stored);
    if (column == QLatin1String("F_Health"))
        return stored.isNull() ? QString() : QStringLiteral("%1 %").arg(stored.toInt());
    return stored;
}

// Keeps a list's views suspended for the duration of a re-read. Release()
// ends it with the notice the re-read owes its views, which re-reads the
// lists that follow this one and may fail; a re-read that failed before is
// ended by the destructor without the notice, which never throws.
class ControlsDisabled {
public:
    explicit ControlsDisabled(QueryModel *query) : query_(query) { query_->disableControls(); }
    ~ControlsDisabled()
    {
        if (query_)
            query_->enableControls(false);
    }
    void Release()
    {
        QueryModel *query = query_;
        query_ = nullptr;
        query->enableControls();
    }
    ControlsDisabled(const ControlsDisabled &) = delete;
    ControlsDisabled &operator=(const ControlsDisabled &) = delete;

private:
    QueryModel *query_;
};

} // namespace

TBRASKDataModule::TBRASKDataModule(const QString &databaseDirectory, QObject *parent)
    : TBRASKDataModule(std::make_shared<SqlStore>(databaseDirectory), parent)
{
}

TBRASKDataModule::TBRASKDataModule(std::shared_ptr<SqlStore> store, QObject *parent)
    : QObject(parent), reader_(std::make_unique<RecordReader>(std::move(store)))
{
    reader_->Store().setThreadBusyWait(ReadWaitMs);
    createLists();
}

void TBRASKDataModule::createLists()
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
                        {QStringLiteral("F_Health"), QStringLiteral("Zustand")},
                        {QStringLiteral("F_Capacity"), QStringLiteral("Kapazit\u00e4t")},
                        {QStringLiteral("F_Brand"), QStringLiteral("Beschreibung")},
                        {QStringLiteral("F_TypeString"), QStringLiteral("Typ")}};

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

    SqlStore &store = reader_->Store();
    batteryQuery_ = std::make_unique<QueryModel>(store, std::move(batteries));
    serviceQuery_ = std::make_unique<QueryModel>(store, std::move(services));
    subServiceQuery_ = std::make_unique<QueryModel>(store, std::move(steps));

    connect(batteryQuery_.get(), &QueryModel::currentRowChanged, this, &TBRASKDataModule::batteriesCurrentChanged);
    connect(batteryQuery_.get(), &QueryModel::afterScroll, this, &TBRASKDataModule::BatteryQueryAfterScroll);
    connect(serviceQuery_.get(), &QueryModel::currentRowChanged, this, &TBRASKDataModule::servicesCurrentChanged);
    connect(subServiceQuery_.get(), &QueryModel::currentRowChanged, this,
            &TBRASKDataModule::SelectedSubServicesDataChange);

    subServiceQuery_->setSql({QStringLiteral("SELECT * FROM sub")});
    serviceQuery_->setSql({QStringLiteral("SELECT * FROM services")});
    // Key order, as a file's table walks it; a server keeps no order of its own.
    setBatterySql();
    // Opening the battery list narrows the treatment list (to none when there is no battery).
    batteryQuery_->open();
}

TBRASKDataModule::~TBRASKDataModule()
{
    listener_.reset();
    // The queries go before the store whose connections they use.
    subServiceQuery_.reset();
    serviceQuery_.reset();
    batteryQuery_.reset();
}

void TBRASKDataModule::FollowOtherPCs()
{
    // A listener whose notices are never read would make the server keep them
    // all; only a program that runs its event loop listens.
    if (!IsShared()) {
        followFile();
        return;
    }
    if (listener_)
        return;
    listener_ = std::make_unique<ChangeListener>(reader_->Store());
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

void TBRASKDataModule::followFile()
{
    if (fileWatch_)
        return;
    fileWatch_ = std::make_unique<QTimer>();
    fileWatch_->setInterval(FileWatchMs);
    connect(fileWatch_.get(), &QTimer::timeout, this, [this] { checkFile(true); });
    checkFile(false);
    fileWatch_->start();
}

void TBRASKDataModule::checkFile(bool report)
{
    // The file counts the commits of other connections (the engine's, other
    // programs'); only when the rows the lists show differ are they read again.
    try {
        QSqlQuery version(reader_->Store().connection());
        if (!version.exec(reader_->Store().dialect().changeCounterQuery()) || !version.next())
            return;
        const qint64 seen = version.value(0).toLongLong();
        if (seen == dataVersion_)
            return;
        dataVersion_ = seen;
        const QString lists = ListsFingerprint();
        if (lists == listsFingerprint_)
            return;
        listsFingerprint_ = lists;
        if (!report)
            return;
        RefreshLists();
        emit RecordsChanged({QStringLiteral("batteries"), QStringLiteral("services"), QStringLiteral("sub")});
    } catch (const DatabaseError &error) {
        // Locked or busy: the next turn reads again.
        qWarning("%s", error.what());
    }
}

QString TBRASKDataModule::ListsFingerprint()
{
    // The battery list whole (it is short); treatments and steps by figures
    // that every insert, delete and step result changes.
    QSqlQuery query = reader_->Store().exec(QStringLiteral(
        "SELECT (SELECT group_concat(F_ID || '|' || IFNULL(F_Capacity, '') || '|' || IFNULL(F_Type, '') || '|' "
        "|| IFNULL(F_Form, '') || '|' || IFNULL(F_Cells, '') || '|' || IFNULL(F_Date, '') || '|' "
        "|| IFNULL(F_Brand, '') || '|' || IFNULL(F_Info, ''), char(10)) FROM batteries), "
        "(SELECT COUNT(*) || '|' || TOTAL(F_ID) || '|' || TOTAL(F_Battery) FROM services), "
        "(SELECT COUNT(*) || '|' || TOTAL(F_State) || '|' || TOTAL(F_Duration) || '|' || TOTAL(F_Capacity) "
        "FROM sub)"));
    if (!query.next())
        return QString();
    return query.value(0).toString() + QLatin1Char('\n') + query.value(1).toString() + QLatin1Char('\n')
           + query.value(2).toString();
}

QString TBRASKDataModule::DefaultDatabaseDirectory()
{
    return DataLocation::ForThisProgram(QString()).directory;
}

QString TBRASKDataModule::DatabaseFile() const
{
    return reader_->DatabaseFile();
}

bool TBRASKDataModule::IsReadOnly() const
{
    return reader_->IsReadOnly();
}

bool TBRASKDataModule::IsShared() const
{
    return reader_->IsShared();
}

const std::shared_ptr<SqlStore> &TBRASKDataModule::SharedStore() const
{
    return reader_->SharedStore();
}

// ---- the lists ------------------------------------------------------------------

void TBRASKDataModule::reopen(QueryModel *query, const QString &table, int id)
{
    ControlsDisabled suspended(query);
    query->close();
    // The table is never user input: one of the three list tables.
    if (reader_->Store().exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(table)).next()) {
        query->open();
        if (id == 0) {
            query->last();
        } else {
            query->first();
            while (query->currentValue(QStringLiteral("F_ID")).toInt() != id && query->next()) {
            }
        }
    }
    suspended.Release();
}

void TBRASKDataModule::batteriesCurrentChanged()
{
    const QVariant current = batteryQuery_->currentValue(QStringLiteral("F_ID"));
    const int id = current.isValid() ? current.toInt() : 0;
    serviceQuery_->setSql({QStringLiteral("SELECT * FROM services "), QStringLiteral("WHERE F_Battery = ?"),
                           orderClause(List::Services)},
                          {id});
    serviceQuery_->open();
    emit SelectedBatteriesDataChange();
    emit BatteryCommandsChanged();
}

void TBRASKDataModule::servicesCurrentChanged()
{
    const QVariant current = serviceQuery_->currentValue(QStringLiteral("F_ID"));
    const int id = current.isValid() ? current.toInt() : 0;
    subServiceQuery_->setSql({QStringLiteral("SELECT * FROM sub "), QStringLiteral("WHERE F_ServiceID = ?"),
                              orderClause(List::Steps)},
                             {id});
    subServiceQuery_->open();
    emit SelectedServicesDataChange();
    emit ServiceCommandsChanged();
}

void TBRASKDataModule::ReopenBatteries(int id)
{
    reopen(batteryQuery_.get(), QStringLiteral("batteries"), id);
}

namespace {

// Columns a list may be ordered by: shown column -> stored column. The order
// clause is built from these fixed names only.
const QHash<QString, QString> &sortColumns(TBRASKDataModule::List list)
{
    static const QHash<QString, QString> batteries = {
        {QStringLiteral("F_ID"), QStringLiteral("F_ID")},          {QStringLiteral("F_Capacity"), QStringLiteral("F_Capacity")},
        {QStringLiteral("F_Type"), QStringLiteral("F_Type")},      {QStringLiteral("F_TypeString"), QStringLiteral("F_Type")},
        {QStringLiteral("F_Brand"), QStringLiteral("F_Brand")},    {QStringLiteral("F_Health"), QStringLiteral("F_Health")}};
    static const QHash<QString, QString> services = {
        {QStringLiteral("F_ID"), QStringLiteral("F_ID")},           {QStringLiteral("F_Date"), QStringLiteral("F_Date")},
        {QStringLiteral("F_Time"), QStringLiteral("F_Time")},       {QStringLiteral("F_Program"), QStringLiteral("F_Program")},
        {QStringLiteral("F_ProgramString"), QStringLiteral("F_Program")}};
    static const QHash<QString, QString> steps = {
        {QStringLiteral("F_Step"), QStringLiteral("F_Step")},
        {QStringLiteral("F_Function"), QStringLiteral("F_Function")},
        {QStringLiteral("F_FunctionString"), QStringLiteral("F_Function")},
        {QStringLiteral("F_Parameter"), QStringLiteral("F_Parameter")},
        {QStringLiteral("F_Capacity"), QStringLiteral("F_Capacity")},
        {QStringLiteral("F_Duration"), QStringLiteral("F_Duration")},
        {QStringLiteral("F_DurationString"), QStringLiteral("F_Duration")},
        {QStringLiteral("F_State"), QStringLiteral("F_State")},
        {QStringLiteral("F_StateString"), QStringLiteral("F_State")}};
    switch (list) {
    case TBRASKDataModule::List::Batteries: return batteries;
    case TBRASKDataModule::List::Services: return services;
    case TBRASKDataModule::List::Steps: break;
    }
    return steps;
}

// The health of every battery: its latest discharge step that ended OK
// against the nominal capacity, in whole percent (rounded); NULL while none.
// Found through the indexes on services' battery and sub's key.
const char *const healthColumn =
    "CASE WHEN batteries.F_Capacity > 0 THEN ((SELECT s.F_Capacity FROM services v JOIN sub s ON s.F_ServiceID = "
    "v.F_ID WHERE v.F_Battery = batteries.F_ID AND s.F_Function = 0 AND s.F_State = 3 ORDER BY v.F_ID DESC, "
    "s.F_Step DESC LIMIT 1) * 200 + batteries.F_Capacity) / (2 * batteries.F_Capacity) END";

} // namespace

QString TBRASKDataModule::orderClause(List list) const
{
    const Order &order = orders_[int(list)];
    const QString direction = order.order == Qt::DescendingOrder ? QStringLiteral(" DESC") : QString();
    const QString key = list == List::Steps ? QStringLiteral("F_Step") : QStringLiteral("F_ID");
    // Rows without a figure come last either way (SQLite and PostgreSQL put NULLs at opposite ends).
    QString clause = QStringLiteral(" ORDER BY (%1 IS NULL), %1%2").arg(order.column, direction);
    if (order.column != key)
        clause += QStringLiteral(", ") + key;
    return clause;
}

void TBRASKDataModule::setBatterySql()
{
    batteryQuery_->setSql({QStringLiteral("SELECT * FROM (SELECT batteries.*, ") + QLatin1String(healthColumn)
                               + QStringLiteral(" AS F_Health FROM batteries) AS b"),
                           orderClause(List::Batteries)});
}

void TBRASKDataModule::SortList(List list, const QString &column, Qt::SortOrder order)
{
    const auto stored = sortColumns(list).find(column);
    if (stored == sortColumns(list).end())
        throw DatabaseError(QStringLiteral("Nach der Spalte \"%1\" kann nicht sortiert werden").arg(column));
    orders_[int(list)] = {stored.value(), order};
    // A list read in its new order stands on its first row.
    switch (list) {
    case List::Batteries:
        setBatterySql();
        if (!batteryQuery_->isEmpty())
            batteryQuery_->open();
        break;
    case List::Services:
        if (batteryQuery_->isOpen())
            batteriesCurrentChanged();
        break;
    case List::Steps:
        if (subServiceQuery_->isOpen())
            servicesCurrentChanged();
        break;
    }
}

QString TBRASKDataModule::SortColumn(List list) const
{
    return orders_[int(list)].column;
}

Qt::SortOrder TBRASKDataModule::SortOrder(List list) const
{
    return orders_[int(list)].order;
}

void TBRASKDataModule::ReopenServices(int id)
{
    reopen(serviceQuery_.get(), QStringLiteral("services"), id);
}

void TBRASKDataModule::ReopenSteps()
{
    ControlsDisabled suspended(subServiceQuery_.get());
    subServiceQuery_->close();
    subServiceQuery_->open();
    suspended.Release();
}

void TBRASKDataModule::RefreshLists()
{
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
        suspended.Release();
    }
    if (step.isValid()) {
        for (int row = 0; row < subServiceQuery_->rowCount(); ++row)
            if (subServiceQuery_->value(row, QStringLiteral("F_Step")).toInt() == step.toInt())
                subServiceQuery_->setCurrentRow(row);
    }
}

void TBRASKDataModule::Follow(const RecordChange &change)
{
    switch (change.What) {
    case RecordChange::BatteryAdded:
        ReopenBatteries(change.BatteryID);
        break;
    case RecordChange::BatteryChanged:
        RefreshLists();
        break;
    case RecordChange::BatteryDeleted:
        ReopenBatteries(0);
        emit ServicesDeleted();
        break;
    case RecordChange::ServiceAdded:
        // The newest treatment of the battery becomes the selected one.
        ReopenServices(0);
        break;
    case RecordChange::ServiceDeleted:
        ReopenServices(0);
        emit ServicesDeleted();
        break;
    case RecordChange::StepsChanged:
        ReopenSteps();
        break;
    }
}

void TBRASKDataModule::ReadSelectedBattery(Battery &battery)
{
    const auto field = [this](const char *column) { return batteryQuery_->currentValue(QLatin1String(column)); };
    battery.ID = field("F_ID").toInt();
    battery.Capacity = field("F_Capacity").toInt();
    battery.Type = field("F_Type").toInt();
    battery.Form = field("F_Form").toInt();
    battery.Cells = field("F_Cells").toInt();
    battery.MaxCharge = field("F_MaxCharge").toInt();
    battery.SelfDischarge = field("F_SelfDischarge").toInt();
    battery.Date = DateText(field("F_Date"));
    battery.Brand = field("F_Brand").toString();
    battery.Info = field("F_Info").toString();
}

int TBRASKDataModule::SelectedBatteryID()
{
    return batteryQuery_->currentValue(QStringLiteral("F_ID")).toInt();
}

int TBRASKDataModule::SelectedBatteryVoltage()
{
    return int(batteryQuery_->currentValue(QStringLiteral("F_Voltage")).toDouble());
}

int TBRASKDataModule::SelectedServiceID()
{
    return serviceQuery_->currentValue(QStringLiteral("F_ID")).toInt();
}

// ---- samples ----------------------------------------------------------------------

void TBRASKDataModule::SelectSamples(int serviceID)
{
    samples_ = reader_->Samples(serviceID);
    sampleRow_ = samples_.isEmpty() ? -1 : 0;
}

bool TBRASKDataModule::FirstSample()
{
    sampleRow_ = samples_.isEmpty() ? -1 : 0;
    return !samples_.isEmpty();
}

bool TBRASKDataModule::NextSample()
{
    if (sampleRow_ < 0 || sampleRow_ >= samples_.size())
        return false;
    ++sampleRow_;
    return sampleRow_ < samples_.size();
}

void TBRASKDataModule::GetSample(Sample &sample)
{
    if (sampleRow_ < 0 || sampleRow_ >= samples_.size())
        return;
    const int capacity = sample.Capacity;
    sample = samples_[sampleRow_];
    sample.Capacity = capacity;
}

// ---- settings -------------------------------------------------------------------------

void TBRASKDataModule::SetMinDeltaU(int millivolts)
{
    minDeltaU_ = millivolts;
    emit SamplingThresholdsChanged(minDeltaU_, minDeltaI_);
}

void TBRASKDataModule::SetMinDeltaI(int milliamps)
{
    minDeltaI_ = milliamps;
    emit SamplingThresholdsChanged(minDeltaU_, minDeltaI_);
}
