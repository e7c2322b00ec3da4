#pragma once

namespace Sim {

// Battery chemistries, numbered as on the wire (battery type byte).
enum class Chemistry { NiCd = 0, NiMH = 1, Lead = 2 };

Chemistry chemistryFromType(int batteryType);

// Per-cell voltage curves (V) over the state of charge (0..1). The charge
// curve takes the overcharge (fraction of the capacity put in beyond full),
// which makes a NiCd/NiMH cell's voltage fall after its peak (-dV).
double restCellVoltage(Chemistry chemistry, double stateOfCharge);
double dischargeCellVoltage(Chemistry chemistry, double stateOfCharge);
double chargeCellVoltage(Chemistry chemistry, double stateOfCharge, double overcharge);

// One battery on one charging channel: charge content, the running function
// (charge, discharge or rest) and its end criterion.
class BatteryModel {
public:
    enum class Function { Rest, Charge, Discharge };

    void configure(Chemistry chemistry, int cells, double capacityMah);
    void setStateOfCharge(double fraction);
    double stateOfCharge() const { return capacityMah_ > 0 ? chargeMah_ / capacityMah_ : 0.0; }
    double capacityMah() const { return capacityMah_; }

    void startFunction(Function function, double programmedCurrentMa);
    Function function() const { return function_; }

    // Runs the function for the given model time; true once its end
    // criterion was met (the battery then rests).
    bool advance(double seconds);

    int voltageMv() const;
    int currentMa() const;              // actual current of the running function
    double movedMah() const { return movedMah_; }

private:
    bool step(double seconds);
    double cellVoltage() const;

    Chemistry chemistry_ = Chemistry::NiMH;
    int cells_ = 1;
    double capacityMah_ = 1000;
    double chargeMah_ = 500;
    double overchargeMah_ = 0;
    Function function_ = Function::Rest;
    double programmedCurrentMa_ = 0;
    double actualCurrentMa_ = 0;
    double movedMah_ = 0;
    double peakCellVoltage_ = 0;
    bool leadConstantVoltage_ = false;
};

} // namespace Sim
