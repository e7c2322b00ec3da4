#include "mainwindow/Mainform.h"

#include "database/MainCommands.h"
#include "mainwindow/Dialogs.h"
#include "mainwindow/GridColumns.h"
#include "mainwindow/HistoryDialog.h"
#include "mainwindow/Notifications.h"
#include "mainwindow/SettingsWriter.h"

#include "database/BatteryHistory.h"
#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "diagrams/Diagdocs.h"
#include "resources/Artwork.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "treatment/PortSettings.h"
#include "treatment/Resume.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"
#include "charger/SerialPorts.h"
#include "export/Richie.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPrinter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
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

// ---------------------------------------------------------------------------

TLogoImage::TLogoImage(QWidget *parent)
    : QLabel(parent)
{
}

void TLogoImage::mouseDoubleClickEvent(QMouseEvent *event)
{
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

TDBMemo::TDBMemo(QWidget *parent)
    : QWidget(parent)
    , editor_(new QPlainTextEdit(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(editor_);
    QPalette palette = editor_->palette();
    palette.setColor(QPalette::Text, Qt::blue);
    editor_->setPalette(palette);
    editor_->setTabChangesFocus(true);
    editor_->installEventFilter(this);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (loading_)
            return;
        modified_ = true;
        // Text pasted past the limit is cut once the edit has finished: the
        // document must not be changed from inside its own change signal.
        if (editor_->document()->characterCount() - 1 > MaxLength)
            QMetaObject::invokeMethod(this, &TDBMemo::limitLength, Qt::QueuedConnection);
    });
}

QString TDBMemo::Text() const
{
    return editor_->toPlainText();
}

void TDBMemo::SetText(const QString &text)
{
    loading_ = true;
    editor_->setPlainText(text.left(MaxLength));
    loading_ = false;
    modified_ = false;
}

void TDBMemo::limitLength()
{
    const QString text = editor_->toPlainText();
    if (text.size() <= MaxLength)
        return;
    // Typing or pasting past the limit keeps the first MaxLength characters.
    const int position = std::min(editor_->textCursor().position(), MaxLength);
    loading_ = true;
    editor_->setPlainText(text.left(MaxLength));
    QTextCursor cursor = editor_->textCursor();
    cursor.setPosition(position);
    editor_->setTextCursor(cursor);
    loading_ = false;
}

bool TDBMemo::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == editor_ && event->type() == QEvent::FocusOut)
        emit focusLeft();
    if (watched == editor_ && event->type() == QEvent::KeyPress && !editor_->isReadOnly()) {
        // Typing stops at the limit, unless it replaces a selection.
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString typed = key->text();
        const bool printable = !typed.isEmpty() && (typed.at(0).isPrint() || typed == QLatin1String("\r"));
        if (printable && !editor_->textCursor().hasSelection()
            && editor_->document()->characterCount() - 1 >= MaxLength)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------

TMainForm::TMainForm(QWidget *parent)
    : QMainWindow(parent)
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
    connect(notifications_, &TNotifications::EndCommandFailed, this,
            [this](const QString &reason) { StatusBar1->showMessage(reason, 30000); });

    BuildMenus();
    BuildPopupMenus();
    BuildAreas();
    BuildToolbar();
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

    InitMenus();
    idleWatcher_ = std::make_unique<IdleWatcher>(*this);
    TheTimer->start();
}

TMainForm::~TMainForm()
{
    idleWatcher_.reset();
    TheTimer->stop();
}

// ---- building the window --------------------------------------------------

void TMainForm::ConnectCommand(QAction *action, void (TMainForm::*handler)())
{
    connect(action, &QAction::triggered, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
}

QAction *TMainForm::Command(QMenu *menu, const char *name, const QString &text, void (TMainForm::*handler)())
{
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    if (handler)
        ConnectCommand(action, handler);
    menu->addAction(action);
    return action;
}

void TMainForm::BuildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));

    MenuFile = bar->addMenu(QStringLiteral("&Datei"));
    MenuExport = MenuFile->addMenu(QStringLiteral("&Exportieren"));
    MenuExport->setObjectName(QStringLiteral("MenuExport"));
    MenuExportDiagram = Command(MenuExport, "MenuExportDiagram", QStringLiteral("&Diagramm..."), &TMainForm::MenuExportDiagramClick);
    MenuExportTable = Command(MenuExport, "MenuExportTable", QStringLiteral("&Tabelle..."), &TMainForm::MenuExportTableClick);
    MenuExportInfo = Command(MenuExport, "MenuExportInfo", QStringLiteral("&Etikett..."), &TMainForm::MenuExportInfoClick);
    MenuExportProtocol = Command(MenuExport, "MenuExportProtocol", QStringLiteral("&Meßprotokoll..."), &TMainForm::MenuExportProtocolClick);
    MenuExportSamples = Command(MenuExport, "MenuExportSamples", QStringLiteral("Mess&werte (CSV)..."), &TMainForm::MenuExportSamplesClick);
    MenuFile->addSeparator();
    MenuPrint = MenuFile->addMenu(QStringLiteral("Drucken"));
    MenuPrint->setObjectName(QStringLiteral("MenuPrint"));
    MenuPrintDiagram = Command(MenuPrint, "MenuPrintDiagram", QStringLiteral("&Diagramm"), &TMainForm::MenuPrintDiagramClick);
    MenuPrintTable = Command(MenuPrint, "MenuPrintTable", QStringLiteral("&Tabelle"), &TMainForm::MenuPrintTableClick);
    MenuPrintInfo = Command(MenuPrint, "MenuPrintInfo", QStringLiteral("&Etikett"), &TMainForm::MenuPrintInfoClick);
    MenuPrintProtocol = Command(MenuPrint, "MenuPrintProtocol", QStringLiteral("&Meßprotokoll"), &TMainForm::MenuPrintProtocolClick);
    MenuPdf = MenuFile->addMenu(QStringLiteral("Als &PDF speichern"));
    MenuPdf->setObjectName(QStringLiteral("MenuPdf"));
    MenuPdfDiagram = Command(MenuPdf, "MenuPdfDiagram", QStringLiteral("&Diagramm..."), &TMainForm::MenuPdfDiagramClick);
    MenuPdfTable = Command(MenuPdf, "MenuPdfTable", QStringLiteral("&Tabelle..."), &TMainForm::MenuPdfTableClick);
    MenuPdfInfo = Command(MenuPdf, "MenuPdfInfo", QStringLiteral("&Etikett..."), &TMainForm::MenuPdfInfoClick);
    MenuPdfProtocol = Command(MenuPdf, "MenuPdfProtocol", QStringLiteral("&Meßprotokoll..."), &TMainForm::MenuPdfProtocolClick);
    MenuPrinterSetup = Command(MenuFile, "MenuPrinterSetup", QStringLiteral("Drucker ein&richten..."), &TMainForm::MenuPrinterSetupClick);
    MenuFile->addSeparator();
    MenuQuit = Command(MenuFile, "MenuQuit", QStringLiteral("&Beenden"), &TMainForm::MenuQuitClick);
    // The platform's standard Quit key; Ctrl+Q where the platform names none.
    const QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    MenuQuit->setShortcuts(quitKeys.isEmpty() ? QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Q)} : quitKeys);

    MenuCopy = bar->addMenu(QStringLiteral("&Kopieren"));
    MenuCopyDiagram = Command(MenuCopy, "MenuCopyDiagram", QStringLiteral("&Diagramm"), &TMainForm::MenuCopyDiagramClick);
    MenuCopyTable = Command(MenuCopy, "MenuCopyTable", QStringLiteral("&Tabelle"), &TMainForm::MenuCopyTableClick);
    MenuCopyInfo = Command(MenuCopy, "MenuCopyInfo", QStringLiteral("&Etikett"), &TMainForm::MenuCopyInfoClick);
    MenuCopyProtocol = Command(MenuCopy, "MenuCopyProtocol", QStringLiteral("&Meßprotokoll"), &TMainForm::MenuCopyProtocolClick);

    MenuView = bar->addMenu(QStringLiteral("&Ansicht"));
    MenuShowDiagrams = Command(MenuView, "MenuShowDiagrams", QStringLiteral("&Diagramme"), &TMainForm::MenuShowDiagramsClick);
    MenuShowControls = Command(MenuView, "MenuShowControls", QStringLiteral("&Steuerung"), &TMainForm::MenuShowControlsClick);
    MenuShowDB = Command(MenuView, "MenuShowDB", QStringLiteral("Date&nbank"), &TMainForm::MenuShowDBClick);
    for (QAction *view : {MenuShowDiagrams, MenuShowControls, MenuShowDB})
        view->setCheckable(true);
    MenuView->addSeparator();
    MenuNextList = Command(MenuView, "MenuNextList", QStringLiteral("&Nächste Liste"), &TMainForm::MenuNextListClick);
    MenuNextList->setShortcuts({QKeySequence(QKeySequence::NextChild), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    MenuPreviousList = Command(MenuView, "MenuPreviousList", QStringLiteral("&Vorherige Liste"),
                               &TMainForm::MenuPreviousListClick);
    MenuPreviousList->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                    QKeySequence(QKeySequence::PreviousChild), QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    MenuRefresh = Command(MenuView, "MenuRefresh", QStringLiteral("&Aktualisieren"), &TMainForm::MenuRefreshClick);
    MenuRefresh->setShortcut(QKeySequence(Qt::Key_F5));

    MenuDiagram = bar->addMenu(QStringLiteral("Diagram&m"));
    MenuNewDiagram = Command(MenuDiagram, "MenuNewDiagram", QStringLiteral("&Neu"), &TMainForm::MenuNewDiagramClick);
    MenuOpenDiagram = Command(MenuDiagram, "MenuOpenDiagram", QStringLiteral("Ö&ffnen..."), &TMainForm::MenuOpenDiagramClick);
    MenuSaveDiagram = Command(MenuDiagram, "MenuSaveDiagram", QStringLiteral("&Speichern..."), &TMainForm::MenuSaveDiagramClick);
    MenuCloseDiagram = Command(MenuDiagram, "MenuCloseDiagram", QStringLiteral("S&chließen"), &TMainForm::MenuCloseDiagramClick);
    MenuCloseAllDiagrams = Command(MenuDiagram, "MenuCloseAllDiagrams", QStringLiteral("&Alle schließen"), &TMainForm::MenuCloseAllDiagramsClick);
    MenuDiagram->addSeparator();
    MenuSetupDiagram = Command(MenuDiagram, "MenuSetupDiagram", QStringLiteral("&Einstellungen..."), &TMainForm::MenuSetupDiagramClick);
    MenuZoomBack = Command(MenuDiagram, "MenuZoomBack", QStringLiteral("&Vorherige Zoomstufe "), &TMainForm::MenuZoomBackClick);
    MenuShowAll = Command(MenuDiagram, "MenuShowAll", QStringLiteral("Alles &zeigen"), &TMainForm::MenuShowAllClick);
    MenuDiagramLegend = Command(MenuDiagram, "MenuDiagramLegend", QStringLiteral("&Legende"), &TMainForm::MenuDiagramLegendClick);
    MenuDiagramLegend->setCheckable(true);

    MenuDatabase = bar->addMenu(QStringLiteral("Date&nbank"));
    MenuGotoAkkus = Command(MenuDatabase, "MenuGotoAkkus", QStringLiteral("&Gehe zu Akkus"), &TMainForm::MenuGotoAkkusClick);
    MenuGotoAkkus->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    MenuSearch = Command(MenuDatabase, "MenuSearch", QStringLiteral("&Suchen..."), &TMainForm::MenuSearchClick);
    MenuDatabase->addSeparator();
    MenuNewAkku = Command(MenuDatabase, "MenuNewAkku", QStringLiteral("&Neuer Akku..."), &TMainForm::MenuNewAkkuClick);
    MenuDeleteAkku = Command(MenuDatabase, "MenuDeleteAkku", QStringLiteral("Akku &löschen"), &TMainForm::MenuDeleteAkkuClick);
    MenuHistory = Command(MenuDatabase, "MenuHistory", QStringLiteral("&Verlauf..."), &TMainForm::MenuHistoryClick);
    MenuDatabase->addSeparator();
    MenuDeleteService = Command(MenuDatabase, "MenuDeleteService", QStringLiteral("Aufzeichnung &löschen "), &TMainForm::MenuDeleteServiceClick);

    MenuService = bar->addMenu(QStringLiteral("&Service"));
    MenuStartService = Command(MenuService, "MenuStartService", QStringLiteral("&Starten..."), &TMainForm::MenuStartServiceClick);
    MenuStopService = Command(MenuService, "MenuStopService", QStringLiteral("&Abbrechen"), &TMainForm::MenuStopServiceClick);
    MenuService->addSeparator();
    MenuOptions = Command(MenuService, "MenuOptions", QStringLiteral("&Einstellungen..."), &TMainForm::MenuOptionsClick);
    MenuService->addSeparator();
    MenuKestrix = Command(MenuService, "MenuKestrix", QStringLiteral("&Kestrix..."), &TMainForm::MenuKestrixClick);

    MenuHelp = bar->addMenu(QStringLiteral("&?"));
    MenuInfo = Command(MenuHelp, "MenuInfo", QStringLiteral("Inf&o..."), &TMainForm::MenuInfoClick);

    for (QMenu *menu : {MenuFile, MenuExport, MenuPrint, MenuPdf, MenuCopy, MenuView, MenuDiagram, MenuDatabase, MenuService, MenuHelp})
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateMenus);
}

QAction *TMainForm::Button(int image, const char *name, const QString &tip, void (TMainForm::*handler)(), bool toggle)
{
    auto *action = new QAction(Artwork::ToolbarImage(image), tip, this);
    action->setObjectName(QLatin1String(name));
    action->setToolTip(tip);
    action->setCheckable(toggle);
    ConnectCommand(action, handler);
    ToolBar1->addAction(action);
    if (QWidget *button = ToolBar1->widgetForAction(action))
        button->setObjectName(QLatin1String(name));
    return action;
}

void TMainForm::BuildToolbar()
{
    ButtonShowDiagrams = Button(0, "ButtonShowDiagrams", QStringLiteral("Diagramme ein-/ausblenden"), &TMainForm::MenuShowDiagramsClick, true);
    ButtonShowControls = Button(1, "ButtonShowControls", QStringLiteral("Akku-Steuerung ein-/ausblenden"), &TMainForm::MenuShowControlsClick, true);
    ButtonShowDB = Button(2, "ButtonShowDB", QStringLiteral("Datenbank ein-/ausblenden"), &TMainForm::MenuShowDBClick, true);
    ToolBar1->addSeparator();
    ButtonNewDiagram = Button(3, "ButtonNewDiagram", QStringLiteral("neues Diagramm"), &TMainForm::MenuNewDiagramClick);
    ButtonOpenDiagram = Button(4, "ButtonOpenDiagram", QStringLiteral("Diagramm öffnen"), &TMainForm::MenuOpenDiagramClick);
    ButtonSaveDiagram = Button(5, "ButtonSaveDiagram", QStringLiteral("Diagramm speichern"), &TMainForm::MenuSaveDiagramClick);
    ButtonSetupDiagram = Button(6, "ButtonSetupDiagram", QStringLiteral("Diagramm-Einstellungen"), &TMainForm::MenuSetupDiagramClick);
    ButtonZoomBack = Button(8, "ButtonZoomBack", QStringLiteral("vorherige Ansicht"), &TMainForm::MenuZoomBackClick);
    ButtonPrintDiagram = Button(9, "ButtonPrintDiagram", QStringLiteral("Diagramm drucken"), &TMainForm::MenuPrintDiagramClick);
    ToolBar1->addSeparator();
    ButtonNewBattery = Button(10, "ButtonNewBattery", QStringLiteral("neuer Akku"), &TMainForm::MenuNewAkkuClick);
    ButtonSearch = Button(12, "ButtonSearch", QStringLiteral("Suchen"), &TMainForm::MenuSearchClick);
    ButtonPrintInfo = Button(13, "ButtonPrintInfo", QStringLiteral("Akkudaten drucken"), &TMainForm::MenuPrintInfoClick);
    ButtonStartService = Button(14, "ButtonStartService", QStringLiteral("Akku-Service starten"), &TMainForm::MenuStartServiceClick);
    ButtonStopService = Button(15, "ButtonStopService", QStringLiteral("Akku-Service abbrechen"), &TMainForm::MenuStopServiceClick);
}

void TMainForm::BuildPopupMenus()
{
    PopupMenuAkkus = new QMenu(this);
    PopupMenuAkkus->setObjectName(QStringLiteral("PopupMenuAkkus"));
    PopupMenuStartService = Command(PopupMenuAkkus, "PopupMenuStartService", QStringLiteral("&Service starten..."), &TMainForm::MenuStartServiceClick);
    PopupMenuHistory = Command(PopupMenuAkkus, "PopupMenuHistory", QStringLiteral("&Verlauf..."), &TMainForm::MenuHistoryClick);
    PopupMenuAkkus->addSeparator();
    PopupMenuPrintInfo = Command(PopupMenuAkkus, "PopupMenuPrintInfo", QStringLiteral("&Etikett &drucken"), &TMainForm::MenuPrintInfoClick);
    PopupMenuCopyInfo = Command(PopupMenuAkkus, "PopupMenuCopyInfo", QStringLiteral("Ettikett &kopieren"), &TMainForm::MenuCopyInfoClick);
    PopupMenuAkkus->addSeparator();
    PopupMenuDeleteAkku = Command(PopupMenuAkkus, "PopupMenuDeleteAkku", QStringLiteral("Akku &löschen"), &TMainForm::MenuDeleteAkkuClick);

    PopupMenuServices = new QMenu(this);
    PopupMenuServices->setObjectName(QStringLiteral("PopupMenuServices"));
    PopupMenuShowVoltage = Command(PopupMenuServices, "PopupMenuShowVoltage", QStringLiteral("&U - Spannungskurve"), &TMainForm::MenuShowVoltageClick);
    PopupMenuShowCurrent = Command(PopupMenuServices, "PopupMenuShowCurrent", QStringLiteral("&I - Stromkurve"), &TMainForm::MenuShowCurrentClick);
    PopupMenuExportSamples = Command(PopupMenuServices, "PopupMenuExportSamples", QStringLiteral("Messwerte als &CSV exportieren..."), &TMainForm::MenuExportSamplesClick);
    PopupMenuServices->addSeparator();
    PopupMenuDeleteService = Command(PopupMenuServices, "PopupMenuDeleteService", QStringLiteral("Aufzeichnung &löschen"), &TMainForm::MenuDeleteServiceClick);

    PopupDiagrams = new QMenu(this);
    PopupDiagrams->setObjectName(QStringLiteral("PopupDiagrams"));
    PopupMenuCloseDiagram = Command(PopupDiagrams, "PopupMenuCloseDiagram", QStringLiteral("&Schließen"), &TMainForm::PopupMenuCloseDiagramClick);
    PopupMenuPrintDiagram = Command(PopupDiagrams, "PopupMenuPrintDiagram", QStringLiteral("&Drucken"), &TMainForm::PopupMenuPrintDiagramClick);
    PopupMenuPdfDiagram = Command(PopupDiagrams, "PopupMenuPdfDiagram", QStringLiteral("Als &PDF speichern..."), &TMainForm::MenuPdfDiagramClick);
    PopupDiagrams->addSeparator();
    PopupMenuDiagramCurveProps = Command(PopupDiagrams, "PopupMenuDiagramCurveProps", QStringLiteral("&Kurven"), &TMainForm::PopupMenuDiagramCurvePropsClick);
    PopupMenuDiagramScalaProps = Command(PopupDiagrams, "PopupMenuDiagramScalaProps", QStringLiteral("S&kalieren"), &TMainForm::PopupMenuDiagramScalaPropsClick);
    PopupMenuDiagramPaintProps = Command(PopupDiagrams, "PopupMenuDiagramPaintProps", QStringLiteral("&Zeichnen"), &TMainForm::PopupMenuDiagramPaintPropsClick);
    PopupMenuShowAll = Command(PopupDiagrams, "PopupMenuShowAll", QStringLiteral("&Alles zeigen"), &TMainForm::MenuShowAllClick);
    PopupMenuDiagramLegend = Command(PopupDiagrams, "PopupMenuDiagramLegend", QStringLiteral("&Legende"), &TMainForm::MenuDiagramLegendClick);
    PopupMenuDiagramLegend->setCheckable(true);

    for (QMenu *menu : {PopupMenuAkkus, PopupMenuServices, PopupDiagrams})
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateMenus);
}

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

QTableView *ListView(const char *name, QWidget *parent)
{
    auto *view = new QTableView(parent);
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
    ToolbarPanel = new QFrame(central);
    ToolbarPanel->setObjectName(QStringLiteral("ToolbarPanel"));
    ToolbarPanel->setFixedHeight(36);
    auto *toolbarColumn = new QVBoxLayout(ToolbarPanel);
    toolbarColumn->setContentsMargins(0, 0, 0, 0);
    toolbarColumn->setSpacing(0);
    auto *topLine = new QFrame(ToolbarPanel);
    topLine->setFrameShape(QFrame::HLine);
    topLine->setFrameShadow(QFrame::Sunken);
    topLine->setFixedHeight(2);
    toolbarColumn->addWidget(topLine);
    auto *toolbarRow = new QHBoxLayout;
    toolbarRow->setContentsMargins(0, 0, 0, 0);
    ToolBar1 = new QToolBar(ToolbarPanel);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { border: none; } QToolButton { min-width: 22px; min-height: 22px; }"));
    toolbarRow->addWidget(ToolBar1, 1);
    Image1 = new TLogoImage(ToolbarPanel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(Artwork::Logo(devicePixelRatioF() > 1.0 ? devicePixelRatioF() : 2.0));
    Image1->setFixedSize(Artwork::LogoSize());
    Image1->setToolTip(QStringLiteral("Info über Braskon"));
    connect(Image1, &TLogoImage::doubleClicked, this, [this] { RunCommand([this] { MenuInfoClick(); }); });
    toolbarRow->addWidget(Image1, 0, Qt::AlignRight | Qt::AlignVCenter);
    toolbarColumn->addLayout(toolbarRow);
    centralLayout->addWidget(ToolbarPanel);

    Panel2 = NamedWidget("Panel2", central);
    auto *panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(0);
    centralLayout->addWidget(Panel2, 1);
    // The user may move the borders between the areas. Until the border of
    // the treatment pages is moved, they take SidePanelShare of the window's
    // width (so their gauges and strip chart grow with it), the diagrams the
    // rest. A hidden area gives its room back.
    VerticalSplitter = new QSplitter(Qt::Vertical, Panel2);
    VerticalSplitter->setObjectName(QStringLiteral("VerticalSplitter"));
    VerticalSplitter->setChildrenCollapsible(false);
    panel2Layout->addWidget(VerticalSplitter, 1);

    // Upper part: diagrams filling, treatment control at the right.
    auto *upper = new QSplitter(Qt::Horizontal, VerticalSplitter);
    upper->setObjectName(QStringLiteral("UpperPanel"));
    upper->setChildrenCollapsible(false);
    HorizontalSplitter = upper;
    ClientPanel = NamedWidget("ClientPanel", upper);
    ClientPanel->setMinimumSize(0, 0);
    auto *clientLayout = new QVBoxLayout(ClientPanel);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    DiagramTab = PageControl("DiagramTab", ClientPanel);
    clientLayout->addWidget(DiagramTab);
    RightPanel = NamedWidget("RightPanel", upper);
    RightPanel->setMinimumWidth(200);
    auto *rightLayout = new QVBoxLayout(RightPanel);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    AccuTab = PageControl("AccuTab", RightPanel);
    rightLayout->addWidget(AccuTab);
    upper->addWidget(ClientPanel);
    upper->addWidget(RightPanel);
    upper->setStretchFactor(0, 1);
    upper->setStretchFactor(1, 0);
    upper->setSizes({332, 300});
    VerticalSplitter->addWidget(upper);

    // Database area: the three lists and the battery panel.
    BottomPanel = NamedWidget("BottomPanel", VerticalSplitter);
    BottomPanel->setMinimumHeight(100);
    auto *bottomLayout = new QHBoxLayout(BottomPanel);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->setSpacing(0);
    DatabasePageControl = PageControl("DatabasePageControl", BottomPanel);
    BatteryDBGrid = ListView("BatteryDBGrid", nullptr);
    ServicesDBGrid = ListView("ServicesDBGrid", nullptr);
    SubServicesDBGrid = ListView("SubServicesDBGrid", nullptr);
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

    for (QTableView *list : {BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid})
        list->installEventFilter(this);
    BatteryDBGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(BatteryDBGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenuAkkus->popup(BatteryDBGrid->viewport()->mapToGlobal(pos)); });
    ServicesDBGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ServicesDBGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenuServices->popup(ServicesDBGrid->viewport()->mapToGlobal(pos)); });
    for (QTableView *list : {BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid}) {
        connect(list->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
                [this, list](int section, Qt::SortOrder order) {
                    RunCommand([this, list, section, order] { ListSortChanged(list, section, order); });
                });
    }
    // Where the focus is shows at a glance, also in lists and the remarks.
    const QString focusFrame = QStringLiteral("%1:focus { border: 2px solid palette(highlight); }");
    for (QTableView *list : {BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid})
        list->setStyleSheet(focusFrame.arg(QStringLiteral("QTableView")));

    BuildBatteryPanel();
    bottomLayout->addWidget(BatteryPanel);
    // Tab walks in reading order: diagram tabs, treatment tabs, the list
    // pages' tabs, the lists, the remarks.
    QWidget *chain[] = {DiagramTab->tabBar(), AccuTab->tabBar(), DatabasePageControl->tabBar(),
                        BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid, DBMemoInfo->Editor()};
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
}

void TMainForm::BuildBatteryPanel()
{
    BatteryPanel = new QFrame(BottomPanel);
    BatteryPanel->setObjectName(QStringLiteral("BatteryPanel"));
    BatteryPanel->setFixedWidth(300);
    BatteryPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *layout = new QVBoxLayout(BatteryPanel);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);

    DBTextBezeichnung = new QLabel(BatteryPanel);
    DBTextBezeichnung->setObjectName(QStringLiteral("DBTextBezeichnung"));
    QFont bold = DBTextBezeichnung->font();
    bold.setBold(true);
    bold.setPointSize(10);
    DBTextBezeichnung->setFont(bold);
    layout->addWidget(DBTextBezeichnung);

    // Everything below the description; without a battery the panel stays
    // empty instead of showing units and captions without values.
    BatteryDetails = new QWidget(BatteryPanel);
    BatteryDetails->setObjectName(QStringLiteral("BatteryDetails"));
    auto *details = new QVBoxLayout(BatteryDetails);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(2);
    layout->addWidget(BatteryDetails, 1);
    layout->addStretch();

    auto text = [this](const char *name, const QString &initial = QString()) {
        auto *label = new QLabel(initial, BatteryDetails);
        if (name)
            label->setObjectName(QLatin1String(name));
        label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        return label;
    };
    auto *dataRow = new QHBoxLayout;
    dataRow->setSpacing(0);
    DBTextType = text("DBTextType");
    DBTextCapacity = text("DBTextCapacity");
    DBTextCells = text("DBTextCells");
    DBTextForm = text("DBTextForm");
    DBTextVoltage = text("DBTextVoltage");
    dataRow->addWidget(DBTextType);
    dataRow->addWidget(text(nullptr, QStringLiteral("-Akku    ")));
    dataRow->addWidget(DBTextCapacity);
    dataRow->addWidget(text(nullptr, QStringLiteral("mAh    ")));
    dataRow->addWidget(DBTextCells);
    dataRow->addWidget(text(nullptr, QStringLiteral(" ")));
    dataRow->addWidget(DBTextForm);
    dataRow->addWidget(text(nullptr, QStringLiteral(" Zelle(n)    ")));
    dataRow->addWidget(DBTextVoltage);
    dataRow->addWidget(text(nullptr, QStringLiteral("V   ")));
    dataRow->addStretch();
    details->addLayout(dataRow);

    MaxChargeLine = new QWidget(BatteryDetails);
    MaxChargeLine->setObjectName(QStringLiteral("MaxChargeLine"));
    auto *maxRow = new QHBoxLayout(MaxChargeLine);
    maxRow->setContentsMargins(0, 0, 0, 0);
    maxRow->setSpacing(0);
    DBTextMaxCharge = text("DBTextMaxCharge");
    DBTextSelfDischarge = text("DBTextSelfDischarge");
    maxRow->addWidget(new QLabel(QStringLiteral("Maximalladung "), MaxChargeLine));
    maxRow->addWidget(DBTextMaxCharge);
    maxRow->addWidget(new QLabel(QStringLiteral("    Selbstentladung "), MaxChargeLine));
    maxRow->addWidget(DBTextSelfDischarge);
    maxRow->addStretch();
    MaxChargeLine->hide();
    details->addWidget(MaxChargeLine);

    auto *line = new QFrame(BatteryDetails);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    details->addWidget(line);
    details->addWidget(new QLabel(QStringLiteral("Anmerkungen"), BatteryDetails));
    DBMemoInfo = new TDBMemo(BatteryDetails);
    DBMemoInfo->setObjectName(QStringLiteral("DBMemoInfo"));
    DBMemoInfo->Editor()->setObjectName(QStringLiteral("DBMemoInfoEditor"));
    DBMemoInfo->Editor()->setReadOnly(true);
    DBMemoInfo->Editor()->setStyleSheet(QStringLiteral("QPlainTextEdit:focus { border: 2px solid palette(highlight); }"));
    connect(DBMemoInfo, &TDBMemo::focusLeft, this, [this] { RunCommand([this] { CommitBatteryInfo(); }); });
    details->addWidget(DBMemoInfo, 1);
}

// ---- wiring to the other objects -------------------------------------------

void TMainForm::SetDataModule(TBRASKDataModule *database)
{
    database_ = database;
    if (!database_)
        return;
    LinkView(BatteryDBGrid, database_->BatteryQuery());
    LinkView(ServicesDBGrid, database_->ServiceQuery());
    LinkView(SubServicesDBGrid, database_->SubServiceQuery());

    QueryModel *batteries = database_->BatteryQuery();
    connect(batteries, &QueryModel::currentRowChanged, this, &TMainForm::ShowBatteryPanel);
    connect(batteries, &QAbstractItemModel::modelReset, this, &TMainForm::ShowBatteryPanel);
    connect(batteries, &QAbstractItemModel::dataChanged, this, &TMainForm::ShowBatteryPanel);

    connect(database_, &TBRASKDataModule::SelectedBatteriesDataChange, this, &TMainForm::BatterySelectionChanged);
    connect(database_, &TBRASKDataModule::BatteryCommandsChanged, this, &TMainForm::BatterySelectionChanged);
    connect(database_, &TBRASKDataModule::SelectedServicesDataChange, this, &TMainForm::ServiceSelectionChanged);
    connect(database_, &TBRASKDataModule::ServiceCommandsChanged, this, &TMainForm::ServiceSelectionChanged);
    connect(database_, &TBRASKDataModule::SelectedSubServicesDataChange, this, &TMainForm::ScheduleUpdateMenus);

    livePages_ = new TLivePages(*AccuTab, *database_, [this] { return DiagramWindows(); }, this);
    connect(livePages_, &TLivePages::PageAdded, this, &TMainForm::ScheduleUpdateMenus);
    connect(livePages_, &TLivePages::PageRemoved, this, [this] {
        ShowBatteryPage();
        ScheduleUpdateMenus();
    });

    ConfigureGrids();
    ShowBatteryPanel();
    BatterySelectionChanged();
    ServiceSelectionChanged();
    ScheduleUpdateMenus();
}

void TMainForm::SetSelectServiceDialog(TSelectServiceDialog *dialog)
{
    selectServiceDialog_ = dialog;
    // While the dialog asks the ports, the window says so (it stays responsive).
    connect(dialog, &TSelectServiceDialog::SearchBegun, this,
            [this] { StatusBar1->showMessage(QStringLiteral("Suche Ladegeräte...")); });
    connect(dialog, &TSelectServiceDialog::SearchEnded, StatusBar1, &QStatusBar::clearMessage);
}

void TMainForm::SetTreatmentEngine(TTreatmentEngine *engine)
{
    for (const QMetaObject::Connection &connection : engineConnections_)
        disconnect(connection);
    engineConnections_.clear();
    engine_ = engine;
    if (engine_) {
        auto &c = engineConnections_;
        c.push_back(connect(engine_, &TTreatmentEngine::TickDone, this, [this] { ScheduleUpdateMenus(); }));
        // A started or stopped treatment frees or holds its battery and record.
        c.push_back(connect(engine_, &TTreatmentEngine::TreatmentsChanged, this, [this] {
            BatterySelectionChanged();
            ServiceSelectionChanged();
            ScheduleUpdateMenus();
            QuitWhenStopped();
        }));
        TTreatmentNotices &notices = notifications_->Notices();
        c.push_back(connect(engine_, &TTreatmentEngine::TreatmentStarted, &notices, &TTreatmentNotices::Started));
        c.push_back(connect(engine_, &TTreatmentEngine::Polled, &notices,
                            [&notices](const PollReport &report) { notices.Polled(report); }));
        c.push_back(connect(engine_, &TTreatmentEngine::TreatmentStopped, &notices,
                            [&notices](int, int serviceID) { notices.Stopped(serviceID); }));
        c.push_back(connect(engine_, &TTreatmentEngine::CommandFailed, this,
                            [this](const QString &reason) { ShowCommandFailure(reason); }));
        // A treatment that was not taken up again: say what became of it.
        c.push_back(connect(engine_, &TTreatmentEngine::ResumeFinished, this,
                            [this](int, bool resumed, const QString &text) {
                                if (!resumed)
                                    QMessageBox::information(this, QStringLiteral("Behandlung"), text);
                            }));
        c.push_back(connect(engine_, &TTreatmentEngine::RecordsWritten, this, &TMainForm::FollowRecords));
        c.push_back(connect(engine_, &TTreatmentEngine::Polled, this, &TMainForm::ShowWriteStatus));
        // Another program took the ID the dialog proposed: say which one the battery got.
        c.push_back(connect(engine_, &TTreatmentEngine::BatteryAdded, this,
                            [this](int ticket, const AddedBattery &added) {
                                if (ticket == newBatteryTicket_ && added.ProposalTaken())
                                    QMessageBox::information(this, QStringLiteral("Neuer Akku"),
                                                             MainCommands::ProposalTakenText(added));
                            }));
        if (livePages_) {
            c.push_back(connect(engine_, &TTreatmentEngine::TreatmentStarted, livePages_, &TLivePages::Start));
            c.push_back(connect(engine_, &TTreatmentEngine::Polled, livePages_, &TLivePages::Feed));
            c.push_back(connect(engine_, &TTreatmentEngine::TreatmentStopped, livePages_,
                                [this](int ticket) { livePages_->Remove(ticket); }));
        }
    }
    BatterySelectionChanged();
    ServiceSelectionChanged();
    ScheduleUpdateMenus();
}

void TMainForm::FollowRecords(const RecordChange &change)
{
    if (!database_)
        return;
    try {
        database_->Follow(change);
    } catch (const DatabaseError &error) {
        // The lists stay as they were; the next change reads them again.
        StatusBar1->showMessage(QStringLiteral("Die Listen konnten nicht neu gelesen werden: ") + error.message(),
                                10000);
    }
}

void TMainForm::ShowWriteStatus(const PollReport &report)
{
    if (!report.WriteShown)
        return;
    const QString text = WriteStatusText(report.Write);
    if (!text.isEmpty()) {
        writeStatus_ = text;
        StatusBar1->showMessage(QStringLiteral("Behandlung %1: %2").arg(report.ServiceID).arg(text));
    } else if (!writeStatus_.isEmpty()) {
        writeStatus_.clear();
        StatusBar1->showMessage(QStringLiteral("Behandlung %1: gespeichert (%2 nachgetragen)")
                                    .arg(report.ServiceID)
                                    .arg(RecordsText(report.Write.RecoveredSamples, report.Write.RecoveredSteps)),
                                10000);
    }
}

void TMainForm::LinkView(QTableView *view, QueryModel *model)
{
    view->setModel(model);
    // The view's current row moves the query's current row ...
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, view, model](const QModelIndex &current) {
                if (syncingSelection_ || !current.isValid() || current.row() == model->currentRow())
                    return;
                RunCommand([this, model, view, row = current.row()] {
                    if (view == BatteryDBGrid)
                        CommitBatteryInfo();
                    model->setCurrentRow(row);
                });
            });
    // ... and the query's current row moves the view.
    connect(model, &QueryModel::currentRowChanged, this, [this, view, model] { FollowModelRow(view, model); });
    connect(model, &QAbstractItemModel::modelReset, this, [this, view, model] {
        ConfigureGrids();
        FollowModelRow(view, model);
    });
}

void TMainForm::FollowModelRow(QTableView *view, QueryModel *model)
{
    const int row = model->currentRow();
    const QModelIndex current = view->currentIndex();
    if (row < 0 || row >= model->rowCount() || (current.isValid() && current.row() == row))
        return;
    syncingSelection_ = true;
    int column = current.isValid() ? current.column() : view->horizontalHeader()->logicalIndexAt(0);
    if (column < 0 || view->isColumnHidden(column))
        column = view->horizontalHeader()->logicalIndex(0);
    view->selectionModel()->setCurrentIndex(model->index(row, std::max(column, 0)),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(model->index(row, std::max(column, 0)));
    syncingSelection_ = false;
}

void TMainForm::ConfigureGrids()
{
    if (!database_)
        return;
    using GridColumns::Column;
    GridColumns::Apply(BatteryDBGrid, database_->BatteryQuery(),
                       {Column{"F_ID", 45}, Column{"F_Capacity", 75}, Column{"F_TypeString", 63},
                        Column{"F_Brand", 100}, Column{"F_Health", 60, Qt::AlignRight | Qt::AlignVCenter}});
    GridColumns::Apply(ServicesDBGrid, database_->ServiceQuery(),
                       {Column{"F_Date", 80}, Column{"F_Time", 70}, Column{"F_ProgramString", 161}});
    GridColumns::Apply(SubServicesDBGrid, database_->SubServiceQuery(),
                       {Column{"F_FunctionString", 60}, Column{"F_Parameter", 50}, Column{"F_Capacity", 50},
                        Column{"F_DurationString", 60, Qt::AlignRight | Qt::AlignVCenter},
                        Column{"F_StateString", 60, Qt::AlignCenter}});
    ShowSortIndicators();
}

void TMainForm::ShowBatteryPanel()
{
    QueryModel *batteries = database_ ? database_->BatteryQuery() : nullptr;
    const int row = batteries ? batteries->currentRow() : -1;
    const bool hasBattery = batteries && row >= 0 && row < batteries->rowCount();
    auto field = [&](const char *name) {
        return hasBattery ? GridColumns::DisplayText(*batteries, row, QLatin1String(name)) : QString();
    };
    DBTextBezeichnung->setText(field("F_Brand"));
    DBTextType->setText(field("F_TypeString"));
    DBTextCapacity->setText(field("F_Capacity"));
    DBTextCells->setText(field("F_Cells"));
    DBTextForm->setText(field("F_FormString"));
    DBTextVoltage->setText(field("F_Voltage"));
    DBTextMaxCharge->setText(field("F_MaxChargeString"));
    DBTextSelfDischarge->setText(field("F_SelfDischargeString"));

    const int id = hasBattery ? batteries->value(row, QStringLiteral("F_ID")).toInt() : 0;
    // An edit of another battery's remarks is written before they are replaced.
    if (DBMemoInfo->Modified() && (!hasBattery || id != memoBatteryID_))
        RunCommand([this] { CommitBatteryInfo(); });
    if (DBMemoInfo->Modified() && hasBattery && id == memoBatteryID_)
        return;   // the user is still editing this battery's remarks
    memoHasBattery_ = hasBattery;
    memoBatteryID_ = id;
    DBMemoInfo->SetText(hasBattery ? batteries->value(row, QStringLiteral("F_Info")).toString() : QString());
    DBMemoInfo->Editor()->setReadOnly(!hasBattery || !Writable());
    BatteryDetails->setVisible(hasBattery);
}

bool TMainForm::Writable() const
{
    return database_ && !database_->IsReadOnly();
}

void TMainForm::CommitBatteryInfo()
{
    if (!DBMemoInfo->Modified())
        return;
    // Cleared first: a failing write must not be retried by every later command.
    DBMemoInfo->SetModified(false);
    if (!database_ || !engine_ || !memoHasBattery_)
        return;
    const QString text = DBMemoInfo->Text().left(TDBMemo::MaxLength);
    // The memo may show another battery as soon as the list changes.
    const int batteryID = memoBatteryID_;
    QueryModel *batteries = database_->BatteryQuery();
    for (int row = 0; row < batteries->rowCount(); ++row) {
        if (batteries->value(row, QStringLiteral("F_ID")).toInt() != batteryID)
            continue;
        // The engine writes the edit, and the list reads the stored row again
        // afterwards; until then the list shows it as typed.
        engine_->SetBatteryInfo(batteryID, text);
        batteries->SetCell(row, QStringLiteral("F_Info"), text);
        return;
    }
}

// ---- the catch-all ------------------------------------------------------------

bool TMainForm::RunCommand(const std::function<void()> &command)
{
    if (commandRunning_)
        return false;
    bool succeeded = true;
    commandRunning_ = true;
    try {
        command();
    } catch (const DiagramError &e) {
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const ExportError &e) {
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const DatabaseError &e) {
        // Also a deletion refused because the record is being recorded.
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const MainCommands::InputError &e) {
        // What was typed and why it cannot be taken.
        succeeded = false;
        ShowCommandFailure(QString::fromUtf8(e.what()));
    } catch (...) {
        succeeded = false;
        ShowCommandFailure(QString());
    }
    commandRunning_ = false;
    ScheduleUpdateMenus();
    return succeeded;
}

void TMainForm::ShowCommandFailure(const QString &reason)
{
    // Failures with a reason the user can act on ("Zeile 2: ...", a refused
    // start, a read-only database) show it below the message.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Fehler"), QStringLiteral("Ausführung fehlgeschlagen!"),
                    QMessageBox::Ok, this);
    if (!reason.isEmpty())
        box.setInformativeText(reason);
    box.exec();
}

void TMainForm::ScheduleUpdateMenus()
{
    if (!idleTimer_.isActive())
        idleTimer_.start();
}

// ---- command enabling ------------------------------------------------------------

bool TMainForm::HoldsBattery(int batteryID) const
{
    return engine_ && engine_->HasBattery(batteryID);
}

bool TMainForm::HoldsService(int serviceID) const
{
    return engine_ && engine_->HasService(serviceID);
}

void TMainForm::InitMenus()
{
    for (QAction *action :
         {MenuExportDiagram, MenuExportTable, MenuExportInfo, MenuExportProtocol, MenuExportSamples, MenuPrintDiagram, MenuPrintTable,
          MenuPrintInfo, MenuPrintProtocol, MenuCopyDiagram, MenuCopyTable, MenuCopyInfo, MenuCopyProtocol,
          MenuSaveDiagram, MenuCloseDiagram, MenuCloseAllDiagrams, MenuSetupDiagram, MenuZoomBack, MenuDeleteAkku,
          MenuDeleteService, MenuHistory, MenuStartService, MenuStopService, ButtonSaveDiagram, ButtonSetupDiagram, ButtonZoomBack,
          ButtonPrintDiagram, ButtonStartService, ButtonStopService, PopupMenuCloseDiagram, PopupMenuPrintDiagram,
          PopupMenuDiagramCurveProps, PopupMenuDiagramScalaProps, PopupMenuDiagramPaintProps, MenuDiagramLegend,
          PopupMenuDiagramLegend, MenuPdfDiagram, MenuPdfTable, MenuPdfInfo, MenuPdfProtocol, PopupMenuPdfDiagram,
          MenuShowAll, PopupMenuShowAll})
        action->setEnabled(false);
    showDiagrams_ = showControls_ = showDB_ = true;
    for (QAction *view : {MenuShowDiagrams, MenuShowControls, MenuShowDB, ButtonShowDiagrams, ButtonShowControls, ButtonShowDB})
        view->setChecked(true);
}

void TMainForm::BatterySelectionChanged()
{
    QueryModel *batteries = database_ ? database_->BatteryQuery() : nullptr;
    if (!batteries || batteries->rowCount() == 0) {
        for (QAction *action : {MenuPrintInfo, MenuCopyInfo, MenuSearch, MenuStartService, MenuDeleteAkku, MenuHistory})
            action->setEnabled(false);
    } else {
        MenuHistory->setEnabled(true);
        MenuPrintInfo->setEnabled(true);
        MenuCopyInfo->setEnabled(true);
        MenuSearch->setEnabled(true);
        MenuDeleteAkku->setEnabled(Writable() && !HoldsBattery(database_->SelectedBatteryID()));
        MenuStartService->setEnabled(MenuDeleteAkku->isEnabled());
    }
    ButtonSearch->setEnabled(MenuSearch->isEnabled());
    ButtonPrintInfo->setEnabled(MenuPrintInfo->isEnabled());
    ButtonStartService->setEnabled(MenuStartService->isEnabled());
    PopupMenuStartService->setEnabled(MenuStartService->isEnabled());
    PopupMenuPrintInfo->setEnabled(MenuPrintInfo->isEnabled());
    PopupMenuHistory->setEnabled(MenuHistory->isEnabled());
    PopupMenuCopyInfo->setEnabled(MenuCopyInfo->isEnabled());
    PopupMenuDeleteAkku->setEnabled(MenuDeleteAkku->isEnabled());
    ScheduleUpdateMenus();
}

void TMainForm::ServiceSelectionChanged()
{
    QueryModel *treatments = database_ ? database_->ServiceQuery() : nullptr;
    if (!treatments || treatments->rowCount() == 0) {
        MenuDeleteService->setEnabled(false);
        PopupMenuShowVoltage->setEnabled(false);
        PopupMenuShowCurrent->setEnabled(false);
        PopupMenuExportSamples->setEnabled(false);
    } else {
        MenuDeleteService->setEnabled(Writable() && !HoldsService(database_->SelectedServiceID()));
        PopupMenuShowVoltage->setEnabled(true);
        PopupMenuShowCurrent->setEnabled(true);
        PopupMenuExportSamples->setEnabled(true);
    }
    PopupMenuDeleteService->setEnabled(MenuDeleteService->isEnabled());
    ScheduleUpdateMenus();
}

void TMainForm::UpdateMenus()
{
    const bool hasBatteries = database_ && database_->BatteryQuery()->rowCount() > 0;
    const bool hasServices = database_ && database_->ServiceQuery()->rowCount() > 0;
    const bool hasSteps = database_ && database_->SubServiceQuery()->rowCount() > 0;

    MenuCopyTable->setEnabled(false);
    MenuCopyInfo->setEnabled(false);
    MenuCopyProtocol->setEnabled(false);
    if (MenuShowDB->isChecked()) {
        QWidget *page = DatabasePageControl->currentWidget();
        if (page == TabSheetAkkus) {
            MenuCopyTable->setEnabled(hasBatteries);
        } else if (page == TabSheetServices) {
            MenuCopyTable->setEnabled(hasServices);
            MenuCopyProtocol->setEnabled(hasServices);
        } else if (page == TabSheetSubServices) {
            MenuCopyTable->setEnabled(hasSteps);
        }
        MenuCopyInfo->setEnabled(hasBatteries);
    }
    MenuExportTable->setEnabled(MenuCopyTable->isEnabled());
    MenuPrintTable->setEnabled(MenuCopyTable->isEnabled());
    MenuExportInfo->setEnabled(MenuCopyInfo->isEnabled());
    MenuPrintInfo->setEnabled(MenuCopyInfo->isEnabled());
    MenuExportProtocol->setEnabled(MenuCopyProtocol->isEnabled());
    MenuExportSamples->setEnabled(MenuCopyProtocol->isEnabled());
    MenuPrintProtocol->setEnabled(MenuCopyProtocol->isEnabled());
    MenuPdfTable->setEnabled(MenuCopyTable->isEnabled());
    MenuPdfInfo->setEnabled(MenuCopyInfo->isEnabled());
    MenuPdfProtocol->setEnabled(MenuCopyProtocol->isEnabled());

    const bool diagramsOn = DiagramTab->count() > 0 && MenuShowDiagrams->isChecked();
    for (QAction *action :
         {MenuExportDiagram, MenuPrintDiagram, ButtonPrintDiagram, MenuCopyDiagram, MenuCloseDiagram, MenuSaveDiagram,
          ButtonSaveDiagram, MenuCloseAllDiagrams, MenuSetupDiagram, ButtonSetupDiagram, PopupMenuCloseDiagram,
          PopupMenuPrintDiagram, PopupMenuDiagramCurveProps, PopupMenuDiagramScalaProps, PopupMenuDiagramPaintProps,
          MenuPdfDiagram, PopupMenuPdfDiagram, MenuShowAll, PopupMenuShowAll})
        action->setEnabled(diagramsOn);
    MenuZoomBack->setEnabled(diagramsOn && ActiveDiagramCanZoomBack());
    // The check mark shows the active diagram's legend, whichever switched it.
    const bool legend = diagramsOn && diagramCommands_ && diagramCommands_->ActiveLegendVisible();
    for (QAction *action : {MenuDiagramLegend, PopupMenuDiagramLegend}) {
        action->setEnabled(diagramsOn && diagramCommands_);
        action->setChecked(legend);
    }
    ButtonZoomBack->setEnabled(MenuZoomBack->isEnabled());
    // A page row without pages takes no focus: there would be nothing to see.
    for (QTabWidget *pages : {DiagramTab, AccuTab})
        pages->tabBar()->setFocusPolicy(pages->count() > 0 ? Qt::TabFocus : Qt::NoFocus);

    // The lists, not the whole tables, decide: a battery without records must
    // not offer to delete a record it does not have.
    // A database that may only be read (the file's rights, or a server role
    // that may not write) offers nothing that would change it.
    const bool writable = Writable();
    MenuDeleteAkku->setEnabled(writable && hasBatteries && !HoldsBattery(database_->SelectedBatteryID()));
    PopupMenuDeleteAkku->setEnabled(MenuDeleteAkku->isEnabled());
    MenuDeleteService->setEnabled(writable && hasServices && !HoldsService(database_->SelectedServiceID()));
    PopupMenuDeleteService->setEnabled(MenuDeleteService->isEnabled());
    for (QAction *action : {MenuNewAkku, ButtonNewBattery, MenuKestrix})
        action->setEnabled(writable);

    // A page whose stop is under way cannot be stopped again.
    const TAccuControlForm *activePage = ActiveAccuForm(*AccuTab);
    MenuStopService->setEnabled(activePage && livePages_
                                && !(engine_ && engine_->IsStopping(livePages_->ActiveTicket())));
    ButtonStopService->setEnabled(MenuStopService->isEnabled());
}

// ---- layout ---------------------------------------------------------------------

void TMainForm::UpdateLayout()
{
    const QSize outer = frameGeometry().size();
    const bool wide = outer.width() >= MinWidthForSidePanels;
    const bool high = outer.height() >= MinHeightForDatabase;
    ClientPanel->setVisible(MenuShowDiagrams->isChecked());
    RightPanel->setVisible(wide && MenuShowControls->isChecked());
    BatteryPanel->setVisible(wide);
    BottomPanel->setVisible(high && MenuShowDB->isChecked());
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!sidePanelPlaced_) {
        const int side = std::max(RightPanel->minimumWidth() + 100, int(width() * SidePanelShare));
        HorizontalSplitter->setSizes({std::max(0, HorizontalSplitter->width() - side), side});
    }
    UpdateLayout();
    ScheduleWindowStateSave();
}

void TMainForm::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    ScheduleWindowStateSave();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    UpdateLayout();
    if (!shownOnce_) {
        shownOnce_ = true;
        RunCommand([this] { MenuGotoAkkusClick(); });
        // Asked once the window is on the screen, not from inside its showing.
        QTimer::singleShot(0, this, [this] { RunCommand([this] { OfferResumes(); }); });
    }
}

void TMainForm::OfferResumes()
{
    // A database that may only be read can neither follow a treatment nor
    // mark one as aborted; the start-up notice has said why.
    if (!database_ || !engine_ || database_->IsReadOnly())
        return;
    for (const TBRASKDataModule::RunningTreatment &row : Resume::Interrupted(database_->Reader())) {
        TBRASKDataModule::Service record;
        record.ID = row.ServiceID;
        if (!database_->LoadService(record)) {
            engine_->Abandon(row.ServiceID);
            continue;
        }
        // Three ways on, none of which leaves the charger running unwatched
        // without the user's word: follow it, stop it, or ask again next time
        // (Escape and the close box).
        QMessageBox box(QMessageBox::Question, QStringLiteral("Behandlung unterbrochen"),
                        Resume::Question(row, record.BatteryID), QMessageBox::NoButton, this);
        box.addButton(QMessageBox::Yes)->setText(Resume::ContinueText());
        box.addButton(QMessageBox::No)->setText(Resume::StopText());
        box.addButton(QMessageBox::Cancel)->setText(Resume::LaterText());
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        if (answer == QMessageBox::Yes)
            engine_->Resume(row.ServiceID, record.BatteryID, row.Terminal.toStdString());
        else if (answer == QMessageBox::No)
            engine_->StopInterrupted(row.ServiceID, row.Terminal.toStdString());
    }
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Often reached from inside the quit command, so not as a command of its own.
    bool closing = true;
    try {
        closing = ConfirmQuit();
    } catch (...) {
        closing = true;   // a question that cannot be asked must not keep the window open
    }
    if (!closing) {
        event->ignore();
        return;
    }
    // Treatments left running are taken up at the next start.
    RunCommand([this] { CommitBatteryInfo(); });
    TheTimer->stop();
    windowStateTimer_.stop();
    SaveWindowState();
    QMainWindow::closeEvent(event);
}

void TMainForm::ToggleView(QAction *menuItem, QAction *button, bool &shown)
{
    // Both controls toggle their own check mark when triggered; the stored
    // state decides, so menu item and button always agree.
    shown = !shown;
    menuItem->setChecked(shown);
    button->setChecked(shown);
    UpdateLayout();
}

// ---- list keys and title clicks ---------------------------------------------------

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            if (ListKeyPressed(watched, key->key()))
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::ListKeyPressed(QObject *list, int key)
{
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (list == BatteryDBGrid) {
        if (enter) {
            PopupAtListPosition(PopupMenuAkkus);
            return true;
        }
        if (key == Qt::Key_Insert) {
            RunCommand([this] { MenuNewAkkuClick(); });
            return true;
        }
        if (key == Qt::Key_Delete) {
            UpdateMenus();
            if (MenuDeleteAkku->isEnabled())
                RunCommand([this] { MenuDeleteAkkuClick(); });
            return true;
        }
    } else if (list == ServicesDBGrid) {
        if (key == Qt::Key_Backspace) {
            RunCommand([this] { MenuGotoAkkusClick(); });
            return true;
        }
        if (enter) {
            PopupAtListPosition(PopupMenuServices);
            return true;
        }
        if (key == Qt::Key_Delete) {
            UpdateMenus();
            if (MenuDeleteService->isEnabled())
                RunCommand([this] { MenuDeleteServiceClick(); });
            return true;
        }
    } else if (list == SubServicesDBGrid) {
        if (key == Qt::Key_Backspace) {
            RunCommand([this] { PopupMenuGotoServicesClick(); });
            return true;
        }
    }
    return false;
}

void TMainForm::PopupAtListPosition(QMenu *menu)
{
    const QRect outer = frameGeometry();
    menu->popup(QPoint(outer.left() + 15, outer.top() + outer.height() - DatabasePageControl->height() + 2));
}

namespace {

TBRASKDataModule::List ListOf(const TMainForm &form, const QTableView *view)
{
    if (view == form.ServicesDBGrid)
        return TBRASKDataModule::List::Services;
    if (view == form.SubServicesDBGrid)
        return TBRASKDataModule::List::Steps;
    return TBRASKDataModule::List::Batteries;
}

const QString sortKeys[] = {QStringLiteral("lists/batteryOrder"), QStringLiteral("lists/serviceOrder"),
                            QStringLiteral("lists/stepOrder")};

// The shown column of a list that orders by a stored one ("F_Type" -> "F_TypeString").
QString ShownColumn(const QueryModel &model, const QString &stored)
{
    const QString text = stored + QStringLiteral("String");
    return model.columnIndex(text) >= 0 ? text : stored;
}

} // namespace

void TMainForm::ListSortChanged(QTableView *view, int section, Qt::SortOrder order)
{
    if (!database_)
        return;
    auto *model = static_cast<QueryModel *>(view->model());
    const TBRASKDataModule::List list = ListOf(*this, view);
    CommitBatteryInfo();
    try {
        database_->SortList(list, model->columnName(section), order);
    } catch (...) {
        ShowSortIndicators();   // the indicator shows the order the list has
        throw;
    }
    if (settingsWriter_) {
        const QString value = database_->SortColumn(list)
                              + (order == Qt::DescendingOrder ? QStringLiteral(" desc") : QStringLiteral(" asc"));
        settingsWriter_->Write([key = sortKeys[int(list)], value](QSettings &settings) { settings.setValue(key, value); });
    }
}

void TMainForm::ShowSortIndicators()
{
    if (!database_)
        return;
    for (QTableView *view : {BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid}) {
        const auto *model = static_cast<const QueryModel *>(view->model());
        const TBRASKDataModule::List list = ListOf(*this, view);
        const int section = model ? model->columnIndex(ShownColumn(*model, database_->SortColumn(list))) : -1;
        QHeaderView *header = view->horizontalHeader();
        const QSignalBlocker quiet(header);
        // The key order of a list without a visible key column shows no arrow.
        header->setSortIndicator(section >= 0 && !view->isColumnHidden(section) ? section : -1,
                                 database_->SortOrder(list));
    }
}

// ---- view and navigation commands ---------------------------------------------------

void TMainForm::MenuQuitClick()
{
    close();
}

void TMainForm::QuitWithoutQuestion()
{
    quitAnswered_ = true;
    close();
}

bool TMainForm::ConfirmQuit()
{
    if (quitAnswered_ || !engine_)
        return true;
    if (stoppingForQuit_)
        return false;   // the window closes once the stops are done
    std::vector<TreatmentInfo> running;
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.ServiceID != 0 && treatment.State != Service::Ended && !treatment.Stopping)
            running.push_back(treatment);
    }
    if (running.empty())
        return true;
    QStringList lines;
    for (const TreatmentInfo &treatment : running)
        lines << QStringLiteral("Akku %1 an %2").arg(treatment.BatteryID).arg(QString::fromStdString(treatment.Terminal));
    QMessageBox box(QMessageBox::Question, QStringLiteral("Beenden"),
                    running.size() == 1 ? QStringLiteral("Eine Behandlung läuft noch:\n") + lines.join(QLatin1Char('\n'))
                                        : QStringLiteral("%1 Behandlungen laufen noch:\n").arg(running.size())
                                              + lines.join(QLatin1Char('\n')),
                    QMessageBox::Yes | QMessageBox::Abort | QMessageBox::Cancel, this);
    box.setInformativeText(QStringLiteral("Ohne Anhalten arbeiten die Ladegeräte weiter; Braskon nimmt die "
                                          "Behandlungen beim nächsten Start wieder auf."));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Beenden, Ladegeräte laufen weiter"));
    box.button(QMessageBox::Abort)->setText(QStringLiteral("&Alle anhalten und beenden"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Abbre&chen"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::Yes) {
        quitAnswered_ = true;
        return true;
    }
    if (answer == QMessageBox::Abort) {
        stoppingForQuit_ = true;
        StatusBar1->showMessage(QStringLiteral("Die Behandlungen werden angehalten..."));
        for (const TreatmentInfo &treatment : running)
            engine_->Stop(treatment.Ticket);
        QuitWhenStopped();
    }
    return false;
}

void TMainForm::QuitWhenStopped()
{
    if (!stoppingForQuit_ || !engine_ || engine_->Busy())
        return;
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.ServiceID != 0 && treatment.State != Service::Ended)
            return;
    }
    stoppingForQuit_ = false;
    quitAnswered_ = true;
    // Not from inside the engine's signal.
    QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::MenuRefreshClick()
{
    if (!database_)
        throw std::logic_error("refresh: not ready");
    CommitBatteryInfo();
    database_->RefreshLists();
    StatusBar1->showMessage(QStringLiteral("Listen neu gelesen"), 3000);
}

void TMainForm::MenuNextListClick()
{
    const int count = DatabasePageControl->count();
    DatabasePageControl->setCurrentIndex((DatabasePageControl->currentIndex() + 1) % count);
    DatabasePageControl->currentWidget()->findChild<QTableView *>()->setFocus(Qt::TabFocusReason);
}

void TMainForm::MenuPreviousListClick()
{
    const int count = DatabasePageControl->count();
    DatabasePageControl->setCurrentIndex((DatabasePageControl->currentIndex() + count - 1) % count);
    DatabasePageControl->currentWidget()->findChild<QTableView *>()->setFocus(Qt::BacktabFocusReason);
}

void TMainForm::MenuHistoryClick()
{
    if (!database_)
        throw std::logic_error("history: not ready");
    const int id = database_->SelectedBatteryID();
    BatteryHistory history;
    if (!ReadBatteryHistory(database_->Reader(), id, history))
        throw DatabaseError(QStringLiteral("Den Akku %1 gibt es nicht mehr").arg(id));
    THistoryDialog dialog(this);
    dialog.SetHistory(history);
    dialog.exec();
}

void TMainForm::MenuShowDiagramsClick()
{
    ToggleView(MenuShowDiagrams, ButtonShowDiagrams, showDiagrams_);
}

void TMainForm::MenuShowControlsClick()
{
    ToggleView(MenuShowControls, ButtonShowControls, showControls_);
}

void TMainForm::MenuShowDBClick()
{
    ToggleView(MenuShowDB, ButtonShowDB, showDB_);
}

void TMainForm::MenuGotoAkkusClick()
{
    if (database_)
        database_->BatteryQuery()->first();
    DatabasePageControl->setCurrentWidget(TabSheetAkkus);
    BatteryDBGrid->setFocus();
}

void TMainForm::PopupMenuGotoServicesClick()
{
    DatabasePageControl->setCurrentWidget(TabSheetServices);
    ServicesDBGrid->setFocus();
}

void TMainForm::AfterLoggerReadout()
{
    database_->ReopenSteps();
    database_->ServiceQuery()->last();
    DatabasePageControl->setCurrentWidget(TabSheetServices);
    ServicesDBGrid->setFocus();
}

// ---- battery and record commands --------------------------------------------------------

void TMainForm::MenuNewAkkuClick()
{
    if (!database_ || !engine_ || !newBatteryDialog_)
        throw std::logic_error("new battery: not ready");
    const int proposal = database_->PeekBatteryID();
    newBatteryDialog_->Prepare(proposal);
    if (newBatteryDialog_->exec() != QDialog::Accepted)
        return;
    // The engine stores it; the list selects it once it is in.
    newBatteryTicket_ = engine_->AddBattery(MainCommands::NewBatteryFromInput(newBatteryDialog_->Input()), proposal);
}

void TMainForm::MenuSearchClick()
{
    if (!database_ || !findAccuDialog_)
        throw std::logic_error("search: not ready");
    if (findAccuDialog_->exec() != QDialog::Accepted)
        return;
    database_->ReopenBatteries(findAccuDialog_->Position());
    DatabasePageControl->setCurrentWidget(TabSheetAkkus);
    BatteryDBGrid->setFocus();
}

void TMainForm::MenuDeleteAkkuClick()
{
    if (!database_ || !engine_)
        throw std::logic_error("delete battery: not ready");
    const int id = database_->SelectedBatteryID();
    const auto answer = QMessageBox::question(this, MainCommands::DeleteBatteryCaption(),
                                              MainCommands::DeleteBatteryQuestion(id),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    engine_->DeleteBattery(id);
}

void TMainForm::MenuDeleteServiceClick()
{
    if (!database_ || !engine_)
        throw std::logic_error("delete record: not ready");
    const int id = database_->SelectedServiceID();
    const auto answer = QMessageBox::question(this, MainCommands::DeleteServiceCaption(),
                                              MainCommands::DeleteServiceQuestion(),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || id == 0)
        return;
    engine_->DeleteService(id);
}

// ---- options and about box --------------------------------------------------------------

void TMainForm::MenuOptionsClick()
{
    if (!database_ || !optionsDialog_)
        throw std::logic_error("options: not ready");
    optionsDialog_->SetTexts(MainCommands::CurrentOptions(*database_, *TheTimer));
    optionsDialog_->SetClockNote(engine_ ? PacesText(engine_->Paces(), TheTimer->interval()) : QString());
    optionsDialog_->SetDevices(Ohmrida::SerialPorts::ListDevices());
    optionsDialog_->SetPorts(Ohmrida::SerialPorts::Assignment());
    optionsDialog_->SetDatabase(storedDatabaseChoice_, database_->DatabaseFile());
    optionsDialog_->SetNotices(notifications_->Options());
    if (optionsDialog_->exec() != QDialog::Accepted)
        return;
    notifications_->SetOptions(optionsDialog_->Notices());
    if (settingsWriter_)
        settingsWriter_->Write([notices = notifications_->Options()](QSettings &settings) { notices.Save(settings); });
    Ohmrida::SerialPorts::AssignAll(optionsDialog_->Ports());
    if (settingsWriter_) {
        settingsWriter_->Write([ports = Ohmrida::SerialPorts::Assignment()](QSettings &settings) {
            PortSettings::Save(settings, ports);
        });
        // Taken at the next start of either program; the dialog checked it.
        QString choice, error;
        if (!DataLocation::CheckChoice(optionsDialog_->Database(), choice, error))
            throw DatabaseError(error);
        storedDatabaseChoice_ = choice;
        settingsWriter_->Write([choice](QSettings &settings) {
            QString unused;
            DataLocation::StoreChoice(settings, choice, unused);
        });
    }
    // A bad field ends the command there; what was taken before it is kept,
    // in the settings file too.
    struct KeepOptions {
        TMainForm &window;
        ~KeepOptions() { window.SaveOptions(); }
    } keep{*this};
    MainCommands::ApplyOptions(optionsDialog_->Texts(), *database_, *TheTimer);
}

void TMainForm::MenuInfoClick()
{
    if (!infoDialog_)
        throw std::logic_error("about box: not ready");
    infoDialog_->exec();
}

// ---- treatments ----------------------------------------------------------------------------

void TMainForm::Timer()
{
    // The engine polls on its own thread; the menus follow when it is done.
    if (engine_)
        engine_->Tick();
}

void TMainForm::MenuStopServiceClick()
{
    if (!engine_)
        throw std::logic_error("stop: not ready");
    // A running treatment is stopped only when the user says so twice;
    // Enter keeps it running. An ended one's page just closes.
    const int ticket = livePages_ ? livePages_->ActiveTicket() : 0;
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.Ticket != ticket || treatment.State == Service::Ended)
            continue;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Behandlung abbrechen"),
                        QStringLiteral("Die Behandlung von Akku %1 an %2 läuft noch. Abbrechen?")
                            .arg(treatment.BatteryID)
                            .arg(QString::fromStdString(treatment.Terminal)),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setInformativeText(QStringLiteral("Das Ladegerät wird angehalten, der laufende Schritt als "
                                              "\"abgebrochen\" gespeichert."));
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Behandlung &abbrechen"));
        box.button(QMessageBox::No)->setText(QStringLiteral("&Weiterlaufen lassen"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes || livePages_->ActiveTicket() != ticket)
            return;
    }
    // The engine stops the treatment of the page active now; the page goes and
    // the battery's commands come back when it is done.
    if (livePages_)
        ExecuteStopServiceCommand(*engine_, *livePages_);
    ScheduleUpdateMenus();
}

void TMainForm::MenuStartServiceClick()
{
    if (!database_ || !engine_ || !selectServiceDialog_)
        throw std::logic_error("start: not ready");
    TBRASKDataModule::Battery battery;
    database_->ReadSelectedBattery(battery);
    if (!ExecuteStartServiceCommand(*selectServiceDialog_, *engine_, database_->SelectedBatteryID(),
                                    battery.Capacity))
        return;
    MenuStopService->setEnabled(true);
    ButtonStopService->setEnabled(true);
    for (QAction *action : {MenuStartService, PopupMenuStartService, ButtonStartService, MenuDeleteAkku,
                            PopupMenuDeleteAkku, MenuDeleteService, PopupMenuDeleteService})
        action->setEnabled(false);
}

void TMainForm::ShowBatteryPage()
{
    MenuGotoAkkusClick();
}

QPrinter &TMainForm::Printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>();
    return *printer_;
}

::Richie &TMainForm::TextBuffer()
{
    return *richie_;
}
