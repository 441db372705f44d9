#pragma once
// The display settings: accumulation time (how long events are summed into one image) and slow
// rate (playback speed factor on a base of 30 frames per second). A typed text counts when it is
// finished (Enter or the focus leaving), a pick from the list at once. Texts that do not read are
// marked red and not reported; the last reported value stays in force.
#include <QWidget>

#include <cstdint>

namespace Ui {
class SettingDisplayItem;
}

class SettingDisplayItem : public QWidget {
    Q_OBJECT
public:
    explicit SettingDisplayItem(QWidget* parent = nullptr);
    ~SettingDisplayItem() override;

    void setSlowRateEnabled(bool enabled);

    // "5" -> "5ms": a text without "ms" or "us" is read as milliseconds.
    static QString normaliseAccumulationTime(const QString& text);
    // Microseconds of a normalised text; 0 when it does not read.
    static uint64_t parseAccumulationTime(const QString& text);
    static bool isValidAccumulationTime(uint64_t time_us);
    // The frames per second reported for a slow-rate text, or -1 when the text is refused.
    static int slowRateFps(const QString& text);

signals:
    void signalCumulativeTimeChanged(uint64_t time_us);
    void signalFpsChanged(uint32_t fps);

public slots:
    void slotAccumulationTimeTextChanged(const QString& arg1);
    void slotAccumulationTimeTextEditFinished();
    void slotFrameRateTextChanged(const QString& arg1);
    void slotFrameRateEditTextFinished();

private:
    Ui::SettingDisplayItem* ui;
    // The text shown has been reported; any change of the text clears it.
    bool timeReported = false;
    bool fpsReported = false;
};
