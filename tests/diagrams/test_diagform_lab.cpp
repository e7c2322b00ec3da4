// The diagram window on a lab database (run only with BRASKON_TEST_PG): the
// curve of a treatment that another PC records grows from the stored samples
// as that PC writes them, while curves that this program feeds itself do not
// get the same points twice.

#include "tests/support/TestDatabase.h"
#include "diagrams/Diagform.h"
#include "tests/diagrams/WaitForCurves.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DiagramOnLabDatabase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!ServerDatabase::Available())
            GTEST_SKIP() << "BRASKON_TEST_PG is not set";
        server = std::make_unique<ServerDatabase>();
        here = std::make_unique<TBRASKDataModule>(server->url());
        here->FollowOtherPCs();
        otherPC = std::make_unique<RecordStore>(server->url());
        ownEngine = std::make_unique<RecordStore>(server->url());
        TBRASKDataModule::Battery battery;
        battery.ID = 1;
        battery.Capacity = 1000;
        otherPC->InsertBattery(battery);
        form = std::make_unique<TDiagramForm>(here.get());
        form->resize(600, 400);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Step 1 discharges, step 2 charges.
    int AddTreatment(RecordStore& writer)
    {
        TBRASKDataModule::Service service;
        service.BatteryID = 1;
        service.Program = 2;
        std::vector<StepRecord> steps{{0, 1, 0, 500, 0, 0, 0, 0}, {0, 2, 1, 100, 0, 0, 0, 0}};
        writer.InsertServiceWithSteps(service, steps);
        return service.ID;
    }

    // Recorded by `writer` on the station `host` (empty: this process).
    static void Register(RecordStore& writer, int serviceID, const QByteArray& host)
    {
        if (!host.isEmpty())
            qputenv("BRASKON_HOST", host);
        TBRASKDataModule::RunningTreatment running;
        running.ServiceID = serviceID;
        running.Terminal = QStringLiteral("Lumo an COM1");
        writer.RegisterRunning(running);
        qunsetenv("BRASKON_HOST");
    }

    std::vector<Curve::DataPoint> Points(int serviceID, int kind) const
    {
        const TDiagramForm::CurveKey* key = form->FindCurveKey(serviceID, kind);
        const Curve* curve = key ? form->Chart()->GetCurve(key->Name) : nullptr;
        return curve ? curve->Data : std::vector<Curve::DataPoint>{};
    }

    bool WaitForPoints(int serviceID, int kind, size_t count) const
    {
        return QTest::qWaitFor([&] { return Points(serviceID, kind).size() >= count; }, 5000);
    }
    bool WaitForLastTime(int serviceID, int kind, float time) const
    {
        return QTest::qWaitFor([&] {
            const auto points = Points(serviceID, kind);
            return !points.empty() && points.back().Time >= time;
        }, 5000);
    }

    std::unique_ptr<ServerDatabase> server;
    std::unique_ptr<TBRASKDataModule> here;
    std::unique_ptr<RecordStore> otherPC;
    std::unique_ptr<RecordStore> ownEngine;   // this program's own writer
    std::unique_ptr<TDiagramForm> form;
};

TEST_F(DiagramOnLabDatabase, CurveOfAnotherPCsTreatmentGrowsWithinTwoSeconds)
{
    const int treatment = AddTreatment(*otherPC);
    Register(*otherPC, treatment, "labor-pc-2");
    otherPC->InsertSample({treatment, 1, 0, 6000, 500, 0});
    otherPC->InsertSample({treatment, 1, 60, 5800, 500, 0});
    ASSERT_NE(form->AddServiceCurve(treatment, 0), nullptr);
    ASSERT_NE(form->AddServiceCurve(treatment, 1), nullptr);
    ASSERT_TRUE(CurvesLoaded(*form));
    ASSERT_EQ(Points(treatment, 0).size(), 2u);

    // Each write of the other PC reaches both curves within two seconds.
    struct Write
    {
        int step, time, voltage, current, phase;
    } const writes[] = {{1, 120, 5600, 500, 0}, {2, 180, 5900, 100, 1}, {2, 240, 6100, 100, 1}};
    size_t expected = 2;
    for (const Write& w : writes) {
        QElapsedTimer clock;
        clock.start();
        otherPC->InsertSample({treatment, w.step, w.time, w.voltage, w.current, 0});
        ++expected;
        ASSERT_TRUE(WaitForPoints(treatment, 0, expected)) << "after t=" << w.time;
        EXPECT_LT(clock.elapsed(), 2000) << "after t=" << w.time;
        ASSERT_TRUE(WaitForPoints(treatment, 1, expected));
        const Curve::DataPoint volts = Points(treatment, 0).back();
        EXPECT_EQ(std::make_tuple(volts.Time, volts.Phase, Points(treatment, 1).back().Value),
                  std::make_tuple(float(w.time), w.phase, float(w.current)));
        EXPECT_FLOAT_EQ(volts.Value, static_cast<float>(w.voltage) * 0.001f);
    }

    // A burst in one transaction comes whole, in order, once.
    QVector<Sample> burst;
    for (int i = 1; i <= 20; ++i)
        burst.append({treatment, 2, 240 + i * 10, 6100 + i, 100, 0});
    otherPC->InsertSamples(burst);
    ASSERT_TRUE(WaitForPoints(treatment, 0, expected + 20));
    // The last samples come just before the recorder leaves the registry.
    otherPC->InsertSample({treatment, 2, 600, 6400, 0, 0});
    otherPC->UnregisterRunning(treatment);
    ASSERT_TRUE(WaitForPoints(treatment, 0, expected + 21));

    // Rows that waited for the server on the other PC come after it ended.
    // Reports are read in order, so once this row is shown anything the
    // earlier ones brought is shown too.
    otherPC->InsertSample({treatment, 2, 610, 6390, 0, 0});
    ASSERT_TRUE(WaitForLastTime(treatment, 0, 610));

    // Nothing came twice: the curve holds exactly the stored samples, in order.
    const auto points = Points(treatment, 0);
    ASSERT_EQ(points.size(), expected + 22);
    for (size_t i = 1; i < points.size(); ++i)
        EXPECT_LT(points[i - 1].Time, points[i].Time) << i;
    EXPECT_FLOAT_EQ(points[expected + 20].Time, 600);
}

TEST_F(DiagramOnLabDatabase, OwnRunsAndOtherDiagramsAreLeftAlone)
{
    // One treatment this program records itself (its engine hands the points
    // over), one of another PC whose voltage this window does not show.
    const int own = AddTreatment(*ownEngine);
    Register(*ownEngine, own, QByteArray());
    const int foreign = AddTreatment(*otherPC);
    Register(*otherPC, foreign, "labor-pc-3");
    ownEngine->InsertSample({own, 1, 0, 6000, 500, 0});
    ASSERT_NE(form->AddServiceCurve(own, 0), nullptr);
    ASSERT_NE(form->AddServiceCurve(foreign, 1), nullptr);
    ASSERT_TRUE(CurvesLoaded(*form));

    // The own engine: store the sample, then hand it to the window.
    ownEngine->InsertSample({own, 1, 60, 5900, 500, 0});
    form->AddLiveSample(own, 0, 60, 5.9, 0);
    // The other PC's row, stored after the own one, marks the report that
    // would have brought the own row a second time.
    otherPC->InsertSample({foreign, 1, 30, 7000, 400, 0});
    ASSERT_TRUE(WaitForPoints(foreign, 1, 1));
    EXPECT_EQ(Points(own, 0).size(), 2u);
    EXPECT_EQ(form->FindCurveKey(foreign, 0), nullptr);

    // The other PC takes the own treatment over: its stored samples come from
    // the database from then on, without the rows shown already.
    Register(*otherPC, own, "labor-pc-3");
    otherPC->InsertSample({own, 2, 120, 6100, 100, 0});
    ASSERT_TRUE(WaitForPoints(own, 0, 3));
    otherPC->InsertSample({foreign, 1, 90, 7100, 400, 0});   // read after any repeat
    ASSERT_TRUE(WaitForPoints(foreign, 1, 2));
    const auto points = Points(own, 0);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(std::make_pair(points[2].Time, int(points[2].Phase)), std::make_pair(120.0f, 1));

    // A removed curve no longer follows; its treatment can be shown again whole.
    form->RemoveServiceCurve(form->FindCurveKey(own, 0)->Name);
    otherPC->InsertSample({own, 2, 180, 6150, 100, 0});
    ASSERT_NE(form->AddServiceCurve(own, 0), nullptr);
    ASSERT_TRUE(CurvesLoaded(*form));
    EXPECT_EQ(Points(own, 0).size(), 4u);
    otherPC->InsertSample({own, 2, 240, 6200, 100, 0});
    ASSERT_TRUE(WaitForPoints(own, 0, 5));
}

}  // namespace
