// The main window's construction: its areas, its dialogs and the links to
// the engine's reports (the commands' actions and menus: MainformMenus.cpp).

#include "mainwindow/Mainform.h"

#include "mainwindow/BatteryPanel.h"
#include "database/MainCommands.h"
#include "mainwindow/Dialogs.h"
#include "mainwindow/Kestrixdlg.h"
#include "mainwindow/Notifications.h"
#include "mainwindow/SettingsWriter.h"

#include "database/Datamodule.h"
#include "diagrams/Diagdocs.h"
#include "diagrams/Diagpropdlg.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "resources/Artwork.h"
#include "treatment/TreatmentEngine.h"
#include "export/Richie.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinter>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------
// Idle handling. Qt has no "message queue is empty" hook; this filter arms a
// zero-time single-shot timer after every event that may change what the
// commands can do (input, focus, showing, resizing, page changes), so
// UpdateMenus runs once the events queued by then are handled. Commands, timer
// ticks, data-link signals and opening menus arm it as well.

class TMainForm::IdleWatcher : public QObject {
public:
    explicit IdleWatcher(TMainForm &form)
        : form_(form)
    {
        qApp->installEventFilter(this);
    }
    ~IdleWatcher() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::FocusIn:
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::Close:
        case QEvent::WindowActivate:
        case QEvent::ChildRemoved:
            form_.ScheduleUpdateMenus();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TMainForm &form_;
};

TMainForm::~TMainForm()
{
    idleWatcher_.reset();
    TheTimer->stop();
}

TMainForm::TMainForm(TBRASKDataModule &database, TTreatmentEngine &engine,
                     std::function<bool(const std::string &)> terminalUsedElsewhere, QWidget *parent)
    : QMainWindow(parent)
    , database_(&database)
    , engine_(&engine)
    , richie_(std::make_unique<::Richie>())
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("QUENTAX Braskon"));
    setWindowIcon(Artwork::ProgramIcon());
    QFont windowFont = font();
    windowFont.setPointSize(8);
    setFont(windowFont);

    TheTimer = new QTimer(this);
    TheTimer->setObjectName(QStringLiteral("TheTimer"));
    TheTimer->setInterval(10000);
    connect(TheTimer, &QTimer::timeout, this, &TMainForm::Timer);

    idleTimer_.setSingleShot(true);
    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, &TMainForm::UpdateMenus);
    // A drag of the window's edge or of a splitter is kept once it has rested
    // for a moment, not at every step of it.
    windowStateTimer_.setSingleShot(true);
    windowStateTimer_.setInterval(500);
    connect(&windowStateTimer_, &QTimer::timeout, this, &TMainForm::SaveWindowState);

    notifications_ = new TNotifications(*this, this);

    BuildCommands();
    BuildMenus();
    BuildPopupMenus();
    BuildAreas();
    BuildToolbar();
    BuildDialogs(std::move(terminalUsedElsewhere));
    connect(notifications_, &TNotifications::EndCommandFailed, this,
            [this](const QString &reason) { StatusBar1->showMessage(reason, 30000); });
    for (QSplitter *splitter : {VerticalSplitter, HorizontalSplitter})
        connect(splitter, &QSplitter::splitterMoved, this, &TMainForm::ScheduleWindowStateSave);
    connect(HorizontalSplitter, &QSplitter::splitterMoved, this, [this] { sidePanelPlaced_ = true; });

    // The fixed panels must not hold the window at their size: the layout
    // rule hides them when the window gets too small.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(0, 0);

    // Client area 632 x 434 below the menu bar; the program's start makes it
    // larger (FirstStartSize) or restores the size the user left it at.
    resize(632, 434 + menuBar()->sizeHint().height());

    ConnectEngine();
    for (Command view : {Command::ShowDiagrams, Command::ShowControls, Command::ShowDB})
        Action(view)->setChecked(true);
    UpdateMenus();
    idleWatcher_ = std::make_unique<IdleWatcher>(*this);
    TheTimer->start();
}

// ---- areas ------------------------------------------------------------------

namespace {

QWidget *NamedWidget(const char *name, QWidget *parent)
{
    auto *widget = new QWidget(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QTabWidget *PageControl(const char *name, QWidget *parent)
{
    auto *pages = new QTabWidget(parent);
    pages->setObjectName(QLatin1String(name));
    pages->setTabPosition(QTabWidget::South);
    return pages;
}

QTableView *ListView(const char *name)
{
    auto *view = new QTableView;
    view->setObjectName(QLatin1String(name));
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setShowGrid(true);
    view->setAlternatingRowColors(false);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setHighlightSections(false);
    view->setWordWrap(false);
    // Tab leaves the list for the next control; the arrows move in it.
    view->setTabKeyNavigation(false);
    // The sort indicator; a second click on a title reverses the order.
    view->horizontalHeader()->setSectionsClickable(true);
    view->horizontalHeader()->setSortIndicatorShown(true);
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    // Where the focus is shows at a glance.
    view->setStyleSheet(QStringLiteral("QTableView:focus { border: 2px solid palette(highlight); }"));
    return view;
}

QWidget *PageWithList(const char *name, QTableView *list)
{
    auto *page = NamedWidget(name, nullptr);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    return page;
}

}  // namespace

void TMainForm::BuildAreas()
{
    auto *central = NamedWidget("MainPanel", this);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);
    setCentralWidget(central);

    // Toolbar panel: a line at the top, the toolbar and the logo at the right.
    auto *toolbarPanel = new QFrame(central);
    toolbarPanel->setObjectName(QStringLiteral("ToolbarPanel"));
    toolbarPanel->setFixedHeight(36);
    auto *toolbarColumn = new QVBoxLayout(toolbarPanel);
    toolbarColumn->setContentsMargins(0, 0, 0, 0);
    toolbarColumn->setSpacing(0);
    auto *topLine = new QFrame(toolbarPanel);
    topLine->setFrameShape(QFrame::HLine);
    topLine->setFrameShadow(QFrame::Sunken);
    topLine->setFixedHeight(2);
    toolbarColumn->addWidget(topLine);
    auto *toolbarRow = new QHBoxLayout;
    toolbarRow->setContentsMargins(0, 0, 0, 0);
    ToolBar1 = new QToolBar(toolbarPanel);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border: none; } QToolButton { min-width: 22px; min-height: 22px; }"));
    toolbarRow->addWidget(ToolBar1, 1);
    // The logo; a double click opens the about box (see eventFilter).
    auto *logo = new QLabel(toolbarPanel);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setPixmap(Artwork::Logo(devicePixelRatioF() > 1.0 ? devicePixelRatioF() : 2.0));
    logo->setFixedSize(Artwork::LogoSize());
    logo->setToolTip(QStringLiteral("Info über Braskon"));
    logo->installEventFilter(this);
    toolbarRow->addWidget(logo, 0, Qt::AlignRight | Qt::AlignVCenter);
    toolbarColumn->addLayout(toolbarRow);
    centralLayout->addWidget(toolbarPanel);

    auto *panel2 = NamedWidget("Panel2", central);
    auto *panel2Layout = new QVBoxLayout(panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(0);
    centralLayout->addWidget(panel2, 1);
    // The user may move the borders between the areas. Until the border of
    // the treatment pages is moved, they take SidePanelShare of the window's
    // width (so their gauges and strip chart grow with it), the diagrams the
    // rest. A hidden area gives its room back.
    VerticalSplitter = new QSplitter(Qt::Vertical, panel2);
    VerticalSplitter->setObjectName(QStringLiteral("VerticalSplitter"));
    VerticalSplitter->setChildrenCollapsible(false);
    panel2Layout->addWidget(VerticalSplitter, 1);

    // Upper part: diagrams filling, treatment control at the right.
    HorizontalSplitter = new QSplitter(Qt::Horizontal, VerticalSplitter);
    HorizontalSplitter->setObjectName(QStringLiteral("UpperPanel"));
    HorizontalSplitter->setChildrenCollapsible(false);
    ClientPanel = NamedWidget("ClientPanel", HorizontalSplitter);
    ClientPanel->setMinimumSize(0, 0);
    auto *clientLayout = new QVBoxLayout(ClientPanel);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    DiagramTab = PageControl("DiagramTab", ClientPanel);
    clientLayout->addWidget(DiagramTab);
    RightPanel = NamedWidget("RightPanel", HorizontalSplitter);
    RightPanel->setMinimumWidth(200);
    auto *rightLayout = new QVBoxLayout(RightPanel);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    AccuTab = PageControl("AccuTab", RightPanel);
    rightLayout->addWidget(AccuTab);
    HorizontalSplitter->addWidget(ClientPanel);
    HorizontalSplitter->addWidget(RightPanel);
    HorizontalSplitter->setStretchFactor(0, 1);
    HorizontalSplitter->setStretchFactor(1, 0);
    HorizontalSplitter->setSizes({332, 300});
    VerticalSplitter->addWidget(HorizontalSplitter);

    // Database area: the three lists and the battery panel.
    BottomPanel = NamedWidget("BottomPanel", VerticalSplitter);
    BottomPanel->setMinimumHeight(100);
    auto *bottomLayout = new QHBoxLayout(BottomPanel);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);
    DatabasePageControl = PageControl("DatabasePageControl", BottomPanel);
    BatteryDBGrid = ListView("BatteryDBGrid");
    ServicesDBGrid = ListView("ServicesDBGrid");
    SubServicesDBGrid = ListView("SubServicesDBGrid");
    BatteryDBGrid->setToolTip(QStringLiteral("Klick rechts!"));
    ServicesDBGrid->setToolTip(QStringLiteral("Klick rechts!"));
    SubServicesDBGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    TabSheetAkkus = PageWithList("TabSheetAkkus", BatteryDBGrid);
    TabSheetServices = PageWithList("TabSheetServices", ServicesDBGrid);
    TabSheetSubServices = PageWithList("TabSheetSubServices", SubServicesDBGrid);
    DatabasePageControl->addTab(TabSheetAkkus, QStringLiteral("Akkus"));
    DatabasePageControl->addTab(TabSheetServices, QStringLiteral("Aufzeichnungen"));
    DatabasePageControl->addTab(TabSheetSubServices, QStringLiteral("Teilschritte"));
    DatabasePageControl->setCurrentIndex(0);
    connect(DatabasePageControl, &QTabWidget::currentChanged, this, [this] {
        RunCommand([this] { CommitBatteryInfo(); });
    });
    bottomLayout->addWidget(DatabasePageControl, 1);
    LinkView(BatteryDBGrid, database_->BatteryQuery());
    LinkView(ServicesDBGrid, database_->ServiceQuery());
    LinkView(SubServicesDBGrid, database_->SubServiceQuery());

    BatteryPanel = new TBatteryPanel(*database_, BottomPanel);
    connect(BatteryPanel, &TBatteryPanel::RemarksEdited, engine_, &TTreatmentEngine::SetBatteryInfo);
    connect(BatteryPanel, &TBatteryPanel::RemarksLeft, this, [this] { RunCommand([this] { CommitBatteryInfo(); }); });
    bottomLayout->addWidget(BatteryPanel);
    // Tab walks in reading order: diagram tabs, treatment tabs, the list
    // pages' tabs, the lists, the remarks.
    QWidget *chain[] = {DiagramTab->tabBar(), AccuTab->tabBar(), DatabasePageControl->tabBar(),
                        BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid, BatteryPanel->Remarks()};
    for (size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    VerticalSplitter->addWidget(BottomPanel);
    VerticalSplitter->setStretchFactor(0, 1);
    VerticalSplitter->setStretchFactor(1, 0);
    VerticalSplitter->setSizes({250, 180});

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(20);
    StatusBar1->setSizeGripEnabled(true);
    setStatusBar(StatusBar1);
    ConfigureGrids();
}

// ---- dialogs and the engine ----------------------------------------------------

void TMainForm::BuildDialogs(std::function<bool(const std::string &)> terminalUsedElsewhere)
{
    diagramPropertyDialog_ = new TDiagramPropertyDialog(this);
    diagramCommands_ = new TDiagramCommands(DiagramTab, PopupDiagrams, database_, diagramPropertyDialog_, this);
    connect(diagramCommands_, &TDiagramCommands::ZoomBackAvailable, this, &TMainForm::ScheduleUpdateMenus);
    // Curves load beside the window; a failure is told when it happens.
    connect(diagramCommands_, &TDiagramCommands::CurveLoadFailed, this,
            [this](const QString &message) { ShowCommandFailure(message); });
    newBatteryDialog_ = new TNewBatteryDialog(this);
    // The dialog asks the engine to search the ports and leaves out
    // terminals in use, by this program or another one here.
    selectServiceDialog_ = new TSelectServiceDialog(
        [this] { return engine_->SearchTerminals(); },
        [this, used = std::move(terminalUsedElsewhere)](const std::string &terminal) {
            return engine_->HasTerminal(terminal) || (used && used(terminal));
        },
        this);
    connect(engine_, &TTreatmentEngine::TerminalsFound, selectServiceDialog_, &TSelectServiceDialog::TerminalsFound);
    connect(engine_, &TTreatmentEngine::SearchFinished, selectServiceDialog_, &TSelectServiceDialog::SearchFinished);
    // While the dialog asks the ports, the window says so (it stays responsive).
    connect(selectServiceDialog_, &TSelectServiceDialog::SearchBegun, this,
            [this] { StatusBar1->showMessage(QStringLiteral("Suche Ladegeräte...")); });
    connect(selectServiceDialog_, &TSelectServiceDialog::SearchEnded, StatusBar1, &QStatusBar::clearMessage);
    infoDialog_ = new TInfoDialog(this);
    kestrixDialog_ = new TKestrixDialog(*engine_, *database_, this);
    findAccuDialog_ = new TFindAccuDialog(this);
    optionsDialog_ = new TOptionsDialog(this);
}

void TMainForm::ConnectEngine()
{
    // Another battery or record frees or holds commands at once: a command
    // given right after the selection changed must find them decided.
    for (auto signal : {&TBRASKDataModule::SelectedBatteriesDataChange, &TBRASKDataModule::BatteryCommandsChanged,
                        &TBRASKDataModule::SelectedServicesDataChange, &TBRASKDataModule::ServiceCommandsChanged})
        connect(database_, signal, this, &TMainForm::UpdateMenus);
    connect(database_, &TBRASKDataModule::SelectedSubServicesDataChange, this, &TMainForm::ScheduleUpdateMenus);

    connect(engine_, &TTreatmentEngine::TickDone, this, &TMainForm::ScheduleUpdateMenus);
    // A started or stopped treatment frees or holds its battery and record.
    connect(engine_, &TTreatmentEngine::TreatmentsChanged, this, [this] {
        UpdateMenus();
        QuitWhenStopped();
    });
    TTreatmentNotices &notices = notifications_->Notices();
    connect(engine_, &TTreatmentEngine::TreatmentStarted, &notices, &TTreatmentNotices::Started);
    connect(engine_, &TTreatmentEngine::Polled, &notices, [&notices](const PollReport &report) { notices.Polled(report); });
    connect(engine_, &TTreatmentEngine::TreatmentStopped, &notices,
            [&notices](int, int serviceID) { notices.Stopped(serviceID); });
    connect(engine_, &TTreatmentEngine::CommandFailed, this, [this](const QString &reason) { ShowCommandFailure(reason); });
    // A treatment that was not taken up again: say what became of it.
    connect(engine_, &TTreatmentEngine::ResumeFinished, this, [this](int, bool resumed, const QString &text) {
        if (!resumed)
            QMessageBox::information(this, QStringLiteral("Behandlung"), text);
    });
    connect(engine_, &TTreatmentEngine::RecordsWritten, this, &TMainForm::FollowRecords);
    connect(engine_, &TTreatmentEngine::Polled, this, &TMainForm::ShowWriteStatus);
    // Another program took the ID the dialog proposed: say which one the battery got.
    connect(engine_, &TTreatmentEngine::BatteryAdded, this, [this](int ticket, const AddedBattery &added) {
        if (ticket == newBatteryTicket_ && added.ProposalTaken())
            QMessageBox::information(this, QStringLiteral("Neuer Akku"), MainCommands::ProposalTakenText(added));
    });

    livePages_ = new TLivePages(*AccuTab, *database_, *engine_, [this] { return DiagramWindows(); }, this);
    connect(livePages_, &TLivePages::PageAdded, this, &TMainForm::ScheduleUpdateMenus);
    connect(livePages_, &TLivePages::PageRemoved, this, [this] {
        ShowBatteryPage();
        ScheduleUpdateMenus();
    });
}
