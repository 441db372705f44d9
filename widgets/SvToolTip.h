#pragma once
// Hover tooltip of one target widget: shown 2 s after the pointer enters the target, for at most
// 3 s, and hidden 0.3 s after the pointer leaves it.
#include <QBasicTimer>
#include <QDialog>
#include <QPointer>

class QLabel;

class SvToolTip : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int x_offset READ xOffset WRITE setXOffset NOTIFY xOffsetChanged)
    Q_PROPERTY(int y_offset READ yOffset WRITE setYOffset NOTIFY yOffsetChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment NOTIFY alignmentChanged)
public:
    // Where the tooltip stands relative to its target.
    enum Position {
        CentredAbove = 0,
        AboveLeft = 2,
    };

    SvToolTip(const QString& text, int position, QWidget* parent = nullptr);

    void setTarget(QWidget* target);
    QWidget* target() const { return targetWidget; }

    int xOffset() const { return x_offset; }
    void setXOffset(int offset);
    int yOffset() const { return y_offset; }
    void setYOffset(int offset);
    QString text() const;
    void setText(const QString& text);
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);

    bool isShowPending() const { return showTimer.isActive(); }

signals:
    void xOffsetChanged(int offset);
    void yOffsetChanged(int offset);
    void textChanged(const QString& text);
    void alignmentChanged(Qt::Alignment alignment);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QLabel* label;
    QPointer<QWidget> targetWidget;
    int position;
    int x_offset = 0;
    int y_offset = 0;
    QBasicTimer showTimer;
    QBasicTimer hideTimer;
};
