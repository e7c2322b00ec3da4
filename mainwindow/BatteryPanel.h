#pragma once
// The battery panel beside the lists: the selected battery's description,
// data and remarks. It shows the battery list's current row, and reports an
// edit of the remarks once, when the user leaves them or the list moves to
// another battery; the window has the engine write it.

#include <QFrame>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QueryModel;
class TBRASKDataModule;

// The remarks memo: a plain text field limited to 250 characters that reports
// when it loses the focus, so its edit reaches the battery row. It starts
// read-only; its text field is named after it with "Editor" appended.
class TDBMemo : public QWidget {
    Q_OBJECT
public:
    static constexpr int MaxLength = 250;
    explicit TDBMemo(const QString &name, QWidget *parent = nullptr);
    // The text field, which takes the focus: the memo's place in the Tab order.
    QWidget *TabStop() const;
    void SetReadOnly(bool readOnly);
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

class TBatteryPanel : public QFrame {
    Q_OBJECT
public:
    // Follows the current row of the data module's battery list; the data
    // module outlives the panel.
    explicit TBatteryPanel(TBRASKDataModule &database, QWidget *parent = nullptr);

    // The remarks' editor, last in the window's Tab order.
    QWidget *Remarks() const;
    // Reads the current battery again; remarks the user is still editing stay.
    void ShowCurrent();
    // Reports a pending edit of the remarks (once) and writes it into the
    // list's row, which shows it as typed until the stored row is read again.
    void CommitRemarks();

signals:
    // An edit of the remarks of a battery still in the list.
    void RemarksEdited(int batteryID, const QString &text);
    // The remarks lost the focus (a pending edit is committed then).
    void RemarksLeft();

private:
    TBRASKDataModule &database_;
    QLabel *DBTextBezeichnung;
    QWidget *BatteryDetails;   // everything below the description, shown with a battery
    QLabel *DBTextType, *DBTextCapacity, *DBTextCells, *DBTextForm, *DBTextVoltage;
    QWidget *MaxChargeLine;    // present, never shown
    QLabel *DBTextMaxCharge, *DBTextSelfDischarge;
    TDBMemo *DBMemoInfo;
    int memoBatteryID_ = 0;
    bool memoHasBattery_ = false;
};
