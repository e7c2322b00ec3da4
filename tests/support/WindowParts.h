#pragma once
// A named part of a window or dialog (a list, a field, the timer), found by
// its object name; the test stops at once with the name when there is none.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>
#include <QtGlobal>

template <class T>
T *Part(const QObject &window, const char *name)
{
    T *part = window.findChild<T *>(QLatin1String(name));
    if (!part)
        qFatal("%s has no %s named %s", qPrintable(window.objectName()), T::staticMetaObject.className(), name);
    return part;
}
