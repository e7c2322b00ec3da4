// TKestrixDialog driven like a user: messages, progress, "Abbrechen", close box.
#include "KestrixFixture.h"
#include "Kestrixdlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

class KestrixDialogTest : public KestrixFixture {};

TEST_F(KestrixDialogTest, TransferClosesWithOk)
{
    StartLogger(RecordingFile::WithCounts({121, 61}));
    TKestrixDialog dialog(terminals, *db.data);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }, 30000));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.ProgressBar->maximum(), 182);
    EXPECT_EQ(dialog.ProgressBar->value(), 182);
    EXPECT_EQ(Step(dialog.Thread()->ServiceID(), 2).Capacity, 300);
}

TEST_F(KestrixDialogTest, MismatchShowsTheMessageUntilAbbrechen)
{
    RecordingFile recording = RecordingFile::WithCounts({121, 61});
    recording.capacity = 1100;
    StartLogger(recording, 1000);
    TKestrixDialog dialog(terminals, *db.data);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] {
        return dialog.InfoText->isVisible()
            && dialog.InfoText->text() == QStringLiteral("Aufzeichnung paßt nicht zum ausgewählten Akku!");
    }));
    EXPECT_FALSE(dialog.ProgressBar->isVisible());
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(dialog.Button, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(ServiceCount(battery), 0);

    // The dialog lives on; the next showing starts a new readout.
    sim->control("unplug 2");
    dialog.show();
    ASSERT_TRUE(WaitFor([&] {
        return dialog.InfoText->text()
            == QStringLiteral("KESTRIX nicht angeschlossen oder nicht bereit zum Auslesen!");
    }));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(KestrixDialogTest, CloseBoxDuringTransferStopsItCleanly)
{
    StartLogger(RecordingFile::WithCounts({250, 250, 250, 250}));
    db.data->SetMinDeltaU(0);
    TKestrixDialog dialog(terminals, *db.data);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return dialog.ProgressBar->isVisible() && dialog.ProgressBar->value() >= 5; }));
    // Slow the logger down to one time-out per value, so the close surely
    // arrives in the middle of the transfer.
    sim->control("fault 2 silent");
    EXPECT_FALSE(dialog.close());   // refused while the thread runs
    EXPECT_TRUE(dialog.Thread()->TerminationRequested());
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_TRUE(dialog.Thread()->isFinished());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);   // a cancelled transfer keeps its data
    const int position = dialog.Thread()->ProgressPosition();
    EXPECT_LT(position, 1000);
    EXPECT_EQ(int(Samples(dialog.Thread()->ServiceID()).size()), position);
}

TEST_F(KestrixDialogTest, UnpluggedLoggerIsShownAsAFailedReadout)
{
    StartLogger(RecordingFile::WithCounts({250, 250, 250, 250}));
    db.data->SetMinDeltaU(0);
    TKestrixDialog dialog(terminals, *db.data);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return dialog.ProgressBar->isVisible() && dialog.ProgressBar->value() >= 5; }));
    sim->control("unplug 2");
    ASSERT_TRUE(WaitFor([&] { return dialog.InfoText->isVisible(); }, 30000));
    const int read = dialog.Thread()->ProgressPosition();
    EXPECT_EQ(dialog.InfoText->text(),
              QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen nach %1 von 1000 Werten abgebrochen!").arg(read));
    EXPECT_TRUE(dialog.isVisible());   // until the user has read it
    QTest::mouseClick(dialog.Button, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);   // the part read is a treatment to show
    EXPECT_EQ(int(Samples(dialog.Thread()->ServiceID()).size()), read);
}
