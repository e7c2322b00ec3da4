#pragma once
// TMainForm: the program's only top-level window and the hub of all commands.
// Three areas: diagrams (DiagramTab), treatment control (AccuTab) and the
// database (three lists and the battery panel). Owns the main menu, the
// toolbar, the three context menus and the timer that drives the treatments.
//
// Every command handler runs inside RunCommand, the one catch-all that turns
// any failure into the message "Ausführung fehlgeschlagen!".
//
// Command enabling: BatterySelectionChanged and ServiceSelectionChanged run
// from the data module's selection signals; UpdateMenus runs whenever the
// application has become idle after user input (see IdleWatcher), after every
// command, after each timer tick and when a menu is about to open.

#include "treatment/ServiceViews.h"

#include "mainwindow/LongWork.h"
#include "mainwindow/PrintWork.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QAction;
class QFrame;
class QMenu;
class QPlainTextEdit;
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
class TNotifications;

// The logo at the right of the toolbar; a double click opens the about box.
class TLogoImage : public QLabel {
    Q_OBJECT
public:
    explicit TLogoImage(QWidget *parent = nullptr);
signals:
    void doubleClicked();
protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The remarks memo: a plain text field limited to 250 characters that reports
// when it loses the focus, so its edit reaches the battery row.
class TDBMemo : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxLength = 250;
    explicit TDBMemo(QWidget *parent = nullptr);
    QPlainTextEdit *Editor() const { return editor_; }
    QString Text() const;
    void SetText(const QString &text);   // does not count as an edit
    bool Modified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
signals:
    void focusLeft();
protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
private:
    void limitLength();
    QPlainTextEdit *editor_;
    bool modified_ = false;
    bool loading_ = false;
};

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // The objects created after the window; the window's links to them take
    // effect as they arrive.
    void SetDataModule(TBRASKDataModule *database);
    // The engine that runs the treatments and writes the records; its
    // reports make and feed the treatment pages and re-read the lists.
    // nullptr detaches it (program end).
    void SetTreatmentEngine(TTreatmentEngine *engine);
    void SetNewBatteryDialog(TNewBatteryDialog *dialog) { newBatteryDialog_ = dialog; }
    void SetSelectServiceDialog(TSelectServiceDialog *dialog);
    void SetInfoDialog(TInfoDialog *dialog) { infoDialog_ = dialog; }
    void SetFindAccuDialog(TFindAccuDialog *dialog) { findAccuDialog_ = dialog; }
    void SetOptionsDialog(TOptionsDialog *dialog) { optionsDialog_ = dialog; }
    void SetKestrixDialog(QDialog *dialog) { kestrixDialog_ = dialog; }
    void SetDiagramCommands(TDiagramCommands *commands);

    TBRASKDataModule *DataModule() const { return database_; }
    TTreatmentEngine *TreatmentEngine() const { return engine_; }
    TDiagramCommands *DiagramCommands() const { return diagramCommands_; }
    // The treatment pages (made with the data module).
    TLivePages *LivePages() const { return livePages_; }

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
    void InitMenus();
    void UpdateMenus();
    void BatterySelectionChanged();
    void ServiceSelectionChanged();
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
    void PopupMenuCloseDiagramClick();
    void PopupMenuPrintDiagramClick();
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

    // ---- main menu ----
    QMenu *MenuFile, *MenuExport, *MenuPrint, *MenuPdf, *MenuCopy, *MenuView, *MenuDiagram, *MenuDatabase,
        *MenuService, *MenuHelp;
    QAction *MenuExportDiagram, *MenuExportTable, *MenuExportInfo, *MenuExportProtocol, *MenuExportSamples;
    QAction *MenuPrintDiagram, *MenuPrintTable, *MenuPrintInfo, *MenuPrintProtocol;
    QAction *MenuPdfDiagram, *MenuPdfTable, *MenuPdfInfo, *MenuPdfProtocol;
    QAction *MenuPrinterSetup, *MenuQuit;
    QAction *MenuCopyDiagram, *MenuCopyTable, *MenuCopyInfo, *MenuCopyProtocol;
    QAction *MenuShowDiagrams, *MenuShowControls, *MenuShowDB;
    QAction *MenuNewDiagram, *MenuOpenDiagram, *MenuSaveDiagram, *MenuCloseDiagram,
        *MenuCloseAllDiagrams, *MenuSetupDiagram, *MenuZoomBack, *MenuShowAll, *MenuDiagramLegend;
    QAction *MenuGotoAkkus, *MenuSearch, *MenuNewAkku, *MenuDeleteAkku, *MenuDeleteService, *MenuHistory;
    QAction *MenuRefresh, *MenuNextList, *MenuPreviousList;
    QAction *MenuStartService, *MenuStopService, *MenuOptions, *MenuKestrix;
    QAction *MenuInfo;

    // ---- toolbar ----
    QFrame *ToolbarPanel;
    QToolBar *ToolBar1;
    TLogoImage *Image1;
    QAction *ButtonShowDiagrams, *ButtonShowControls, *ButtonShowDB;
    QAction *ButtonNewDiagram, *ButtonOpenDiagram, *ButtonSaveDiagram, *ButtonSetupDiagram,
        *ButtonZoomBack, *ButtonPrintDiagram;
    QAction *ButtonNewBattery, *ButtonSearch, *ButtonPrintInfo, *ButtonStartService,
        *ButtonStopService;

    // ---- context menus ----
    QMenu *PopupMenuAkkus;
    QAction *PopupMenuStartService, *PopupMenuHistory, *PopupMenuPrintInfo, *PopupMenuCopyInfo, *PopupMenuDeleteAkku;
    QMenu *PopupMenuServices;
    QAction *PopupMenuShowVoltage, *PopupMenuShowCurrent, *PopupMenuExportSamples, *PopupMenuDeleteService;
    QMenu *PopupDiagrams;
    QAction *PopupMenuCloseDiagram, *PopupMenuPrintDiagram, *PopupMenuPdfDiagram, *PopupMenuDiagramCurveProps,
        *PopupMenuDiagramScalaProps, *PopupMenuDiagramPaintProps, *PopupMenuShowAll, *PopupMenuDiagramLegend;

    // ---- areas ----
    QWidget *Panel2;
    QSplitter *VerticalSplitter;     // upper part | database area
    QSplitter *HorizontalSplitter;   // diagrams | treatment control
    QWidget *RightPanel;
    QTabWidget *AccuTab;
    QWidget *ClientPanel;
    QTabWidget *DiagramTab;
    QWidget *BottomPanel;
    QTabWidget *DatabasePageControl;
    QWidget *TabSheetAkkus, *TabSheetServices, *TabSheetSubServices;
    QTableView *BatteryDBGrid, *ServicesDBGrid, *SubServicesDBGrid;
    QFrame *BatteryPanel;
    QWidget *BatteryDetails;   // the panel below the description, shown with a battery
    QLabel *DBTextBezeichnung;
    QLabel *DBTextType, *DBTextCapacity, *DBTextCells, *DBTextForm, *DBTextVoltage;
    QWidget *MaxChargeLine;   // present, never shown
    QLabel *DBTextMaxCharge, *DBTextSelfDischarge;
    TDBMemo *DBMemoInfo;
    QStatusBar *StatusBar1;
    QTimer *TheTimer;

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
    void BuildMenus();
    void BuildToolbar();
    void BuildPopupMenus();
    void BuildAreas();
    void BuildBatteryPanel();
    QAction *Command(QMenu *menu, const char *name, const QString &text, void (TMainForm::*handler)());
    QAction *Button(int image, const char *name, const QString &tip, void (TMainForm::*handler)(),
                    bool toggle = false);
    void ConnectCommand(QAction *action, void (TMainForm::*handler)());
    void ConfigureGrids();
    void LinkView(QTableView *view, QueryModel *model);
    void FollowModelRow(QTableView *view, QueryModel *model);
    void ShowBatteryPanel();
    // A list's title was clicked: its order (a second click reverses it), kept in the settings.
    void ListSortChanged(QTableView *view, int section, Qt::SortOrder order);
    void ShowSortIndicators();
    // Before the window closes with treatments running: asks whether they go
    // on or are stopped first. True when closing may go on now.
    bool ConfirmQuit();
    void QuitWhenStopped();
    void PopupAtListPosition(QMenu *menu);
    bool ListKeyPressed(QObject *list, int key);
    void ToggleView(QAction *menuItem, QAction *button, bool &shown);
    void ScheduleUpdateMenus();
    void AfterLoggerReadout();
    bool HoldsBattery(int batteryID) const;
    bool HoldsService(int serviceID) const;
    // Whether the database may be changed (not a read-only file or role).
    bool Writable() const;
    bool ActiveDiagramCanZoomBack() const;
    TDiagramCommands &Diagrams() const;   // throws when missing

    // A record change the engine reports: the lists read again (a database
    // that cannot be read now says so in the status line).
    void FollowRecords(const RecordChange &change);
    // Writing the records of a treatment fails: the status line says since when.
    void ShowWriteStatus(const PollReport &report);

    TBRASKDataModule *database_ = nullptr;
    TTreatmentEngine *engine_ = nullptr;
    TLivePages *livePages_ = nullptr;
    TNotifications *notifications_ = nullptr;
    bool quitAnswered_ = false;      // closing goes on without asking
    bool stoppingForQuit_ = false;   // the window closes once the stops are done
    std::vector<QMetaObject::Connection> engineConnections_;
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
    int memoBatteryID_ = 0;
    bool memoHasBattery_ = false;
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
