#pragma once
// Frameless, always-on-top busy indicator with the waiting animation, centred on its parent.
// While it is shown it is modal, so no command reaches a reader that a load, cut or export is
// using; Escape does not close it, only the end of the work (finish()) or its Cancel button,
// which asks for the work to stop. It can show the percent done of that work.
#include <QDialog>
#include <QPointer>

class QMovie;

namespace Ui {
class WaitingWin;
}

class WaitingWin : public QDialog {
    Q_OBJECT
public:
    explicit WaitingWin(QWidget* parent = nullptr);
    ~WaitingWin() override;

    // Text under the animation; empty while no percent has been reported.
    QString progressText() const;

signals:
    void cancelRequested();

public slots:
    // Shows "percent%" (clamped to 0..100); a negative value clears the text.
    void setProgress(int percent);
    // Centres the window on its parent again when it is visible.
    void updatePosition();
    // Hides the window: the work it stood for has ended.
    void finish();
    // Shows the Cancel button (hidden by default, for work that cannot stop).
    void setCancelable(bool cancelable);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape: the work goes on, so the window stays.
    void reject() override {}

private:
    void centreOnParent();

    Ui::WaitingWin* ui;
    QMovie* movie;
    QPointer<QWidget> centreOn;
};
