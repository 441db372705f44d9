// The simulated cameras' tools: what they describe and which writes they refuse.
#include "SorvaneDriver/DvsCameraManager.h"
#include "SorvaneDriver/Simulated/SimulatedCameras.h"
#include "SorvaneHal/CameraTools.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace sorvane;

Q_DECLARE_METATYPE(sorvane::ToolType)

namespace {

std::shared_ptr<CameraTool> toolOf(const QString& product, ToolType type)
{
    // One camera per product, kept open for the whole test.
    static std::map<QString, std::shared_ptr<DvsCamera>> dvs;
    static std::map<QString, std::shared_ptr<FusionCamera>> fusion;
    DvsCameraManager manager;
    for (const CameraDescription& desc : manager.getCameraDescs()) {
        if (QString::fromStdString(desc.product) != product)
            continue;
        if (product == "Tandem") {
            auto& camera = fusion[product];
            if (!camera)
                camera = manager.openFusionCamera(desc.serial);
            return camera ? camera->getTool(type) : nullptr;
        }
        auto& camera = dvs[product];
        if (!camera)
            camera = manager.openCamera(desc.serial);
        return camera ? camera->getTool(type) : nullptr;
    }
    return nullptr;
}

} // namespace

class TestCameraTools : public QObject {
    Q_OBJECT
private slots:
    void camerasHaveTheirTools_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<ToolType>("type");
        QTest::addColumn<bool>("present");
        const ToolType sensorTools[] = {ToolType::Biases, ToolType::TriggerIn, ToolType::AntiFlicker,
                                        ToolType::EventTrailFilter, ToolType::EventRateControl, ToolType::Roi};
        for (const char* product : {"Orion4", "Vesper", "Tandem"}) {
            for (ToolType type : sensorTools)
                QTest::addRow("%s tool %d", product, int(type)) << QString(product) << type << true;
            QTest::addRow("%s aps", product) << QString(product) << ToolType::Aps << (QString(product) == "Tandem");
        }
    }

    void camerasHaveTheirTools()
    {
        QFETCH(QString, product);
        QFETCH(ToolType, type);
        QFETCH(bool, present);
        QCOMPARE(toolOf(product, type) != nullptr, present);
    }

    // Every parameter is fully described, its default lies in its range, and the typed getter
    // agrees with the overview.
    void descriptionsAreComplete_data()
    {
        QTest::addColumn<QString>("product");
        QTest::addColumn<ToolType>("type");
        for (const char* product : {"Orion4", "Tandem"})
            for (ToolType type : {ToolType::Biases, ToolType::TriggerIn, ToolType::AntiFlicker, ToolType::EventTrailFilter,
                                  ToolType::EventRateControl, ToolType::Roi, ToolType::Aps})
                if (!(QString(product) == "Orion4" && type == ToolType::Aps))
                    QTest::addRow("%s tool %d", product, int(type)) << QString(product) << type;
    }

    void descriptionsAreComplete()
    {
        QFETCH(QString, product);
        QFETCH(ToolType, type);
        auto tool = toolOf(product, type);
        QVERIFY(tool);
        ParameterInfoMap infos;
        QVERIFY(tool->getAllParameterInfo(infos));
        QVERIFY(!infos.empty());
        for (const auto& [name, info] : infos) {
            const QString label = QString::fromStdString(name);
            QCOMPARE(info.name, name);
            QVERIFY2(!info.description.empty(), qPrintable(label));
            QVERIFY2(info.description.find('\n') == std::string::npos, qPrintable(label));
            // Lower-case words joined by underscores survive the settings page's label round trip.
            for (char c : name)
                QVERIFY2((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_', qPrintable(label));
            switch (info.type) {
            case ParameterInt: {
                IntParameterInfo typed;
                QVERIFY(tool->getIntParameterInfo(name, typed));
                QVERIFY2(typed.min < typed.max, qPrintable(label));
                QVERIFY2(typed.defaultValue >= typed.min && typed.defaultValue <= typed.max, qPrintable(label));
                int value = typed.min - 1;
                QVERIFY(tool->getIntParameter(name, value));
                QCOMPARE(value, typed.defaultValue);
                break;
            }
            case ParameterFloat: {
                FloatParameterInfo typed;
                QVERIFY(tool->getFloatParameterInfo(name, typed));
                QVERIFY2(typed.min < typed.max && !typed.unit.empty(), qPrintable(label));
                QVERIFY2(typed.defaultValue >= typed.min && typed.defaultValue <= typed.max, qPrintable(label));
                break;
            }
            case ParameterBool: {
                BoolParameterInfo typed;
                QVERIFY(tool->getBoolParameterInfo(name, typed));
                bool value = !typed.defaultValue;
                QVERIFY(tool->getBoolParameter(name, value));
                QCOMPARE(value, typed.defaultValue);
                break;
            }
            case ParameterEnum: {
                EnumParameterInfo typed;
                QVERIFY(tool->getEnumParameterInfo(name, typed));
                QVERIFY2(typed.options.size() >= 2, qPrintable(label));
                QCOMPARE(typed.defaultValue, typed.options.front());
                break;
            }
            default:
                QFAIL(qPrintable("parameter of unknown type: " + label));
            }
            // The getter of another type refuses the name.
            IntParameterInfo wrongInt;
            BoolParameterInfo wrongBool;
            QCOMPARE(tool->getIntParameterInfo(name, wrongInt), info.type == ParameterInt);
            QCOMPARE(tool->getBoolParameterInfo(name, wrongBool), info.type == ParameterBool);
        }
    }

    void writesAreValidated_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("before"); // accepted writes first, as name=value
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("bias in range") << "biases" << QStringList{} << "bias_diff_on" << "140" << true;
        QTest::newRow("bias above") << "biases" << QStringList{} << "bias_diff_on" << "141" << false;
        QTest::newRow("bias below") << "biases" << QStringList{} << "bias_diff_off" << "-36" << false;
        QTest::newRow("bias lowest") << "biases" << QStringList{} << "bias_diff_off" << "-35" << true;
        QTest::newRow("unknown name") << "biases" << QStringList{} << "bias_nothing" << "1" << false;
        // A window is moved one corner at a time: the corners may cross on the way.
        QTest::newRow("roi corners cross x") << "roi" << QStringList{"roi_x1=100"} << "roi_x0" << "101" << true;
        QTest::newRow("roi corners meet") << "roi" << QStringList{"roi_x1=100"} << "roi_x0" << "100" << true;
        QTest::newRow("roi corners cross y") << "roi" << QStringList{"roi_y0=300"} << "roi_y1" << "299" << true;
        QTest::newRow("roi outside sensor") << "roi" << QStringList{} << "roi_x1" << "1280" << false;
        QTest::newRow("roi last column") << "roi" << QStringList{} << "roi_x1" << "1279" << true;
        QTest::newRow("afk band inverted") << "afk" << QStringList{"high_frequency=200"} << "low_frequency" << "201" << false;
        QTest::newRow("afk band narrow") << "afk" << QStringList{"high_frequency=200"} << "low_frequency" << "200" << true;
        QTest::newRow("afk duty high") << "afk" << QStringList{} << "duty_cycle" << "100.5" << false;
        QTest::newRow("afk duty ok") << "afk" << QStringList{} << "duty_cycle" << "37.5" << true;
        QTest::newRow("afk duty nan") << "afk" << QStringList{} << "duty_cycle" << "nan" << false;
        QTest::newRow("afk mode option") << "afk" << QStringList{} << "filtering_mode" << "Band Pass" << true;
        QTest::newRow("afk mode unknown") << "afk" << QStringList{} << "filtering_mode" << "Band Skip" << false;
        QTest::newRow("trail threshold low") << "trail" << QStringList{} << "threshold" << "999" << false;
        QTest::newRow("trail type") << "trail" << QStringList{} << "filtering_type" << "STC Keep Trail" << true;
        QTest::newRow("erc zero") << "erc" << QStringList{} << "max_event_rate" << "0" << false;
        QTest::newRow("erc bool as text") << "erc" << QStringList{} << "enable" << "maybe" << false;
        QTest::newRow("aps long exposure at 30 fps") << "aps" << QStringList{} << "exposure_time" << "40000" << false;
        QTest::newRow("aps long exposure at 20 fps") << "aps" << QStringList{"frame_rate=20"} << "exposure_time" << "40000" << true;
        QTest::newRow("aps rate too fast for exposure") << "aps" << QStringList{"frame_rate=20", "exposure_time=40000"}
                                                         << "frame_rate" << "30" << false;
        QTest::newRow("aps gain") << "aps" << QStringList{} << "analog_gain" << "4.5" << true;
        QTest::newRow("aps gain high") << "aps" << QStringList{} << "analog_gain" << "16.01" << false;
        QTest::newRow("aps number for bool") << "aps" << QStringList{} << "auto_exposure" << "2" << false;
    }

    void writesAreValidated()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, before);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(bool, accepted);
        std::shared_ptr<ParameterTool> t;
        if (tool == "biases") t = std::make_shared<BiasesTool>();
        if (tool == "roi") t = std::make_shared<RoiTool>(1280, 720);
        if (tool == "afk") t = std::make_shared<AntiFlickerTool>();
        if (tool == "trail") t = std::make_shared<EventTrailFilterTool>();
        if (tool == "erc") t = std::make_shared<EventRateControlTool>();
        if (tool == "aps") t = std::make_shared<ApsTool>();
        QVERIFY(t);
        for (const QString& write : before) {
            const QStringList parts = write.split('=');
            QVERIFY2(t->setParameterFromText(parts[0].toStdString(), parts[1].toStdString()), qPrintable(write));
        }
        const ParameterValues was = t->values();
        const uint64_t version = t->version();
        QCOMPARE(t->setParameterFromText(name.toStdString(), value.toStdString()), accepted);
        if (!accepted) {
            QVERIFY(t->values() == was);
            QCOMPARE(t->version(), version);
        } else {
            QVERIFY(t->version() != version);
        }
    }

    // The typed setters check the type as well as the range.
    void typedSettersCheckTheType()
    {
        AntiFlickerTool afk;
        QVERIFY(!afk.setIntParameter("enable", 1));
        QVERIFY(!afk.setBoolParameter("low_frequency", true));
        QVERIFY(!afk.setFloatParameter("low_frequency", 60.0f));
        QVERIFY(!afk.setEnumParameter("duty_cycle", "50"));
        QVERIFY(!afk.setFloatParameter("duty_cycle", std::numeric_limits<float>::infinity()));
        QVERIFY(afk.setFloatParameter("duty_cycle", 50.0f));
        float duty = 0;
        QVERIFY(afk.getFloatParameter("duty_cycle", duty));
        QCOMPARE(duty, 50.0f);
        QVERIFY(afk.setIntParameter("low_frequency", 60));
        int low = 0;
        QVERIFY(afk.getIntParameter("low_frequency", low));
        QCOMPARE(low, 60);
        bool wrong = false;
        QVERIFY(!afk.getBoolParameter("low_frequency", wrong));
    }

    // Writes racing the camera's reads never tear a value set: the corners, written in order,
    // are never seen crossed.
    void snapshotsStayConsistentUnderWrites()
    {
        RoiTool roi(1280, 720);
        std::atomic<bool> done{false};
        std::atomic<int> broken{0};
        std::thread reader([&] {
            while (!done.load()) {
                const ParameterValues v = roi.values();
                if (ParameterTool::intValue(v, "roi_x0") > ParameterTool::intValue(v, "roi_x1"))
                    broken.fetch_add(1);
            }
        });
        for (int i = 0; i < 2000; ++i) {
            const int x = i % 1200;
            roi.setIntParameter("roi_x1", 1279);
            roi.setIntParameter("roi_x0", x);
            roi.setIntParameter("roi_x1", x + 10);
        }
        done.store(true);
        reader.join();
        QCOMPARE(broken.load(), 0);
    }
};

QTEST_APPLESS_MAIN(TestCameraTools)
#include "tst_cameratools.moc"
