// TKestrixDialog driven like a user: messages, progress, "Abbrechen", close box.
#include "KestrixFixture.h"
#include "Kestrixdlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

class KestrixDialogTest : public KestrixFixture {};

// The close box, or the logger unplugged, mid-transfer: either keeps exactly
// the values read. One dialog for both: its second showing starts a new readout.
TEST_F(KestrixDialogTest, CloseBoxAndUnplugDuringTransferKeepWhatWasRead)
{
    StartLogger(Phases({250, 250, 250, 250}));
    db.data->SetMinDeltaU(0);
    TKestrixDialog dialog(terminals, *db.data);
    int previousService = 0;
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged" : "close box");
        sim->control("plug 2");
        sim->control("clear 2");
        dialog.show();
        ASSERT_TRUE(WaitFor([&] {
            return dialog.ProgressBar->isVisible() && dialog.ProgressBar->value() >= 5
                && dialog.Thread()->ServiceID() != previousService;
        }));
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
        previousService = dialog.Thread()->ServiceID();
        EXPECT_EQ(int(Samples(previousService).size()), position);
    }
}
