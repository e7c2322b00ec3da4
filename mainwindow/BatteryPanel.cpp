#include "mainwindow/BatteryPanel.h"

#include "mainwindow/GridColumns.h"

#include "database/Datamodule.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

TDBMemo::TDBMemo(const QString &name, QWidget *parent)
    : QWidget(parent)
    , editor_(new QPlainTextEdit(this))
{
    setObjectName(name);
    editor_->setObjectName(name + QLatin1String("Editor"));
    editor_->setReadOnly(true);
    editor_->setStyleSheet(QStringLiteral("QPlainTextEdit:focus { border: 2px solid palette(highlight); }"));
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

QWidget *TDBMemo::TabStop() const
{
    return editor_;
}

void TDBMemo::SetReadOnly(bool readOnly)
{
    editor_->setReadOnly(readOnly);
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

TBatteryPanel::TBatteryPanel(TBRASKDataModule &database, QWidget *parent)
    : QFrame(parent)
    , database_(database)
{
    setObjectName(QStringLiteral("BatteryPanel"));
    setFixedWidth(300);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);

    DBTextBezeichnung = new QLabel(this);
    DBTextBezeichnung->setObjectName(QStringLiteral("DBTextBezeichnung"));
    QFont bold = DBTextBezeichnung->font();
    bold.setBold(true);
    bold.setPointSize(10);
    DBTextBezeichnung->setFont(bold);
    layout->addWidget(DBTextBezeichnung);

    // Without a battery the panel stays empty instead of showing units and
    // captions without values.
    BatteryDetails = new QWidget(this);
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
    DBMemoInfo = new TDBMemo(QStringLiteral("DBMemoInfo"), BatteryDetails);
    connect(DBMemoInfo, &TDBMemo::focusLeft, this, &TBatteryPanel::RemarksLeft);
    details->addWidget(DBMemoInfo, 1);

    QueryModel *batteries = database_.BatteryQuery();
    connect(batteries, &QueryModel::currentRowChanged, this, &TBatteryPanel::ShowCurrent);
    connect(batteries, &QAbstractItemModel::modelReset, this, &TBatteryPanel::ShowCurrent);
    connect(batteries, &QAbstractItemModel::dataChanged, this, &TBatteryPanel::ShowCurrent);
    ShowCurrent();
}

QWidget *TBatteryPanel::Remarks() const
{
    return DBMemoInfo->TabStop();
}

void TBatteryPanel::ShowCurrent()
{
    QueryModel &batteries = *database_.BatteryQuery();
    const int row = batteries.currentRow();
    const bool hasBattery = row >= 0 && row < batteries.rowCount();
    auto field = [&](const char *name) {
        return hasBattery ? GridColumns::DisplayText(batteries, row, QLatin1String(name)) : QString();
    };
    DBTextBezeichnung->setText(field("F_Brand"));
    DBTextType->setText(field("F_TypeString"));
    DBTextCapacity->setText(field("F_Capacity"));
    DBTextCells->setText(field("F_Cells"));
    DBTextForm->setText(field("F_FormString"));
    DBTextVoltage->setText(field("F_Voltage"));
    DBTextMaxCharge->setText(field("F_MaxChargeString"));
    DBTextSelfDischarge->setText(field("F_SelfDischargeString"));

    const int id = hasBattery ? batteries.value(row, QStringLiteral("F_ID")).toInt() : 0;
    // An edit of another battery's remarks is written before they are replaced.
    if (DBMemoInfo->Modified() && (!hasBattery || id != memoBatteryID_))
        CommitRemarks();
    if (DBMemoInfo->Modified() && hasBattery && id == memoBatteryID_)
        return;   // the user is still editing this battery's remarks
    memoHasBattery_ = hasBattery;
    memoBatteryID_ = id;
    DBMemoInfo->SetText(hasBattery ? batteries.value(row, QStringLiteral("F_Info")).toString() : QString());
    DBMemoInfo->SetReadOnly(!hasBattery || database_.IsReadOnly());
    BatteryDetails->setVisible(hasBattery);
}

void TBatteryPanel::CommitRemarks()
{
    if (!DBMemoInfo->Modified())
        return;
    // Cleared first: a failing write must not be retried by every later command.
    DBMemoInfo->SetModified(false);
    if (!memoHasBattery_)
        return;
    const QString text = DBMemoInfo->Text().left(TDBMemo::MaxLength);
    // The memo may show another battery as soon as the list changes.
    const int batteryID = memoBatteryID_;
    QueryModel &batteries = *database_.BatteryQuery();
    for (int row = 0; row < batteries.rowCount(); ++row) {
        if (batteries.value(row, QStringLiteral("F_ID")).toInt() != batteryID)
            continue;
        emit RemarksEdited(batteryID, text);
        batteries.SetCell(row, QStringLiteral("F_Info"), text);
        return;
    }
}
