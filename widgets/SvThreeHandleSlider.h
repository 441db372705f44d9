#pragma once
// The play bar's time slider: a centre handle for the play position and, in range mode, a lower
// and an upper handle for the start and end of the part to cut or export. The centre never
// leaves the span between lower and upper.
//
// Values are microseconds on the recording's clock and travel as 64-bit numbers end to end, so
// recordings whose timestamps pass 2^31 us (about 36 minutes of sensor time) play and scrub like
// any other.
#include <QColor>
#include <QWidget>

#include <cstdint>

class SvThreeHandleSlider : public QWidget {
    Q_OBJECT
public:
    // Bits of handleMode. The upper handle takes part only when both are set.
    enum HandleBits : int {
        CenterHandle = 1,
        LowerHandle = 2,
        RangeMode = CenterHandle | LowerHandle,
    };

    explicit SvThreeHandleSlider(QWidget* parent = nullptr,
        Qt::Orientation orientation = Qt::Horizontal, int handleMode = CenterHandle);

    // Switches between centre-only (1) and range mode (3); lower and upper return to the range
    // bounds and both are reported.
    void setHandleMode(int mode);
    int currentHandleMode() const { return handleMode; }

    // The span to cut or export: the lower and upper handles in range mode, else the whole range.
    uint64_t lowerBound() const;
    uint64_t upperBound() const;

    uint64_t minimum() const { return rangeMinimum; }
    uint64_t maximum() const { return rangeMaximum; }
    uint64_t lower() const { return lowerValue; }
    uint64_t upper() const { return upperValue; }
    uint64_t center() const { return centerValue; }

    // Handle rectangles for the current values, in widget coordinates.
    QRect lowerHandleRect() const;
    QRect upperHandleRect() const;
    QRect centerHandleRect() const;

    QSize minimumSizeHint() const override;

signals:
    void lowerValueChanged(uint64_t aLowerValue);
    void upperValueChanged(uint64_t aUpperValue);
    void rangeChanged(uint64_t aMin, uint64_t aMax);
    // Part of the interface for owners that move the centre themselves; never emitted here.
    void centerValueChanged(uint64_t center_value);
    void centerValueTrackClick(uint64_t center_value);
    void centerValueMove(uint64_t center_value);

public slots:
    // None of the three value slots emits a signal.
    void setLowerValue(uint64_t aLowerValue);
    void setUpperValue(uint64_t aUpperValue);
    void setCenterValue(uint64_t center_value);
    void setMinimum(uint64_t aMinimum);
    void setMaximum(uint64_t aMaximum);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool inRangeMode() const { return handleMode == RangeMode; }
    // Length along the slider's axis and thickness across it.
    int axisLength() const;
    int crossLength() const;
    int axisCoordinate(const QPoint& point) const;
    QRect toWidget(int along, int across, int alongSize, int acrossSize) const;
    QRectF toWidget(const QRectF& alongAcross) const;

    float ratio(uint64_t value) const;
    int lowerX() const;
    int upperX() const;
    int centerX() const;
    // Value under an axis coordinate: the range minimum plus the share of the interval.
    double valueAt(int p) const;
    double valueFromOffset(double offset) const;
    static uint64_t toValue(double value);
    uint64_t limitToSpan(uint64_t value) const;
    void applyColors();

    uint64_t rangeMinimum = 0;
    uint64_t rangeMaximum = UINT64_MAX;
    // rangeMaximum - rangeMinimum; meaningless while the owner has the bounds the wrong way round.
    uint64_t interval = UINT64_MAX;
    uint64_t lowerValue = 0;
    uint64_t upperValue = UINT64_MAX;
    uint64_t centerValue = 0;

    bool lowerPressed = false;
    bool upperPressed = false;
    bool centerPressed = false;
    // Distance between the press point and the pressed handle.
    int dragOffset = 0;

    Qt::Orientation orientation;
    int handleMode;
    qreal rangeRadius = 5;

    QColor rangeColor;
    QColor sideHandleColor;
    QColor centerFillColor;
    QColor centerOutlineColor;
};
