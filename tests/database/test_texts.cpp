#include "TestDatabase.h"

#include <QLocale>

TEST(Texts, UnknownCodesShowQuestionMarks)
{
    EXPECT_EQ(ProgramName(7), QString::fromUtf8("\xC3\x9C" "berwintern"));
    EXPECT_EQ(StateName(Laeuft), QString::fromUtf8("l\xC3\xA4uft"));
    for (const QString &unknown : {ProgramName(10), ProgramCode(-1), FunctionName(3), StateName(5), TypeName(3)})
        EXPECT_EQ(unknown, "???");
    EXPECT_EQ(FormName(0), "");
    EXPECT_EQ(FormName(6), "");
    EXPECT_EQ(FirstFunction(3), Entladen);
    EXPECT_EQ(FirstFunction(42), Laden);
    EXPECT_EQ(PercentText(-1), "???");
}

TEST(Texts, DurationKeepsSixteenBitHoursAndDropsSigns)
{
    EXPECT_EQ(DurationText(59), "0:0:59");
    EXPECT_EQ(DurationText(3725), "1:2:5");
    EXPECT_EQ(DurationText(-61), "0:1:1");
    EXPECT_EQ(DurationText(-3725), "-1:2:5");
    // 40000 h does not fit 16 bits and wraps like the stored field would.
    EXPECT_EQ(DurationText(40000 * 3600), "-25536:0:0");
}

TEST(Texts, VoltageUsesTheLocalesSeparatorAndNoGroups)
{
    const QString separator = QLocale::system().decimalPoint();
    EXPECT_EQ(FloatText(NominalVoltage(6, 1)), "7" + separator + "2");
    EXPECT_EQ(FloatText(NominalVoltage(4, 2)), "8");
    EXPECT_EQ(FloatText(NominalVoltage(1000, 0)), "1200");
    EXPECT_DOUBLE_EQ(NominalVoltage(3, 5), 3.6);   // unknown type: the NC/NMH cell voltage
}

using CalculatedFields = DatabaseTest;

TEST_F(CalculatedFields, BatteryRowsShowVoltageTypeAndForm)
{
    const QueryModel *list = module().BatteryQuery();
    EXPECT_FALSE(list->currentValue("F_Voltage").isValid());   // empty list
    addBattery(1, 0, 0, 0);
    addBattery(2, 3, 5, 9);
    addBattery(3, 6, 1, 4);
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(list->displayText(0, "F_Voltage"), "0");
    EXPECT_EQ(list->displayText(1, "F_TypeString") + list->displayText(1, "F_FormString"), "???");
    EXPECT_EQ(list->displayText(2, "F_FormString") + list->displayText(2, "F_MaxChargeString"), "Mignon???");

    module().ReopenBatteries(3);
    EXPECT_EQ(module().SelectedBatteryVoltage(), 7);
    TBRASKDataModule::Battery selected;
    module().ReadSelectedBattery(selected);
    EXPECT_EQ(std::make_pair(selected.ID, selected.MaxCharge), std::make_pair(3, -1));
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
    // Fields without a title show their name.
    EXPECT_EQ(steps->headerData(steps->columnIndex("F_DurationString"), Qt::Horizontal).toString(), "Dauer");
    EXPECT_EQ(steps->headerData(steps->columnIndex("F_ServiceID"), Qt::Horizontal).toString(), "F_ServiceID");
    EXPECT_EQ(module().ServiceQuery()->displayText(0, "F_ProgramString"), "Entladen-Laden");
}
