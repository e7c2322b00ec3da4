// The main window's commands: one action per command, and the main menu,
// toolbar and context menus that show those actions.

#include "mainwindow/Mainform.h"

#include "resources/Artwork.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

QAction *TMainForm::MakeCommand(::Command command, const char *name, const QString &text, void (TMainForm::*handler)())
{
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    // The toolbar's pictures stay on the toolbar; the menus show text only.
    action->setIconVisibleInMenu(false);
    connect(action, &QAction::triggered, this,
            [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
    actions_[std::size_t(command)] = action;
    return action;
}

void TMainForm::BuildCommands()
{
    using C = ::Command;
    struct Entry {
        C command;
        const char *name;
        const char *text;
        void (TMainForm::*handler)();
    };
    static const Entry entries[] = {
        {C::ExportDiagram, "MenuExportDiagram", "&Diagramm...", &TMainForm::MenuExportDiagramClick},
        {C::ExportTable, "MenuExportTable", "&Tabelle...", &TMainForm::MenuExportTableClick},
        {C::ExportInfo, "MenuExportInfo", "&Etikett...", &TMainForm::MenuExportInfoClick},
        {C::ExportProtocol, "MenuExportProtocol", "&Meßprotokoll...", &TMainForm::MenuExportProtocolClick},
        {C::ExportSamples, "MenuExportSamples", "Mess&werte (CSV)...", &TMainForm::MenuExportSamplesClick},
        {C::PrintDiagram, "MenuPrintDiagram", "&Diagramm", &TMainForm::MenuPrintDiagramClick},
        {C::PrintTable, "MenuPrintTable", "&Tabelle", &TMainForm::MenuPrintTableClick},
        {C::PrintInfo, "MenuPrintInfo", "&Etikett", &TMainForm::MenuPrintInfoClick},
        {C::PrintProtocol, "MenuPrintProtocol", "&Meßprotokoll", &TMainForm::MenuPrintProtocolClick},
        {C::PdfDiagram, "MenuPdfDiagram", "&Diagramm...", &TMainForm::MenuPdfDiagramClick},
        {C::PdfTable, "MenuPdfTable", "&Tabelle...", &TMainForm::MenuPdfTableClick},
        {C::PdfInfo, "MenuPdfInfo", "&Etikett...", &TMainForm::MenuPdfInfoClick},
        {C::PdfProtocol, "MenuPdfProtocol", "&Meßprotokoll...", &TMainForm::MenuPdfProtocolClick},
        {C::PrinterSetup, "MenuPrinterSetup", "Drucker ein&richten...", &TMainForm::MenuPrinterSetupClick},
        {C::Quit, "MenuQuit", "&Beenden", &TMainForm::MenuQuitClick},
        {C::CopyDiagram, "MenuCopyDiagram", "&Diagramm", &TMainForm::MenuCopyDiagramClick},
        {C::CopyTable, "MenuCopyTable", "&Tabelle", &TMainForm::MenuCopyTableClick},
        {C::CopyInfo, "MenuCopyInfo", "&Etikett", &TMainForm::MenuCopyInfoClick},
        {C::CopyProtocol, "MenuCopyProtocol", "&Meßprotokoll", &TMainForm::MenuCopyProtocolClick},
        {C::ShowDiagrams, "MenuShowDiagrams", "&Diagramme", &TMainForm::MenuShowDiagramsClick},
        {C::ShowControls, "MenuShowControls", "&Steuerung", &TMainForm::MenuShowControlsClick},
        {C::ShowDB, "MenuShowDB", "Date&nbank", &TMainForm::MenuShowDBClick},
        {C::NextList, "MenuNextList", "&Nächste Liste", &TMainForm::MenuNextListClick},
        {C::PreviousList, "MenuPreviousList", "&Vorherige Liste", &TMainForm::MenuPreviousListClick},
        {C::Refresh, "MenuRefresh", "&Aktualisieren", &TMainForm::MenuRefreshClick},
        {C::NewDiagram, "MenuNewDiagram", "&Neu", &TMainForm::MenuNewDiagramClick},
        {C::OpenDiagram, "MenuOpenDiagram", "Ö&ffnen...", &TMainForm::MenuOpenDiagramClick},
        {C::SaveDiagram, "MenuSaveDiagram", "&Speichern...", &TMainForm::MenuSaveDiagramClick},
        {C::CloseDiagram, "MenuCloseDiagram", "S&chließen", &TMainForm::MenuCloseDiagramClick},
        {C::CloseAllDiagrams, "MenuCloseAllDiagrams", "&Alle schließen", &TMainForm::MenuCloseAllDiagramsClick},
        {C::SetupDiagram, "MenuSetupDiagram", "&Einstellungen...", &TMainForm::MenuSetupDiagramClick},
        {C::ZoomBack, "MenuZoomBack", "&Vorherige Zoomstufe ", &TMainForm::MenuZoomBackClick},
        {C::ShowAll, "MenuShowAll", "Alles &zeigen", &TMainForm::MenuShowAllClick},
        {C::DiagramLegend, "MenuDiagramLegend", "&Legende", &TMainForm::MenuDiagramLegendClick},
        {C::DiagramCurveProps, "PopupMenuDiagramCurveProps", "&Kurven", &TMainForm::PopupMenuDiagramCurvePropsClick},
        {C::DiagramScalaProps, "PopupMenuDiagramScalaProps", "S&kalieren", &TMainForm::PopupMenuDiagramScalaPropsClick},
        {C::DiagramPaintProps, "PopupMenuDiagramPaintProps", "&Zeichnen", &TMainForm::PopupMenuDiagramPaintPropsClick},
        {C::GotoAkkus, "MenuGotoAkkus", "&Gehe zu Akkus", &TMainForm::MenuGotoAkkusClick},
        {C::Search, "MenuSearch", "&Suchen...", &TMainForm::MenuSearchClick},
        {C::NewAkku, "MenuNewAkku", "&Neuer Akku...", &TMainForm::MenuNewAkkuClick},
        {C::DeleteAkku, "MenuDeleteAkku", "Akku &löschen", &TMainForm::MenuDeleteAkkuClick},
        {C::History, "MenuHistory", "&Verlauf...", &TMainForm::MenuHistoryClick},
        {C::DeleteService, "MenuDeleteService", "Aufzeichnung &löschen ", &TMainForm::MenuDeleteServiceClick},
        {C::ShowVoltage, "PopupMenuShowVoltage", "&U - Spannungskurve", &TMainForm::MenuShowVoltageClick},
        {C::ShowCurrent, "PopupMenuShowCurrent", "&I - Stromkurve", &TMainForm::MenuShowCurrentClick},
        {C::StartService, "MenuStartService", "&Starten...", &TMainForm::MenuStartServiceClick},
        {C::StopService, "MenuStopService", "&Abbrechen", &TMainForm::MenuStopServiceClick},
        {C::Options, "MenuOptions", "&Einstellungen...", &TMainForm::MenuOptionsClick},
        {C::Kestrix, "MenuKestrix", "&Kestrix...", &TMainForm::MenuKestrixClick},
        {C::Info, "MenuInfo", "Inf&o...", &TMainForm::MenuInfoClick},
    };
    static_assert(std::size(entries) == CommandCount, "every command has its action");
    for (const Entry &entry : entries)
        MakeCommand(entry.command, entry.name, QString::fromUtf8(entry.text), entry.handler);

    // The platform's standard Quit key; Ctrl+Q where the platform names none.
    const QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
    Action(C::Quit)->setShortcuts(quitKeys.isEmpty() ? QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Q)}
                                                     : quitKeys);
    Action(C::NextList)->setShortcuts({QKeySequence(QKeySequence::NextChild), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    Action(C::PreviousList)->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                           QKeySequence(QKeySequence::PreviousChild),
                                           QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    Action(C::Refresh)->setShortcut(QKeySequence(Qt::Key_F5));
    Action(C::GotoAkkus)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    for (C checkable : {C::ShowDiagrams, C::ShowControls, C::ShowDB, C::DiagramLegend})
        Action(checkable)->setCheckable(true);
}

void TMainForm::BuildMenus()
{
    using C = ::Command;
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu"));
    // The menu's commands in order; C(-1) stands for a separator.
    auto fill = [this](QMenu *menu, const char *name, std::initializer_list<C> commands) {
        menu->setObjectName(QLatin1String(name));
        for (C command : commands) {
            if (command == C(-1))
                menu->addSeparator();
            else
                menu->addAction(Action(command));
        }
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateMenus);
        return menu;
    };
    const C separator = C(-1);

    MenuFile = fill(bar->addMenu(QStringLiteral("&Datei")), "MenuFile", {});
    MenuExport = fill(MenuFile->addMenu(QStringLiteral("&Exportieren")), "MenuExport",
                      {C::ExportDiagram, C::ExportTable, C::ExportInfo, C::ExportProtocol, C::ExportSamples});
    MenuFile->addSeparator();
    MenuPrint = fill(MenuFile->addMenu(QStringLiteral("Drucken")), "MenuPrint",
                     {C::PrintDiagram, C::PrintTable, C::PrintInfo, C::PrintProtocol});
    MenuPdf = fill(MenuFile->addMenu(QStringLiteral("Als &PDF speichern")), "MenuPdf",
                   {C::PdfDiagram, C::PdfTable, C::PdfInfo, C::PdfProtocol});
    MenuFile->addAction(Action(C::PrinterSetup));
    MenuFile->addSeparator();
    MenuFile->addAction(Action(C::Quit));

    MenuCopy = fill(bar->addMenu(QStringLiteral("&Kopieren")), "MenuCopy", {C::CopyDiagram, C::CopyTable, C::CopyInfo, C::CopyProtocol});
    MenuView = fill(bar->addMenu(QStringLiteral("&Ansicht")), "MenuView", {C::ShowDiagrams, C::ShowControls, C::ShowDB, separator,
                                                          C::NextList, C::PreviousList, C::Refresh});
    MenuDiagram = fill(bar->addMenu(QStringLiteral("Diagram&m")), "MenuDiagram",
                      {C::NewDiagram, C::OpenDiagram, C::SaveDiagram, C::CloseDiagram, C::CloseAllDiagrams, separator,
                       C::SetupDiagram, C::ZoomBack, C::ShowAll, C::DiagramLegend});
    MenuDatabase = fill(bar->addMenu(QStringLiteral("Date&nbank")), "MenuDatabase",
                       {C::GotoAkkus, C::Search, separator, C::NewAkku, C::DeleteAkku, C::History, separator,
                        C::DeleteService});
    MenuService = fill(bar->addMenu(QStringLiteral("&Service")), "MenuService",
                      {C::StartService, C::StopService, separator, C::Options, separator, C::Kestrix});
    MenuHelp = fill(bar->addMenu(QStringLiteral("&?")), "MenuHelp", {C::Info});
}

void TMainForm::AddButton(::Command command, int image, const char *name, const QString &tip)
{
    QAction *action = Action(command);
    action->setIcon(Artwork::ToolbarImage(image));
    action->setToolTip(tip);
    ToolBar1->addAction(action);
    if (QWidget *button = ToolBar1->widgetForAction(action))
        button->setObjectName(QLatin1String(name));
}

void TMainForm::BuildToolbar()
{
    using C = ::Command;
    AddButton(C::ShowDiagrams, 0, "ButtonShowDiagrams", QStringLiteral("Diagramme ein-/ausblenden"));
    AddButton(C::ShowControls, 1, "ButtonShowControls", QStringLiteral("Akku-Steuerung ein-/ausblenden"));
    AddButton(C::ShowDB, 2, "ButtonShowDB", QStringLiteral("Datenbank ein-/ausblenden"));
    ToolBar1->addSeparator();
    AddButton(C::NewDiagram, 3, "ButtonNewDiagram", QStringLiteral("neues Diagramm"));
    AddButton(C::OpenDiagram, 4, "ButtonOpenDiagram", QStringLiteral("Diagramm öffnen"));
    AddButton(C::SaveDiagram, 5, "ButtonSaveDiagram", QStringLiteral("Diagramm speichern"));
    AddButton(C::SetupDiagram, 6, "ButtonSetupDiagram", QStringLiteral("Diagramm-Einstellungen"));
    AddButton(C::ZoomBack, 8, "ButtonZoomBack", QStringLiteral("vorherige Ansicht"));
    AddButton(C::PrintDiagram, 9, "ButtonPrintDiagram", QStringLiteral("Diagramm drucken"));
    ToolBar1->addSeparator();
    AddButton(C::NewAkku, 10, "ButtonNewBattery", QStringLiteral("neuer Akku"));
    AddButton(C::Search, 12, "ButtonSearch", QStringLiteral("Suchen"));
    AddButton(C::PrintInfo, 13, "ButtonPrintInfo", QStringLiteral("Akkudaten drucken"));
    AddButton(C::StartService, 14, "ButtonStartService", QStringLiteral("Akku-Service starten"));
    AddButton(C::StopService, 15, "ButtonStopService", QStringLiteral("Akku-Service abbrechen"));
}

void TMainForm::AddAlias(QMenu *menu, ::Command command, const char *name, const QString &text)
{
    QAction *target = Action(command);
    auto *alias = new QAction(text, menu);
    alias->setObjectName(QLatin1String(name));
    const auto follow = [alias, target] { alias->setEnabled(target->isEnabled()); };
    follow();
    connect(target, &QAction::changed, alias, follow);
    connect(alias, &QAction::triggered, target, &QAction::trigger);
    menu->addAction(alias);
}

void TMainForm::BuildPopupMenus()
{
    using C = ::Command;
    auto popup = [this](const char *name) {
        auto *menu = new QMenu(this);
        menu->setObjectName(QLatin1String(name));
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateMenus);
        return menu;
    };
    // The context menus name a command in their own words where the main
    // menu's would not stand alone ("&Etikett" twice).
    PopupMenuAkkus = popup("PopupMenuAkkus");
    AddAlias(PopupMenuAkkus, C::StartService, "PopupMenuStartService", QStringLiteral("&Service starten..."));
    PopupMenuAkkus->addAction(Action(C::History));
    PopupMenuAkkus->addSeparator();
    AddAlias(PopupMenuAkkus, C::PrintInfo, "PopupMenuPrintInfo", QStringLiteral("&Etikett &drucken"));
    AddAlias(PopupMenuAkkus, C::CopyInfo, "PopupMenuCopyInfo", QStringLiteral("Ettikett &kopieren"));
    PopupMenuAkkus->addSeparator();
    PopupMenuAkkus->addAction(Action(C::DeleteAkku));

    PopupMenuServices = popup("PopupMenuServices");
    PopupMenuServices->addAction(Action(C::ShowVoltage));
    PopupMenuServices->addAction(Action(C::ShowCurrent));
    AddAlias(PopupMenuServices, C::ExportSamples, "PopupMenuExportSamples",
             QStringLiteral("Messwerte als &CSV exportieren..."));
    PopupMenuServices->addSeparator();
    AddAlias(PopupMenuServices, C::DeleteService, "PopupMenuDeleteService", QStringLiteral("Aufzeichnung &löschen"));

    PopupDiagrams = popup("PopupDiagrams");
    AddAlias(PopupDiagrams, C::CloseDiagram, "PopupMenuCloseDiagram", QStringLiteral("&Schließen"));
    AddAlias(PopupDiagrams, C::PrintDiagram, "PopupMenuPrintDiagram", QStringLiteral("&Drucken"));
    AddAlias(PopupDiagrams, C::PdfDiagram, "PopupMenuPdfDiagram", QStringLiteral("Als &PDF speichern..."));
    PopupDiagrams->addSeparator();
    PopupDiagrams->addAction(Action(C::DiagramCurveProps));
    PopupDiagrams->addAction(Action(C::DiagramScalaProps));
    PopupDiagrams->addAction(Action(C::DiagramPaintProps));
    AddAlias(PopupDiagrams, C::ShowAll, "PopupMenuShowAll", QStringLiteral("&Alles zeigen"));
    PopupDiagrams->addAction(Action(C::DiagramLegend));
}

