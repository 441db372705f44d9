#include "app/SavedImages.h"

#include "SorvaneBase/PngWriter.h"
#include "SorvaneBase/SafeOutput.h"
#include "app/RecordingNames.h"

#include <QDir>

SavedImage saveImageAsPng(const QImage& image, const QString& folder, const QDateTime& now)
{
    if (image.isNull())
        return {{}, QStringLiteral("there is no image to save")};
    if (!QDir().mkpath(folder))
        return {{}, QStringLiteral("the folder cannot be created: ") + QDir::toNativeSeparators(folder)};
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const QString path = recordingBase(folder, QStringLiteral("image"), now, {".png"}) + ".png";
    // Refused, not replaced, should another file take the name meanwhile.
    sorvane::SafeOutput output;
    std::string error;
    if (!output.begin(path.toStdString(), sorvane::ExistingFile::Refuse, {}, error)
        || !sorvane::writePng(output.temporaryFd(), rgb.width(), rgb.height(), rgb.constBits(),
                              size_t(rgb.bytesPerLine()), error)
        || !output.commit(error))
        return {{}, QString::fromStdString(error)};
    return {path, {}};
}
