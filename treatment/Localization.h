#pragma once
// The program speaks German whatever the user's locale: Qt's own texts (file,
// print and message dialogs, command-line errors) come from Qt's German
// translation (Debian package qt6-translations-l10n) when it is installed.

class QCoreApplication;

// Installs qtbase_de on the application; false when the translation is missing.
bool InstallGermanQtTranslation(QCoreApplication &application);
