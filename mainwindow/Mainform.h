#pragma once
// TMainForm: the program's only top-level window and the hub of all commands.
// Three areas: diagrams (DiagramTab), treatment control (AccuTab, whose pages
// TLivePages makes from the engine's reports) and the database (three lists
// and the TBatteryPanel). Owns the dialogs, one action per command (shown by
// the main menu, the toolbar and the context menus alike) and the timer that
// drives the treatments. Built complete on the data module and the engine,
// which outlive it. The window's parts are built in MainformBuild.cpp, the
// commands' actions and menus in MainformMenus.cpp, the lists' links in
// MainformLists.cpp.
//
// Every command handler runs inside RunCommand, the one catch-all that turns
// any failure into the message "Ausführung fehlgeschlagen!".
//
// Command enabling: UpdateMenus hands what the window shows and holds to a
// CommandState and enables the actions as it says. It runs from the data
// module's selection signals, whenever the application has become idle after
// user input (see IdleWatcher), after every command, after each timer tick and
// when a menu is about to open.

#include "treatment/ServiceViews.h"

#include "mainwindow/CommandState.h"
#include "mainwindow/LongWork.h"
#include "mainwindow/PrintWork.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QMenu;
class QPrinter;
class QSettings;
class TSettingsWriter;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;
class Richie;
class QToolBar;
class QueryModel;
class TBRASKDataModule;
class TTreatmentEngine;
class TNewBatteryDialog;
class TFindAccuDialog;
class TOptionsDialog;
class TInfoDialog;
class TSelectServiceDialog;
class TDiagramCommands;
class TLivePages;
class TBatteryPanel;
class TDiagramPropertyDialog;
class TNotifications;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // The lists read through the data module; the engine runs the
    // treatments and writes the records, its reports make and feed the
    // treatment pages and re-read the lists. Both outlive the window.
    // terminalUsedElsewhere: whether another program here records on a
    // terminal (the start dialog leaves it out).
    TMainForm(TBRASKDataModule &database, TTreatmentEngine &engine,
              std::function<bool(const std::string &)> terminalUsedElsewhere = {}, QWidget *parent = nullptr);
    ~TMainForm() override;

    TBRASKDataModule *DataModule() const { return database_; }
    TDiagramCommands *DiagramCommands() const { return diagramCommands_; }
    TSelectServiceDialog &SelectServiceDialog() const { return *selectServiceDialog_; }
    // The action of a command, shared by every menu and button that offers it.
    QAction *CommandAction(Command command) const { return actions_[std::size_t(command)]; }
    // The list of the database area's page shown.
    QTableView *ActiveList() const;

    // Runs one command: any exception ends it with the message box
    // "Ausführung fehlgeschlagen!" (caption "Fehler"). Returns false then.
    // A command given while another one runs (input queued behind a modal
    // dialog) is dropped, so no command ever re-enters itself.
    bool RunCommand(const std::function<void()> &command);
    // The message box "Ausführung fehlgeschlagen!" with the reason (if any) below it.
    void ShowCommandFailure(const QString &reason);

    // The windows of the diagram pages, in page order.
    std::vector<LiveSampleSink *> DiagramWindows();
    // Brings the battery page to the front.
    void ShowBatteryPage();

    // ---- command enabling ----
    void UpdateMenus();
    // Show/hide of the three areas by the view commands and the window size.
    void UpdateLayout();

    // ---- command handlers (run them through RunCommand) ----
    void MenuExportDiagramClick();
    void MenuExportTableClick();
    void MenuExportInfoClick();
    void MenuExportProtocolClick();
    void MenuPrintDiagramClick();
    void MenuPrintTableClick();
    void MenuPrintInfoClick();
    void MenuPrintProtocolClick();
    void MenuPrinterSetupClick();
    // "Als PDF speichern": the printed pages of a diagram, the visible table,
    // the label or the protocol as an A4 PDF file, without the print dialog.
    void MenuPdfDiagramClick();
    void MenuPdfTableClick();
    void MenuPdfInfoClick();
    void MenuPdfProtocolClick();
    // Asks for a PDF file (proposed: `name`.pdf in the export folder) and
    // saves the job's pages there, titled `name`.
    void SaveAsPdf(const QString &name, const std::function<void(QPrinter &)> &job);
    void MenuQuitClick();
    void MenuCopyDiagramClick();
    void MenuCopyTableClick();
    void MenuCopyInfoClick();
    void MenuCopyProtocolClick();
    void MenuShowDiagramsClick();
    void MenuShowControlsClick();
    void MenuShowDBClick();
    void MenuNewDiagramClick();
    void MenuOpenDiagramClick();
    void MenuSaveDiagramClick();
    void MenuCloseDiagramClick();
    void MenuCloseAllDiagramsClick();
    void MenuSetupDiagramClick();
    void MenuZoomBackClick();
    // "Alles zeigen": the active diagram scaled to all its data.
    void MenuShowAllClick();
    // Shows or hides the active diagram's legend (menu and context menu alike).
    void MenuDiagramLegendClick();
    void MenuGotoAkkusClick();
    void MenuSearchClick();
    void MenuNewAkkuClick();
    void MenuDeleteAkkuClick();
    void MenuDeleteServiceClick();
    void MenuStartServiceClick();
    void MenuStopServiceClick();
    void MenuOptionsClick();
    void MenuKestrixClick();
    void MenuInfoClick();
    void MenuShowVoltageClick();
    void MenuShowCurrentClick();
    // "Verlauf": the selected battery's treatments with their measured capacities.
    void MenuHistoryClick();
    // F5: the three lists read again.
    void MenuRefreshClick();
    // Ctrl+Tab / Ctrl+Shift+Tab: the next or previous list page, its list focused.
    void MenuNextListClick();
    void MenuPreviousListClick();
    void PopupMenuGotoServicesClick();
    void PopupMenuDiagramCurvePropsClick();
    void PopupMenuDiagramScalaPropsClick();
    void PopupMenuDiagramPaintPropsClick();
    // The timer tick: polls the next treatment.
    void Timer();
    // Quits without the question about running treatments (a signal: logout,
    // kill): they go on on their chargers and are taken up at the next start.
    void QuitWithoutQuestion();
    // Tells the user of ended treatments, silent chargers and failing writes.
    TNotifications *Notifications() const { return notifications_; }
    // Writes a pending edit of the remarks memo into its battery row.
    void CommitBatteryInfo();

    // ---- settings kept across starts ----
    // With settings, the window restores its size, splitters, options, port
    // assignment and last folders from them now, and from then on keeps each
    // of them in the same file as it changes: options and ports as the
    // options dialog accepts them, folders as file dialogs are accepted, size
    // and splitters shortly after they were changed (and when the window
    // closes). The file is written by a TSettingsWriter, off the window's
    // thread; `settings` itself is only read here. Without settings (the
    // default), nothing is read or written; SetSettings(nullptr) writes what
    // is still queued before it returns.
    void SetSettings(QSettings *settings);
    void SaveWindowState();
    void SaveOptions();
    // The size of a first start: large enough for readable diagram labels, live
    // page and lists, but never more than 90 % of the available screen.
    static QSize FirstStartSize(const QSize &availableScreen);
    // The folder the file dialogs of a kind ("diagrams", "export") start in:
    // the one last chosen there, else the user's documents folder.
    QString LastFolder(const QString &kind) const;
    void RememberFolder(const QString &kind, const QString &chosenFile);
    // Samples of the selected treatment as CSV ("Exportieren" and the
    // treatment list's context menu).
    void MenuExportSamplesClick();

    // The export under way beside the window (one at a time); nullptr when none.
    TLongWork *LongWork() const { return longWork_.get(); }
    // How long an export runs before its progress bar shows.
    void SetProgressDelay(int milliseconds) { progressDelayMs_ = milliseconds; }

    // The printer chosen in the printer setup, shared by every print command.
    QPrinter &Printer();
    // The hidden text buffer through which tables, labels and protocols are
    // printed, exported and copied.
    ::Richie &TextBuffer();

    // Smallest outer width and height at which the side panels resp. the
    // database area are shown.
    static constexpr int MinWidthForSidePanels = 600;
    static constexpr int MinHeightForDatabase = 450;
    // The treatment pages' share of the window's width until the user moves
    // the border (at least 300 pixels).
    static constexpr double SidePanelShare = 0.3;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // ---- construction (MainformBuild.cpp, MainformMenus.cpp) ----
    void BuildCommands();
    void BuildMenus();
    void BuildToolbar();
    void BuildPopupMenus();
    void BuildAreas();
    void BuildDialogs(std::function<bool(const std::string &)> terminalUsedElsewhere);
    void ConnectEngine();
    // One action per command, its handler run through RunCommand.
    QAction *MakeCommand(::Command command, const char *name, const QString &text, void (TMainForm::*handler)());
    // Puts the command's action on the toolbar with its picture and tip.
    void AddButton(::Command command, int image, const char *name, const QString &tip);
    // A context menu's own wording of a command: the entry triggers the
    // command's action and follows its state.
    void AddAlias(QMenu *menu, ::Command command, const char *name, const QString &text);
    QAction *Action(::Command command) const { return actions_[std::size_t(command)]; }

    // ---- the lists (MainformLists.cpp) ----
    void ConfigureGrids();
    void LinkView(QTableView *view, QueryModel *model);
    void FollowModelRow(QTableView *view, QueryModel *model);
    // A list's title was clicked: its order (a second click reverses it), kept in the settings.
    void ListSortChanged(QTableView *view, int section, Qt::SortOrder order);
    void ShowSortIndicators();
    void PopupAtListPosition(QMenu *menu);
    bool ListKeyPressed(QObject *list, int key);

    // Before the window closes with treatments running: asks whether they go
    // on or are stopped first. True when closing may go on now.
    bool ConfirmQuit();
    void QuitWhenStopped();
    void ToggleView(::Command command, bool &shown);
    void ScheduleUpdateMenus();
    void AfterLoggerReadout();
    // What the commands are decided from.
    CommandInputs CommandInputsNow() const;
    // Whether the database may be changed (not a read-only file or role).
    bool Writable() const;
    bool ActiveDiagramCanZoomBack() const;
    TDiagramCommands &Diagrams() const;

    // A record change the engine reports: the lists read again (a database
    // that cannot be read now says so in the status line).
    void FollowRecords(const RecordChange &change);
    // Writing the records of a treatment fails: the status line says since when.
    void ShowWriteStatus(const PollReport &report);

    // ---- the window's parts ----
    QMenu *MenuFile, *MenuExport, *MenuPrint, *MenuPdf, *MenuCopy, *MenuView, *MenuDiagram, *MenuDatabase,
        *MenuService, *MenuHelp;
    QMenu *PopupMenuAkkus, *PopupMenuServices, *PopupDiagrams;
    std::array<QAction *, CommandCount> actions_{};
    QToolBar *ToolBar1;
    QSplitter *VerticalSplitter;     // upper part | database area
    QSplitter *HorizontalSplitter;   // diagrams | treatment control
    QWidget *ClientPanel, *RightPanel, *BottomPanel;
    QTabWidget *DiagramTab, *AccuTab, *DatabasePageControl;
    QWidget *TabSheetAkkus, *TabSheetServices, *TabSheetSubServices;
    QTableView *BatteryDBGrid, *ServicesDBGrid, *SubServicesDBGrid;
    TBatteryPanel *BatteryPanel;
    QStatusBar *StatusBar1;
    QTimer *TheTimer;

    TBRASKDataModule *const database_;
    TTreatmentEngine *const engine_;
    TLivePages *livePages_ = nullptr;
    TNotifications *notifications_ = nullptr;
    bool quitAnswered_ = false;      // closing goes on without asking
    bool stoppingForQuit_ = false;   // the window closes once the stops are done
    int newBatteryTicket_ = 0;
    QString writeStatus_;
    bool commandRunning_ = false;
    TDiagramCommands *diagramCommands_ = nullptr;
    TNewBatteryDialog *newBatteryDialog_ = nullptr;
    TSelectServiceDialog *selectServiceDialog_ = nullptr;
    TInfoDialog *infoDialog_ = nullptr;
    TFindAccuDialog *findAccuDialog_ = nullptr;
    TOptionsDialog *optionsDialog_ = nullptr;
    QDialog *kestrixDialog_ = nullptr;
    TDiagramPropertyDialog *diagramPropertyDialog_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    std::unique_ptr<TSettingsWriter> settingsWriter_;
    QString storedDatabaseChoice_;   // as kept in the settings
    QTimer windowStateTimer_;        // size and splitters are kept once they rest
    void ScheduleWindowStateSave();
    std::map<QString, QString> lastFolders_;
    std::unique_ptr<::Richie> richie_;
    bool shownOnce_ = false;
    bool sidePanelPlaced_ = false;   // the user moved the border of the treatment pages
    // Asks, for each treatment whose recorder was gone, whether it goes on.
    void OfferResumes();
    bool showDiagrams_ = true, showControls_ = true, showDB_ = true;
    QTimer idleTimer_;
    bool syncingSelection_ = false;
    class IdleWatcher;
    std::unique_ptr<IdleWatcher> idleWatcher_;
    // Runs work beside the window; a failure is shown when it ends, done
    // runs (on this thread) when it succeeded.
    void RunLongWork(const QString &label, TLongWork::Work work, std::function<void()> done = {});
    // A text's lines printed, or saved as PDF under a chosen name, beside the window.
    void PrintLines(const QString &label, PrintWork::LineSource lines);
    void SaveLinesAsPdf(const QString &name, const QString &label, PrintWork::LineSource lines);
    std::unique_ptr<TLongWork> longWork_;
    int progressDelayMs_ = TLongWork::ProgressDelayMs;
};
