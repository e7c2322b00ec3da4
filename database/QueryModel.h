#pragma once
// A list query that Qt item views show directly: the rows of one SQL SELECT
// (values bound, never spliced), the calculated columns of each row, column
// titles, a current row that views and the owner keep in step, and
// notifications when the current row or the rows change. Lives on the thread
// that created it (the window thread) and is used only there; that thread's
// connection runs the query, and the rows are held in memory so no read
// transaction stays open. The rows are read-only: changes go to the writer
// (the treatment engine), and the list reads them again afterwards.

#include <QAbstractTableModel>
#include <QHash>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

class SqlStore;

class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Calculates the calculated columns of one row from its stored values.
    using Calculator = std::function<QVariantList(const QSqlRecord &stored)>;
    // Turns a stored value into its display form (dates, times); may be empty.
    using Renderer = std::function<QVariant(const QString &column, const QVariant &stored)>;

    struct Definition {
        QStringList calculatedColumns;
        Calculator calculate;
        Renderer render;
        QHash<QString, QString> titles;   // column name -> header title
    };

    QueryModel(SqlStore &store, Definition definition, QObject *parent = nullptr);

    // SQL text as lines (joined), values bound to its placeholders.
    void setSql(const QStringList &lines, const QVariantList &bindings = {});
    QString sql() const;

    void open();     // runs the query; current row = first row (or -1 when empty)
    void close();    // no rows, not open
    bool isOpen() const;
    bool isEmpty() const;

    int currentRow() const;
    bool first();
    bool next();     // false at the end
    bool last();
    void setCurrentRow(int row);   // what a view's selection calls

    int columnIndex(const QString &column) const;
    QString columnName(int column) const;
    // Raw value (stored or calculated, undisplayed) of the current row; invalid
    // when there is none.
    QVariant currentValue(const QString &column) const;
    QVariant value(int row, const QString &column) const;
    // Shows a value the writer is about to store (an edit of the remarks)
    // until the next read; nothing is written here.
    void SetCell(int row, const QString &column, const QVariant &value);
    // The column's text as views show it (dates, calculated texts, voltages).
    QString displayText(int row, const QString &column) const;

    // Suspend and resume the bound views while the owner re-reads: changes made
    // meanwhile reach the views as one reset and one current-row notice (its
    // receivers may re-read their own lists, and fail). A re-read that failed
    // resumes with `notify` false: the notice is dropped, nothing is thrown.
    void disableControls();
    void enableControls(bool notify = true);
    bool controlsDisabled() const;

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    // The current row changed (moved, re-read, opened, closed): the data link.
    void currentRowChanged(int row);
    // A move of the current row finished.
    void afterScroll();

private:
    void notifyCurrent();
    void resetRows(QVector<QVariantList> rows, QStringList columns, bool open);

    SqlStore &store_;
    Definition definition_;
    QStringList sqlLines_;
    QVariantList bindings_;

    QStringList columns_;    // stored columns, then calculated ones
    int storedColumnCount_ = 0;
    QVector<QVariantList> rows_;
    int current_ = -1;
    bool open_ = false;

    int disableCount_ = 0;
    bool pendingCurrentNotice_ = false;
};
