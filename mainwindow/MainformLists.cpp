// The main window's three lists: each follows its query's current row and
// moves it, shows the data module's order and changes it by a click on a
// title, and answers the keys of the list commands.

#include "mainwindow/Mainform.h"

#include "mainwindow/GridColumns.h"
#include "mainwindow/SettingsWriter.h"

#include "database/Datamodule.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSettings>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableView>

QTableView *TMainForm::ActiveList() const
{
    const QWidget *page = DatabasePageControl->currentWidget();
    if (page == TabSheetAkkus)
        return BatteryDBGrid;
    if (page == TabSheetServices)
        return ServicesDBGrid;
    return SubServicesDBGrid;
}

void TMainForm::LinkView(QTableView *view, QueryModel *model)
{
    view->setModel(model);
    view->installEventFilter(this);
    connect(view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this, view](int section, Qt::SortOrder order) {
                RunCommand([this, view, section, order] { ListSortChanged(view, section, order); });
            });
    if (QMenu *popup = view == BatteryDBGrid ? PopupMenuAkkus : view == ServicesDBGrid ? PopupMenuServices : nullptr) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [view, popup](const QPoint &pos) { popup->popup(view->viewport()->mapToGlobal(pos)); });
    }
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

// ---- list keys and title clicks ---------------------------------------------------

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick && watched->objectName() == QLatin1String("Image1")) {
        RunCommand([this] { MenuInfoClick(); });
        return true;
    }
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
            if (Action(::Command::DeleteAkku)->isEnabled())
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
            if (Action(::Command::DeleteService)->isEnabled())
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

// The data module's list a view shows.
TBRASKDataModule::List ListOf(const TBRASKDataModule &database, const QTableView *view)
{
    if (view->model() == database.ServiceQuery())
        return TBRASKDataModule::List::Services;
    if (view->model() == database.SubServiceQuery())
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
    auto *model = static_cast<QueryModel *>(view->model());
    const TBRASKDataModule::List list = ListOf(*database_, view);
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
    for (QTableView *view : {BatteryDBGrid, ServicesDBGrid, SubServicesDBGrid}) {
        const auto *model = static_cast<const QueryModel *>(view->model());
        const TBRASKDataModule::List list = ListOf(*database_, view);
        const int section = model ? model->columnIndex(ShownColumn(*model, database_->SortColumn(list))) : -1;
        QHeaderView *header = view->horizontalHeader();
        const QSignalBlocker quiet(header);
        // The key order of a list without a visible key column shows no arrow.
        header->setSortIndicator(section >= 0 && !view->isColumnHidden(section) ? section : -1,
                                 database_->SortOrder(list));
    }
}

