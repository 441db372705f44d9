#pragma once
// Stands in for the window's checkable play button: setChecked emits toggled only on a change.
#include <QObject>

class PlayButton : public QObject {
    Q_OBJECT
public:
    bool checked = false;
    void setChecked(bool on)
    {
        if (on == checked)
            return;
        checked = on;
        emit toggled(on);
    }
signals:
    void toggled(bool on);
};
