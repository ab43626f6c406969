// The window's forms place every control at a fixed pixel position, without
// a layout manager: one helper makes such a control.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

template <typename W> W *MakeControl(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    W *widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(QRect(x, y, w, h));
    return widget;
}
