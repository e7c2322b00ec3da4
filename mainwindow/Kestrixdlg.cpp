#include "Kestrixdlg.h"

#include "ReadKestrixThread.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TKestrixDialog::TKestrixDialog(Ohmrida::TerminalManager &terminals, TBRASKDataModule &data, QWidget *parent)
    : QDialog(parent), terminals_(terminals), data_(data)
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
}

TKestrixDialog::~TKestrixDialog()
{
    // The thread's destructor asks it to stop and waits for it.
    thread_.reset();
}

bool TKestrixDialog::ThreadRunning() const
{
    // Until its end has been handled: the thread may have finished while the
    // notice is still queued, and the dialog must close with its result.
    return thread_ && !endHandled_;
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

    // A previous thread has ended (the dialog closes only then).
    thread_ = std::make_unique<TReadKestrixThread>(terminals_, data_);
    endHandled_ = false;
    TReadKestrixThread *thread = thread_.get();
    connect(thread, &TReadKestrixThread::ShowInfo, this, &TKestrixDialog::ShowInfo, Qt::QueuedConnection);
    connect(thread, &TReadKestrixThread::ShowProgress, this, &TKestrixDialog::ShowProgress,
            Qt::QueuedConnection);
    connect(thread, &QThread::finished, this, &TKestrixDialog::ThreadFinished, Qt::QueuedConnection);
    thread->start();
}

void TKestrixDialog::ButtonClick()
{
    if (thread_)
        thread_->RequestTermination();
}

void TKestrixDialog::ShowInfo(int messageIndex)
{
    ProgressBar->hide();
    InfoText->show();
    // A failed readout names how far it got; the counts are final by then.
    const TReadKestrixThread *thread = thread_.get();
    InfoText->setText(thread ? TReadKestrixThread::MessageText(messageIndex, thread->ProgressPosition(),
                                                               thread->ProgressMax())
                             : TReadKestrixThread::MessageText(messageIndex));
}

void TKestrixDialog::ShowProgress(int maximum, int position)
{
    InfoText->hide();
    ProgressBar->show();
    ProgressBar->setMaximum(maximum);
    ProgressBar->setValue(position);
}

void TKestrixDialog::ThreadFinished()
{
    if (!thread_ || sender() != thread_.get())
        return;
    thread_->wait();
    endHandled_ = true;
    done(thread_->ResultCode() == TReadKestrixThread::ResultOK ? QDialog::Accepted : QDialog::Rejected);
}

void TKestrixDialog::reject()
{
    // Escape or the close box during a transfer stop it like "Abbrechen"; the
    // dialog closes with the thread's result once the thread has ended.
    if (ThreadRunning()) {
        ButtonClick();
        return;
    }
    QDialog::reject();
}

void TKestrixDialog::closeEvent(QCloseEvent *event)
{
    if (ThreadRunning()) {
        ButtonClick();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
