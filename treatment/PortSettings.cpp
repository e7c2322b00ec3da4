#include "treatment/PortSettings.h"

#include "charger/SerialPorts.h"

#include "database/DataLocation.h"

#include <QRegularExpression>

namespace PortSettings {

namespace {

QString key(int port)
{
    return QStringLiteral("ports/COM%1").arg(port);
}

} // namespace

std::unique_ptr<QSettings> OpenUserSettings()
{
    // One file for the ports and the database choice.
    return DataLocation::OpenUserSettings();
}

std::map<int, std::string> Load(QSettings &settings)
{
    std::map<int, std::string> devices;
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const QString device = settings.value(key(port)).toString().trimmed();
        if (!device.isEmpty())
            devices[port] = device.toStdString();
    }
    return devices;
}

void Save(QSettings &settings, const std::map<int, std::string> &devices)
{
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const auto found = devices.find(port);
        if (found == devices.end() || found->second.empty())
            settings.remove(key(port));
        else
            settings.setValue(key(port), QString::fromStdString(found->second));
    }
    settings.sync();
}

void Apply(QSettings &settings)
{
    Ohmrida::SerialPorts::AssignAll(Load(settings));
}

bool ParseAssignment(const QString &text, int &port, QString &device, QString &error)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:COM)?([1-9])=(.+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch()) {
        error = QStringLiteral("--port erwartet COMn=GER\u00c4T mit n von 1 bis 9, z. B. COM1=/dev/ttyUSB0: %1")
                    .arg(text);
        return false;
    }
    port = match.captured(1).toInt();
    device = match.captured(2).trimmed();
    return true;
}

QStringList DeniedPortMessages()
{
    QStringList messages;
    for (int port = Ohmrida::SerialPorts::FirstPort; port <= Ohmrida::SerialPorts::LastPort; ++port) {
        const std::string device = Ohmrida::SerialPorts::Resolve(port).device;
        if (Ohmrida::SerialPorts::CheckAccess(device) == Ohmrida::SerialPorts::Access::Denied)
            messages << QString::fromStdString(Ohmrida::SerialPorts::DeniedMessage(port, device));
    }
    return messages;
}

} // namespace PortSettings
