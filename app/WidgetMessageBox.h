#pragma once

#include "MessageBox.h"

// The program's message box: modal, one OK button, no icon, titled "Corvane".
class WidgetMessageBox final : public MessageBox {
public:
    void show(const QString &text) override;
};
