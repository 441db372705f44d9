// The real main window, offscreen, with the simulated Orion4: the side-bar pages, and settings
// changed in them reaching what the user sees (event rate, the ROI window, the images).
#include "TestHome.h"
#include "WindowTestKit.h"
#include "ProcessorRelay.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "app/ConfigStore.h"
#include "processing/SvEventProcessor.h"
#include "settings/SettingBaseWithLineEdit.h"
#include "settings/SettingBaseWithSwitchButton.h"
#include "settings/SettingItemBox.h"
#include "settings/SidebarApsSettingUI.h"
#include "settings/SidebarCameraSettingUI.h"
#include "settings/SidebarDvsSettingUI.h"
#include "settings/SvGeneralSetting.h"
#include "widgets/SVComboBoxBase.h"
#include "widgets/SvComboBox.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace sorvane;

namespace {

// Pixels of image, inside or outside the window, that differ from background.
int eventPixels(const QImage& image, QRgb background, const QRect& window, bool inside)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (window.contains(x, y) == inside && image.pixel(x, y) != background)
                ++count;
    return count;
}

} // namespace

class TestMainWindowSettings : public QObject {
    Q_OBJECT
    // First, so that everything the suite makes sees the throwaway home.
    TestHome home;
private:
    QTemporaryDir dir;
    std::unique_ptr<TestableMainWidget> window;
    SvEventProcessor* processor = nullptr;

    QPushButton* button(const char* name) const { return window->findChild<QPushButton*>(name); }
    template <typename Page>
    Page* page() const { return window->findChild<Page*>(); }

    SettingItemBox* dvsGroup(const QString& title) const
    {
        for (SettingItemBox* box : page<SidebarDvsSettingUI>()->groups())
            if (box->title() == title)
                return box;
        return nullptr;
    }

    // Types value into the integer row labelled label of the DVS group title.
    void typeInto(const QString& title, const QString& label, int value)
    {
        SettingItemBox* box = dvsGroup(title);
        QVERIFY(box);
        for (auto* row : box->findChildren<SettingBaseWithLineEdit*>())
            if (row->findChild<QLabel*>("lb_set_item_name")->text() == label) {
                row->findChild<QLineEdit*>("le_sv_line_edit")->setText(QString::number(value));
                QCOMPARE(row->value(), value);
                return;
            }
        QFAIL(qPrintable("no row " + label));
    }

    double eventRate() const
    {
        static const QRegularExpression rate(R"(Events: (\d+\.\d) MEv/s)");
        const auto match = rate.match(window->findChild<QLabel*>("lb_status_bar")->text());
        return match.hasMatch() ? match.captured(1).toDouble() : -1.0;
    }

    // The next image the view gets, painted after everything asked so far.
    QImage nextImage(int skip = 3)
    {
        ProcessorRelay relay(*processor);
        QSignalSpy images(&relay, &ProcessorRelay::image);
        if (!QTest::qWaitFor([&] { return images.count() > skip; }, 10000))
            return QImage();
        return images.last().at(0).value<QImage>();
    }

    // The Orion4 open and streaming, however the cases before left the window.
    void openOrion()
    {
        if (window->currentSourceMode() == MainWidget::LiveDvsCamera && button("pb_play")->isChecked())
            return;
        QVERIFY(pickCamera(*window, QString::fromStdString(SimulatedCameraProvider::serialOf("Orion4"))));
        QTRY_VERIFY(button("pb_play")->isChecked());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        ConfigStore* config = ConfigStore::instance();
        config->outputRawFilePath = dir.path();
        config->videoSavePath = dir.path();
        config->triggerInRecEnable = false;
        config->colorType = "Gray";
        config->applyColorType();
        window = std::make_unique<TestableMainWidget>();
        window->resize(1280, 800);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        processor = window->findChild<SvEventProcessor*>();
        QVERIFY(processor);
    }

    void cleanupTestCase()
    {
        closeAllTips();
        window.reset();
    }

    // One page at a time; folding the open one narrows the panel to the side bar.
    void foldButtonsSwapAndFoldThePages()
    {
        auto* camera = page<SidebarCameraSettingUI>();
        auto* dvs = page<SidebarDvsSettingUI>();
        QWidget* panel = window->findChild<QWidget*>("frame_setting");
        QVERIFY(camera->isVisible() && !dvs->isVisible());
        QVERIFY(button("pb_fold_setting")->isChecked());
        QTest::mouseClick(button("pb_fold_dvs_setting"), Qt::LeftButton);
        QVERIFY(dvs->isVisible() && !camera->isVisible());
        QVERIFY(button("pb_fold_dvs_setting")->isChecked() && !button("pb_fold_setting")->isChecked());
        QCOMPARE(panel->maximumWidth(), 500);
        QTest::mouseClick(button("pb_fold_dvs_setting"), Qt::LeftButton);
        QVERIFY(!dvs->isVisible() && !button("pb_fold_dvs_setting")->isChecked());
        QCOMPARE(panel->maximumWidth(), window->findChild<QWidget*>("widget_side_bar")->width());
        QTest::mouseClick(button("pb_fold_setting"), Qt::LeftButton);
        QVERIFY(camera->isVisible() && button("pb_fold_setting")->isChecked());
        QCOMPARE(panel->maximumWidth(), 500);
    }

    void cameraToolsFillTheDvsPage()
    {
        openOrion();
        QStringList titles;
        for (SettingItemBox* box : page<SidebarDvsSettingUI>()->groups())
            titles.append(box->title());
        QCOMPARE(titles, (QStringList{"Biases", "Trigger In", "Anti Flicker", "Event Rate Control", "Event Trail Filter", "ROI"}));
        QVERIFY(page<SidebarApsSettingUI>()->groups().isEmpty()); // no frame sensor
        QVERIFY(!window->findChild<SvComboBox*>("widget_combobox_frame_rate")->isEnabled());
    }

    void biasesChangeTheEventRate()
    {
        openOrion();
        QTRY_VERIFY_WITH_TIMEOUT(eventRate() > 1.0, 10000);
        const double before = eventRate();
        typeInto("Biases", "Bias Diff On", 140);
        typeInto("Biases", "Bias Diff Off", 190);
        QTRY_VERIFY_WITH_TIMEOUT(eventRate() >= 0 && eventRate() < before / 2, 10000);
        typeInto("Biases", "Bias Diff On", 0);
        typeInto("Biases", "Bias Diff Off", 0);
        QTRY_VERIFY_WITH_TIMEOUT(eventRate() > before * 0.8, 10000);
    }

    // The window is moved past its old corner one field at a time; no event falls outside it.
    void roiKeepsEventsInsideTheWindow()
    {
        openOrion();
        typeInto("ROI", "Roi X0", 1000);
        typeInto("ROI", "Roi X1", 700); // crossed on the way
        typeInto("ROI", "Roi X0", 100);
        typeInto("ROI", "Roi Y0", 100);
        typeInto("ROI", "Roi Y1", 600);
        for (auto* row : dvsGroup("ROI")->findChildren<SettingBaseWithLineEdit*>())
            QCOMPARE(row->borderColor(), QString("#ACACAC"));
        dvsGroup("ROI")->findChild<SettingBaseWithSwitchButton*>()->findChild<QPushButton*>("switchButton")->click();
        nextImage(10);
        const QRgb background = ConfigStore::instance()->eventColors().background.rgb();
        const QRect roi(QPoint(100, 100), QPoint(700, 600));
        int inside = 0;
        for (int i = 0; i < 8; ++i) {
            const QImage image = nextImage(0);
            QVERIFY(!image.isNull());
            QCOMPARE(eventPixels(image, background, roi, false), 0);
            inside += eventPixels(image, background, roi, true);
        }
        QVERIFY(inside > 0);
    }

    void accumulationTimeShortensTheImages()
    {
        openOrion();
        const QRgb background = ConfigStore::instance()->eventColors().background.rgb();
        const QRect roi(QPoint(100, 100), QPoint(700, 600));
        // Over several images: a single one may hold a short batch.
        auto pixelsOfNextImages = [&] {
            int sum = 0;
            for (int i = 0; i < 8; ++i)
                sum += eventPixels(nextImage(0), background, roi, true);
            return sum;
        };
        const int longWindow = pixelsOfNextImages();
        QComboBox* chooser = window->findChild<SvComboBox*>("widget_combobox_accumulation_time")->comboBox();
        // 10 ms rather than 1 ms: a thousand batches a second would flood a sanitized build. Painted
        // pixels overlap, so a third of the time paints clearly less, not a third as much.
        chooser->setCurrentIndex(chooser->findText("10ms"));
        nextImage(5);
        const int shortWindow = pixelsOfNextImages();
        QVERIFY2(shortWindow * 4 < longWindow * 3, qPrintable(QString("%1 %2").arg(shortWindow).arg(longWindow)));
        chooser->setCurrentIndex(chooser->findText("33.33ms"));
    }

    void savedColourSchemeShowsInTheNextImages()
    {
        openOrion();
        QVERIFY(answerDialog<SvGeneralSetting>([&] { QTest::mouseClick(button("pb_fold_general_setting"), Qt::LeftButton); },
                                               [](SvGeneralSetting* dialog) {
            dialog->findChild<SvComboBox*>("widget_combobox_color_theme")->comboBox()->setCurrentText("Dark");
            dialog->findChild<QPushButton*>("pb_save")->click();
        }));
        QVERIFY(!button("pb_fold_general_setting")->isChecked());
        nextImage(2);
        // Most of the image is the new background.
        const QImage image = nextImage(0);
        QVERIFY(eventPixels(image, QColor(30, 37, 52).rgb(), image.rect(), true) < image.width() * image.height() / 2);
    }

    void openingARecordingClearsTheCameraPages()
    {
        // Even one that then fails to load: the camera is let go first.
        QFile damaged(dir.filePath("damaged.raw"));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("not a recording\n");
        damaged.close();
        window->nextRecording = damaged.fileName();
        window->slotOpenRecording();
        QVERIFY(page<SidebarDvsSettingUI>()->groups().isEmpty());
        QVERIFY(window->findChild<SvComboBox*>("widget_combobox_frame_rate")->isEnabled());
        ConfigStore::instance()->colorType = "Gray";
        ConfigStore::instance()->save();
    }
};

QTEST_MAIN(TestMainWindowSettings)
#include "tst_mainwindowsettings.moc"
