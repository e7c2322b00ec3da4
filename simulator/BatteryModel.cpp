#include "simulator/BatteryModel.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace Sim {

namespace {

struct CurvePoint { double soc; double volts; };

double interpolate(const CurvePoint* begin, const CurvePoint* end, double soc)
{
    soc = std::clamp(soc, 0.0, 1.0);
    for (const CurvePoint* p = begin; p + 1 < end; ++p) {
        const CurvePoint& a = p[0];
        const CurvePoint& b = p[1];
        if (soc <= b.soc)
            return a.volts + (b.volts - a.volts) * (soc - a.soc) / (b.soc - a.soc);
    }
    return (end - 1)->volts;
}

// Discharge curves, ascending state of charge.
constexpr CurvePoint nickelDischarge[] = {
    {0.00, 0.90}, {0.02, 1.02}, {0.05, 1.08}, {0.10, 1.13}, {0.20, 1.17},
    {0.50, 1.21}, {0.80, 1.24}, {0.95, 1.28}, {1.00, 1.36}};
constexpr CurvePoint leadDischarge[] = {
    {0.00, 1.60}, {0.02, 1.76}, {0.05, 1.82}, {0.10, 1.88}, {0.20, 1.93},
    {0.50, 1.98}, {0.80, 2.02}, {1.00, 2.08}};

// Internal resistance per cell, ohm: the voltage under load moves by I*R.
double cellResistance(Chemistry chemistry) { return chemistry == Chemistry::Lead ? 0.01 : 0.03; }

// End of discharge, V per cell.
double cutOffVoltage(Chemistry chemistry) { return chemistry == Chemistry::Lead ? 1.75 : 1.00; }

// -dV that ends a nickel charge, V per cell.
double deltaPeakVoltage(Chemistry chemistry) { return chemistry == Chemistry::NiCd ? 0.010 : 0.005; }

constexpr double leadAbsorptionVoltage = 2.40;
constexpr double leadTaperEnd = 0.10;          // charge ends below a tenth of the programmed current
constexpr double safetyChargeFactor = 1.6;     // no charge moves more than 160 % of the capacity

} // namespace

Chemistry chemistryFromType(int batteryType)
{
    switch (batteryType) {
    case 0: return Chemistry::NiCd;
    case 2: return Chemistry::Lead;
    default: return Chemistry::NiMH;
    }
}

double restCellVoltage(Chemistry chemistry, double soc)
{
    soc = std::clamp(soc, 0.0, 1.0);
    return chemistry == Chemistry::Lead ? 1.95 + 0.17 * soc : 1.22 + 0.12 * soc;
}

double dischargeCellVoltage(Chemistry chemistry, double soc)
{
    if (chemistry == Chemistry::Lead)
        return interpolate(std::begin(leadDischarge), std::end(leadDischarge), soc);
    return interpolate(std::begin(nickelDischarge), std::end(nickelDischarge), soc);
}

double chargeCellVoltage(Chemistry chemistry, double soc, double overcharge)
{
    soc = std::clamp(soc, 0.0, 1.0);
    if (chemistry == Chemistry::Lead) {
        const double x = soc / 0.85;
        return std::min(leadAbsorptionVoltage, 2.05 + 0.35 * x * x);
    }
    double v = soc <= 0.9 ? 1.30 + 0.11 * soc / 0.9 : 1.41 + 0.9 * (soc - 0.9);
    // Past full the cell warms up and its voltage sinks: the -dV a charger watches for.
    return v - 0.5 * std::max(0.0, overcharge);
}

void BatteryModel::configure(Chemistry chemistry, int cells, double capacityMah)
{
    const double soc = stateOfCharge();
    chemistry_ = chemistry;
    cells_ = std::max(1, cells);
    capacityMah_ = capacityMah > 0 ? capacityMah : 1000.0;
    chargeMah_ = soc * capacityMah_;
}

void BatteryModel::setStateOfCharge(double fraction)
{
    chargeMah_ = std::clamp(fraction, 0.0, 1.0) * capacityMah_;
    overchargeMah_ = 0;
}

void BatteryModel::startFunction(Function function, double programmedCurrentMa)
{
    function_ = function;
    programmedCurrentMa_ = std::max(0.0, programmedCurrentMa);
    actualCurrentMa_ = function == Function::Rest ? 0.0 : programmedCurrentMa_;
    movedMah_ = 0;
    overchargeMah_ = 0;
    peakCellVoltage_ = 0;
    leadConstantVoltage_ = false;
}

bool BatteryModel::advance(double seconds)
{
    // Small steps keep the -dV and taper detection close to the curve.
    while (seconds > 0 && function_ != Function::Rest) {
        const double dt = std::min(seconds, 1.0);
        seconds -= dt;
        if (step(dt)) {
            function_ = Function::Rest;
            actualCurrentMa_ = 0;
            return true;
        }
    }
    return false;
}

bool BatteryModel::step(double dt)
{
    const double hours = dt / 3600.0;
    if (function_ == Function::Discharge) {
        const double moved = std::min(chargeMah_, programmedCurrentMa_ * hours);
        chargeMah_ -= moved;
        movedMah_ += moved;
        return cellVoltage() <= cutOffVoltage(chemistry_) || chargeMah_ <= 0;
    }

    // Charging.
    if (chemistry_ == Chemistry::Lead) {
        const double soc = stateOfCharge();
        const double loadedVoltage = chargeCellVoltage(chemistry_, soc, 0)
            + programmedCurrentMa_ / 1000.0 * cellResistance(chemistry_);
        if (!leadConstantVoltage_ && loadedVoltage >= leadAbsorptionVoltage)
            leadConstantVoltage_ = true;
        actualCurrentMa_ = leadConstantVoltage_
            ? programmedCurrentMa_ * std::clamp((1.0 - soc) / 0.15, 0.0, 1.0)
            : programmedCurrentMa_;
        const double moved = actualCurrentMa_ * hours;
        chargeMah_ = std::min(capacityMah_, chargeMah_ + moved);
        movedMah_ += moved;
        return (leadConstantVoltage_ && actualCurrentMa_ < programmedCurrentMa_ * leadTaperEnd)
            || movedMah_ > safetyChargeFactor * capacityMah_;
    }

    const double moved = programmedCurrentMa_ * hours;
    const double room = capacityMah_ - chargeMah_;
    chargeMah_ += std::min(room, moved);
    overchargeMah_ += std::max(0.0, moved - room);
    movedMah_ += moved;
    const double v = cellVoltage();
    peakCellVoltage_ = std::max(peakCellVoltage_, v);
    return v <= peakCellVoltage_ - deltaPeakVoltage(chemistry_)
        || movedMah_ > safetyChargeFactor * capacityMah_;
}

double BatteryModel::cellVoltage() const
{
    const double soc = stateOfCharge();
    const double drop = actualCurrentMa_ / 1000.0 * cellResistance(chemistry_);
    switch (function_) {
    case Function::Charge:
        // A lead charger never lets the cell voltage exceed the absorption voltage.
        if (chemistry_ == Chemistry::Lead)
            return leadConstantVoltage_ ? leadAbsorptionVoltage
                                        : std::min(leadAbsorptionVoltage, chargeCellVoltage(chemistry_, soc, 0) + drop);
        return chargeCellVoltage(chemistry_, soc, overchargeMah_ / capacityMah_) + drop;
    case Function::Discharge:
        return dischargeCellVoltage(chemistry_, soc) - drop;
    case Function::Rest:
        break;
    }
    return restCellVoltage(chemistry_, soc);
}

int BatteryModel::voltageMv() const
{
    return static_cast<int>(std::lround(cellVoltage() * cells_ * 1000.0));
}

int BatteryModel::currentMa() const
{
    return static_cast<int>(std::lround(actualCurrentMa_));
}

} // namespace Sim
