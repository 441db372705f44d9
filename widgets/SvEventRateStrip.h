#pragma once
// A low filled curve of how many events each moment holds, drawn under the time slider: a
// recording's whole profile, or the last ten seconds of a live camera. A click asks to jump
// to the time under it.
#include <QList>
#include <QWidget>

#include <algorithm>
#include <cstdint>

class SvEventRateStrip : public QWidget {
    Q_OBJECT
public:
    // Live samples are taken this often, and this many are shown (ten seconds).
    static constexpr int liveSampleMs = 100;
    static constexpr int liveSamples = 100;
    // Left and right of the slider's track, where no time is drawn.
    static constexpr int trackMargin = 13;

    explicit SvEventRateStrip(QWidget* parent = nullptr);

    // A recording: events per bin, the bins splitting [first, last] evenly.
    void setProfile(const QList<quint64>& counts, uint64_t first, uint64_t last);
    // The time range the slider shows, which the strip follows.
    void setRange(uint64_t first, uint64_t last);
    // A live camera: the events of the last sample period, appended on the right.
    void addLiveSample(quint64 events);
    void clear();

    // Events per pixel column as drawn, left to right (empty when there is nothing to draw).
    QList<double> columns() const;
    bool isLive() const { return live; }

signals:
    void timeClicked(uint64_t time);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int trackWidth() const { return std::max(1, width() - 2 * trackMargin); }

    QList<quint64> counts;
    uint64_t profileFirst = 0;
    uint64_t profileLast = 0;
    uint64_t shownFirst = 0;
    uint64_t shownLast = 0;
    bool live = false;
};
