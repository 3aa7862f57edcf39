// "Quorbel Picture Viewer": a window of its own showing one picture file in the picture control,
// with zoom and scrolling. It owns the picture it shows.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "core/progress_sink.h"

class QAction;
class QLabel;

namespace quorbel {

class CPicture;
class CTvlPicture;

class CPictureViewer : public QWidget {
    Q_OBJECT
public:
    CPictureViewer(std::unique_ptr<CPicture> picture, const std::string& name,
                   QWidget* parent = nullptr);
    ~CPictureViewer() override;

    CTvlPicture* Control() const { return control_; }
    const CPicture& Picture() const { return *picture_; }
    // "W x H x D Bits - description - zoom %".
    QString InfoText() const;
    QAction* FitAction() const { return fit_; }

private:
    void UpdateInfo();

    std::unique_ptr<CPicture> picture_;
    CTvlPicture* control_;
    QLabel* info_;
    QAction* fit_;
};

// Decodes a picture file with the picture library, progress on `sink`; nullptr when no codec
// reads it.
std::unique_ptr<CPicture> LoadPictureForViewer(const std::string& path, ProgressSink* sink);

// Loads `path` and shows it in a new viewer window (deleted when closed); nullptr when it is
// no picture the library reads.
CPictureViewer* ShowPictureViewer(const std::string& path, ProgressSink* sink, QWidget* parent);

}  // namespace quorbel
