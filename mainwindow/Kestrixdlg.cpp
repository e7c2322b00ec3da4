#include "mainwindow/Kestrixdlg.h"

#include "database/Datamodule.h"
#include "treatment/TreatmentEngine.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TKestrixDialog::TKestrixDialog(TTreatmentEngine &engine, TBRASKDataModule &dataModule, QWidget *parent)
    : QDialog(parent), engine_(engine), data_(dataModule)
{
    setObjectName(QStringLiteral("KestrixDialog"));
    setWindowTitle(QStringLiteral("KESTRIX - Auslesen"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(312, 133);

    InfoText = new QLabel(this);
    InfoText->setObjectName(QStringLiteral("InfoText"));
    QFont bold = InfoText->font();
    bold.setBold(true);
    InfoText->setFont(bold);
    InfoText->setAlignment(Qt::AlignCenter);
    InfoText->setWordWrap(true);
    InfoText->setMinimumSize(270, 29);
    InfoText->hide();

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setFixedSize(270, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    ProgressBar->hide();

    auto *bottomPanel = new QFrame(this);
    bottomPanel->setObjectName(QStringLiteral("BottomPanel"));
    Button = new QPushButton(QStringLiteral("Abbrechen"), bottomPanel);
    Button->setObjectName(QStringLiteral("Button"));
    Button->setAutoDefault(false);
    auto *buttonRow = new QHBoxLayout(bottomPanel);
    buttonRow->addStretch();
    buttonRow->addWidget(Button);
    buttonRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(InfoText, 0, Qt::AlignHCenter);
    layout->addWidget(ProgressBar, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addWidget(bottomPanel);

    connect(Button, &QPushButton::clicked, this, &TKestrixDialog::ButtonClick);
    // Only the readout of a showing reports: the engine runs one at a time.
    connect(&engine_, &TTreatmentEngine::LoggerInfo, this, [this](int, const QString &text) {
        if (running_)
            ShowInfo(text);
    });
    connect(&engine_, &TTreatmentEngine::LoggerProgress, this, [this](int maximum, int position) {
        if (running_)
            ShowProgress(maximum, position);
    });
    connect(&engine_, &TTreatmentEngine::LoggerFinished, this, &TKestrixDialog::ReadoutFinished);
}

TKestrixDialog::~TKestrixDialog()
{
    if (running_)
        engine_.CancelLogger();
}

void TKestrixDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TKestrixDialog::FormShow()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    InfoText->hide();
    ProgressBar->hide();
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);

    // A previous readout has ended (the dialog closes only then).
    BatteryRecord battery;
    data_.ReadSelectedBattery(battery);
    running_ = true;
    stopAsked_ = false;
    position_ = 0;
    outcome_ = LoggerOutcome();
    engine_.ReadLogger(battery);
}

void TKestrixDialog::ButtonClick()
{
    if (!running_)
        return;
    stopAsked_ = true;
    engine_.CancelLogger();
}

void TKestrixDialog::ShowInfo(const QString &text)
{
    ProgressBar->hide();
    InfoText->show();
    InfoText->setText(text);
}

void TKestrixDialog::ShowProgress(int maximum, int position)
{
    position_ = position;
    InfoText->hide();
    ProgressBar->show();
    ProgressBar->setMaximum(maximum);
    ProgressBar->setValue(position);
}

void TKestrixDialog::ReadoutFinished(const LoggerOutcome &outcome)
{
    if (!running_)
        return;
    running_ = false;
    outcome_ = outcome;
    position_ = outcome.Position;
    done(outcome.Result == TKestrixReadout::ResultOK ? QDialog::Accepted : QDialog::Rejected);
}

void TKestrixDialog::reject()
{
    // Escape or the close box during a transfer stop it like "Abbrechen"; the
    // dialog closes with the readout's result once it has ended.
    if (running_) {
        ButtonClick();
        return;
    }
    QDialog::reject();
}

void TKestrixDialog::closeEvent(QCloseEvent *event)
{
    if (running_) {
        ButtonClick();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
