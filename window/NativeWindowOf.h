#pragma once

#include "platform/NativeWindow.h"

#include <QWidget>

namespace vorn {

// The platform layer's name of the top-level window that holds `widget`; 0 for no widget and
// while that window has not been created (the platform's window operations then do nothing).
inline platform::NativeWindow NativeWindowOf(const QWidget* widget) {
    if (!widget)
        return 0;
    const QWidget* top = widget->window();
    if (!top->testAttribute(Qt::WA_WState_Created))
        return 0;
    return static_cast<platform::NativeWindow>(top->winId());
}

}  // namespace vorn
