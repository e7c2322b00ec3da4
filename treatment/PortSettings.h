#pragma once
// The user's settings file ($XDG_CONFIG_HOME/braskon/braskon.conf, shared by
// braskon and braskon-cli) and the port assignment COM1..COM9 kept in it.
// The assignment is handed to Ohmrida::SerialPorts, where the serial link
// reads it; BRASKON_COM<n> in the environment still overrides it there.

#include <QSettings>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <string>

namespace PortSettings {

std::unique_ptr<QSettings> OpenUserSettings();

// Group "ports", keys COM1..COM9; empty or missing keys mean no assignment.
std::map<int, std::string> Load(QSettings &settings);
void Save(QSettings &settings, const std::map<int, std::string> &devices);
// Load, then make it the process's assignment.
void Apply(QSettings &settings);

// "COM1=/dev/ttyUSB0" (also "1=/dev/ttyUSB0"): false with a German reason.
bool ParseAssignment(const QString &text, int &port, QString &device, QString &error);

// One German message per port whose device exists but may not be opened by
// this user (the dialout hint), in port order.
QStringList DeniedPortMessages();

} // namespace PortSettings
