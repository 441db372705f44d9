#pragma once
// The image area of the main window: one scene with one pixmap item in an SvGraphicsView. New
// images replace the pixmap without refitting, so the user's zoom and pan survive playback; the
// view is refitted when the form is shown or resized.
#include <QImage>
#include <QPixmap>
#include <QWidget>

class QGraphicsPixmapItem;
class QGraphicsScene;
class SvGraphicsView;

namespace Ui {
class ShowImageForm;
}

class ShowImageForm : public QWidget {
    Q_OBJECT
public:
    explicit ShowImageForm(QWidget* parent = nullptr);
    ~ShowImageForm() override;

    // The pixmap shown last (the grey start image before the first one arrives).
    const QPixmap& currentPixmap() const { return pixmap; }
    SvGraphicsView* view() const;

public slots:
    void slotShowImage(QImage image);
    void showPixMap(QPixmap pixmap);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void fitImage();

    Ui::ShowImageForm* ui;
    QGraphicsScene* scene = nullptr;
    QGraphicsPixmapItem* pixmapItem = nullptr;
    QPixmap pixmap;
    int imageWidth = 1280;
    int imageHeight = 720;
};
