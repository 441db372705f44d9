#pragma once
// A collapsible group of setting rows under a title bar; the fold button's checked state is the
// folded state.
#include <QWidget>

namespace Ui {
class SettingItemBox;
}

class SettingItemBox : public QWidget {
    Q_OBJECT
public:
    explicit SettingItemBox(QWidget* parent = nullptr);
    ~SettingItemBox() override;

    void setTitle(const QString& title);
    QString title() const;
    void addItemWidget(QWidget* row);
    void insertItemWidget(QWidget* row, int index);
    void setFolded(bool folded);
    bool isFolded() const;
    // The rows in their shown order.
    QList<QWidget*> rows() const;
    // Offers "Restore defaults" in the title bar.
    void setRestoreDefaultsVisible(bool visible);

signals:
    void signalRestoreDefaults();

public slots:
    void on_pb_fold_clicked(bool checked);
    void on_pb_restore_defaults_clicked();

private:
    void applyFold(bool folded);

    Ui::SettingItemBox* ui;
};
