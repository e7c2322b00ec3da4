#include "ProgramFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTest>

#include <algorithm>

Program::Program()
    : braskon_(std::make_unique<TBraskon>(dir_.path(), dir_.filePath(QStringLiteral("log.txt")).toStdString()))
{
    Form().show();
    if (!QTest::qWaitForWindowExposed(&Form()))
        qWarning("main window not exposed");
    QCoreApplication::processEvents();
}

ModalDriver::ModalDriver()
{
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
    timer_.start();
}

int ModalDriver::Failures() const
{
    return int(std::count_if(messages.begin(), messages.end(), [](const Message &message) {
        return message.text == QStringLiteral("Ausführung fehlgeschlagen!") && message.caption == QStringLiteral("Fehler")
            && message.icon == QMessageBox::Critical;
    }));
}

void ModalDriver::Poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        messages.push_back({box->windowTitle(), box->text(), box->icon()});
        QAbstractButton *button = nullptr;
        if (!answers_.empty()) {
            button = box->button(answers_.front());
            answers_.pop_front();
        }
        if (!button)
            button = box->escapeButton() ? box->escapeButton() : box->buttons().value(0);
        if (button)
            button->click();
        else
            box->reject();
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        if (handlers_.empty()) {
            ++unexpectedDialogs;
            dialog->reject();
            return;
        }
        DialogHandler handler = std::move(handlers_.front());
        handlers_.pop_front();
        handler(dialog);
    }
}
