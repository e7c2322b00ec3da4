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
