#include "DiscImageStep.h"

#include "DvdVideoImage.h"
#include "ImageTool.h"

#include <QCoreApplication>

DiscImageResult WriteDiscImageFile(const std::string& videoTsFolder, const std::string& imageFile,
                                   const std::string& label, const std::atomic<bool>* stop,
                                   const std::function<void(int percent, const std::string& text)>& progress) {
    namespace di = qx::discimage;
    DiscImageResult result;
    di::ImageDescriptor descriptor;
    descriptor.label = label;
    std::unique_ptr<di::DvdVideoImage> image;
    if (di::ImageClock(&descriptor.localTime, &result.error)) {
        image = di::DvdVideoImage::Create(videoTsFolder, descriptor, &result.error, &result.warnings);
    }
    if (!image) {
        return result;
    }
    di::WriteOptions options;
    options.cancel = stop;
    int shown = -1;
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        if (percent != shown) {
            shown = percent;
            if (progress) {
                progress(percent, "Writing " + imageFile + " " + std::to_string(percent) + "%");
            }
            // The windows stay alive (and a Cancel reaches the stop flag) while the image is written.
            QCoreApplication::processEvents();
        }
    };
    result.written = di::WriteImageFile(*image, imageFile, options, &result.error);
    if (result.written) {
        result.bytes = image->SizeInBytes();
        result.error.clear();
    } else if (stop && stop->load()) {
        result.error = "stopped; no image was written to " + imageFile;
    }
    return result;
}
