// TKestrixDialog driven like a user: messages, progress, "Abbrechen", close box.
#include "KestrixFixture.h"
#include "Kestrixdlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

class KestrixDialogTest : public KestrixFixture {};

TEST_F(KestrixDialogTest, MismatchShowsTheMessageUntilAbbrechen)
{
    StartLogger(Phases({121, 61}), 1100);
    TKestrixDialog dialog(terminals, *db.data);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] {
        return dialog.InfoText->isVisible()
            && dialog.InfoText->text() == QStringLiteral("Aufzeichnung paßt nicht zum ausgewählten Akku!");
    }));
    EXPECT_TRUE(!dialog.ProgressBar->isVisible() && dialog.isVisible());
    QTest::mouseClick(dialog.Button, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(ServiceCount(battery), 0);

    // The dialog lives on; the next showing starts a new readout.
    sim->control("unplug 2");
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return dialog.InfoText->text().startsWith(QStringLiteral("KESTRIX nicht angeschlossen")); }));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
}

// The close box, or the logger unplugged, mid-transfer: either keeps exactly the values read.
TEST_F(KestrixDialogTest, CloseBoxAndUnplugDuringTransferKeepWhatWasRead)
{
    StartLogger(Phases({250, 250, 250, 250}));
    db.data->SetMinDeltaU(0);
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged" : "close box");
        sim->control("plug 2");
        sim->control("clear 2");
        TKestrixDialog dialog(terminals, *db.data);
        dialog.show();
        ASSERT_TRUE(WaitFor([&] { return dialog.ProgressBar->isVisible() && dialog.ProgressBar->value() >= 5; }));
        if (unplug) {
            sim->control("unplug 2");
            ASSERT_TRUE(WaitFor([&] { return dialog.InfoText->isVisible(); }, 30000));
            EXPECT_EQ(dialog.InfoText->text(),
                      QStringLiteral("KESTRIX antwortet nicht mehr: Auslesen nach %1 von 1000 Werten abgebrochen!")
                          .arg(dialog.Thread()->ProgressPosition()));
            EXPECT_TRUE(dialog.isVisible());   // until the user has read it
            QTest::mouseClick(dialog.Button, Qt::LeftButton);
        } else {
            // One time-out per value from now on, so the close surely arrives mid-transfer.
            sim->control("fault 2 silent");
            EXPECT_FALSE(dialog.close());   // refused while the thread runs
            EXPECT_TRUE(dialog.Thread()->TerminationRequested());
        }
        ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
        // The part read is a treatment to show.
        EXPECT_TRUE(dialog.Thread()->isFinished() && dialog.result() == QDialog::Accepted);
        const int position = dialog.Thread()->ProgressPosition();
        EXPECT_LT(position, 1000);
        EXPECT_EQ(int(Samples(dialog.Thread()->ServiceID()).size()), position);
    }
}
