// TKestrixDialog driven like a user: messages, progress, "Abbrechen", close box.
#include "tests/support/KestrixFixture.h"
#include "mainwindow/Kestrixdlg.h"

#include "treatment/TreatmentEngine.h"

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
    TTreatmentEngine engine(db.data->SharedStore(), std::string());
    engine.SetSamplingThresholds(0, 1);
    TKestrixDialog dialog(engine, *db.data);
    const auto *progress = dialog.findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    const auto *info = dialog.findChild<QLabel *>(QStringLiteral("InfoText"));
    auto *button = dialog.findChild<QPushButton *>(QStringLiteral("Button"));
    ASSERT_TRUE(progress && info && button);
    int previousService = 0;
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged" : "close box");
        sim->control("plug 2");
        sim->control("clear 2");
        dialog.show();
        ASSERT_TRUE(WaitFor([&] {
            return dialog.Running() && progress->isVisible() && progress->value() >= 5;
        }));
        if (unplug) {
            sim->control("unplug 2");
            ASSERT_TRUE(WaitFor([&] { return info->isVisible(); }, 30000));
            EXPECT_EQ(info->text(),
                      QStringLiteral("KESTRIX an COM2 antwortet nicht mehr: "
                                     "Auslesen nach %1 von 1000 Werten abgebrochen!")
                          .arg(dialog.Position()));
            EXPECT_TRUE(dialog.isVisible());   // until the user has read it
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            // One time-out per value from now on, so the close surely arrives mid-transfer.
            sim->control("fault 2 silent");
            EXPECT_FALSE(dialog.close());   // refused while the readout runs
            EXPECT_TRUE(dialog.StopAsked());
        }
        ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }));
        // The part read is a treatment to show.
        EXPECT_TRUE(!dialog.Running() && dialog.result() == QDialog::Accepted);
        const int position = dialog.Outcome().Position;
        EXPECT_LT(position, 1000);
        EXPECT_NE(dialog.Outcome().ServiceID, previousService);
        previousService = dialog.Outcome().ServiceID;
        EXPECT_EQ(int(Samples(previousService).size()), position);
    }
}
