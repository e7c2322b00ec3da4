#include "TestDatabase.h"

#include <QLocale>

TEST(Texts, ProgramFunctionStateTypeAndFormTables)
{
    EXPECT_EQ(ProgramName(5), "2x Entladen-Laden");
    EXPECT_EQ(ProgramCode(5), "ELEL");
    EXPECT_EQ(ProgramName(7), QString::fromUtf8("\xC3\x9C" "berwintern"));
    EXPECT_EQ(ProgramName(10), "???");
    EXPECT_EQ(ProgramCode(-1), "???");
    EXPECT_EQ(FunctionName(Warten), "Warten");
    EXPECT_EQ(FunctionName(3), "???");
    EXPECT_EQ(StateName(Laeuft), QString::fromUtf8("l\xC3\xA4uft"));
    EXPECT_EQ(StateName(Fehler), "Fehler!");
    EXPECT_EQ(StateName(5), "???");
    EXPECT_EQ(TypeName(2), "Blei");
    EXPECT_EQ(TypeName(3), "???");
    EXPECT_EQ(FormName(0), "");
    EXPECT_EQ(FormName(5), "Mono");
    EXPECT_EQ(FormName(6), "");
    EXPECT_EQ(FirstFunction(3), Entladen);
    EXPECT_EQ(FirstFunction(4), Laden);
    EXPECT_EQ(FirstFunction(42), Laden);
}

TEST(Texts, DurationKeepsSixteenBitHoursAndDropsSigns)
{
    EXPECT_EQ(DurationText(0), "0:0:0");
    EXPECT_EQ(DurationText(59), "0:0:59");
    EXPECT_EQ(DurationText(3600), "1:0:0");
    EXPECT_EQ(DurationText(3725), "1:2:5");
    EXPECT_EQ(DurationText(36000), "10:0:0");
    EXPECT_EQ(DurationText(-61), "0:1:1");
    EXPECT_EQ(DurationText(-3725), "-1:2:5");
    // 40000 h does not fit 16 bits and wraps like the stored field would.
    EXPECT_EQ(DurationText(40000 * 3600), "-25536:0:0");
}

TEST(Texts, VoltageAndPercent)
{
    const QString separator = QLocale::system().decimalPoint();
    EXPECT_EQ(FloatText(NominalVoltage(6, 1)), "7" + separator + "2");
    EXPECT_EQ(FloatText(NominalVoltage(4, 2)), "8");
    EXPECT_EQ(FloatText(NominalVoltage(0, 0)), "0");
    EXPECT_EQ(FloatText(NominalVoltage(1000, 0)), "1200");   // no group separator
    EXPECT_DOUBLE_EQ(NominalVoltage(3, 5), 3.6);
    EXPECT_EQ(PercentText(0), "0%");
    EXPECT_EQ(PercentText(85), "85%");
    EXPECT_EQ(PercentText(-1), "???");
}

using CalculatedFields = DatabaseTest;

TEST_F(CalculatedFields, BatteryRowsShowVoltageTypeFormAndPercent)
{
    addBattery(1, 0, 0, 0);
    addBattery(2, 3, 5, 9);
    addBattery(3, 6, 1, 4);
    const QueryModel *list = module().BatteryQuery();
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(list->displayText(0, "F_Voltage"), "0");
    EXPECT_EQ(list->displayText(0, "F_FormString"), "");
    EXPECT_EQ(list->displayText(1, "F_TypeString"), "???");
    EXPECT_DOUBLE_EQ(list->value(1, "F_Voltage").toDouble(), 3.6);
    EXPECT_EQ(list->displayText(1, "F_FormString"), "");
    EXPECT_EQ(list->displayText(2, "F_FormString"), "Mignon");
    EXPECT_EQ(list->displayText(2, "F_MaxChargeString"), "???");
    EXPECT_EQ(list->displayText(2, "F_SelfDischargeString"), "???");

    module().ReopenBatteries(3);
    EXPECT_EQ(module().SelectedBatteryVoltage(), 7);
    TBRASKDataModule::Battery selected;
    module().ReadSelectedBattery(selected);
    EXPECT_EQ(selected.ID, 3);
    EXPECT_EQ(selected.MaxCharge, -1);
    EXPECT_EQ(selected.Info, "");
    EXPECT_EQ(selected.Date, QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

TEST_F(CalculatedFields, StepRowsAndTitles)
{
    addBattery(1);
    const int service = addService(1, 3, 2, 0);
    StepRecord result{service, 2, 0, 0, -61, 12, OK, 0};
    ASSERT_TRUE(module().StoreStepResult(result));
    module().ReopenSteps();
    const QueryModel *steps = module().SubServiceQuery();
    ASSERT_EQ(steps->rowCount(), 2);
    EXPECT_EQ(steps->displayText(0, "F_FunctionString"), "Laden");
    EXPECT_EQ(steps->displayText(0, "F_StateString"), "folgt");
    EXPECT_EQ(steps->displayText(1, "F_DurationString"), "0:1:1");
    EXPECT_EQ(steps->displayText(1, "F_StateString"), "OK");
    const auto title = [steps](const QString &column) {
        return steps->headerData(steps->columnIndex(column), Qt::Horizontal).toString();
    };
    EXPECT_EQ(title("F_Step"), "Schritt");
    EXPECT_EQ(title("F_Duration"), "Dauer (s)");
    EXPECT_EQ(title("F_DurationString"), "Dauer");
    EXPECT_EQ(title("F_ServiceID"), "F_ServiceID");
    const QueryModel *services = module().ServiceQuery();
    EXPECT_EQ(services->headerData(services->columnIndex("F_ProgramString"), Qt::Horizontal).toString(), "Programm");
    EXPECT_EQ(services->displayText(0, "F_ProgramString"), "Entladen-Laden");
}

TEST_F(CalculatedFields, EmptyListHasNoRowsAndNoCurrentValues)
{
    const QueryModel *list = module().BatteryQuery();
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_FALSE(list->currentValue("F_Voltage").isValid());
    EXPECT_EQ(module().SelectedBatteryID(), 0);
}
