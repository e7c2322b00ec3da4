#include "TestDatabase.h"

#include <QLocale>

TEST(Texts, DurationsKeepSixteenBitHoursAndVoltagesTheLocalesSeparator)
{
    // Signs dropped below an hour; 40000 h wraps like the stored 16-bit field.
    const QList<std::pair<int, QString>> durations = {
        {59, "0:0:59"}, {3725, "1:2:5"}, {-61, "0:1:1"}, {-3725, "-1:2:5"}, {40000 * 3600, "-25536:0:0"}};
    for (const auto &[seconds, text] : durations)
        EXPECT_EQ(DurationText(seconds), text) << seconds;
    const QString separator = QLocale::system().decimalPoint();
    EXPECT_EQ(FloatText(NominalVoltage(6, 1)), "7" + separator + "2");
    EXPECT_EQ(FloatText(NominalVoltage(1000, 0)), "1200") << "no group separators";
    EXPECT_DOUBLE_EQ(NominalVoltage(3, 5), 3.6);   // unknown type: the NC/NMH cell voltage
}

using CalculatedFields = DatabaseTest;

TEST_F(CalculatedFields, BatteryAndStepRowsShowTheirTextsAndUnknownCodesQuestionMarks)
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
    module().ReopenBatteries(1);

    const int service = addService(1, 3, 2, 0);
    StepRecord result{service, 2, 0, 0, -61, 12, OK, 0};
    ASSERT_TRUE(module().StoreStepResult(result));
    module().ReopenSteps();
    const QueryModel *steps = module().SubServiceQuery();
    ASSERT_EQ(steps->rowCount(), 2);
    EXPECT_EQ(QStringList({steps->displayText(0, "F_FunctionString"), steps->displayText(0, "F_StateString"),
                           steps->displayText(1, "F_DurationString"), steps->displayText(1, "F_StateString")}),
              QStringList({"Laden", "folgt", "0:1:1", "OK"}));
    EXPECT_EQ(module().ServiceQuery()->displayText(0, "F_ProgramString"), "Entladen-Laden");
}
