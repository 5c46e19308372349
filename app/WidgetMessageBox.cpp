#include "WidgetMessageBox.h"

#include <QApplication>
#include <QMessageBox>

void WidgetMessageBox::show(const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Corvane"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}
