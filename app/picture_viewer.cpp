#include "app/picture_viewer.h"

#include <QAction>
#include <QLabel>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/app_icons.h"
#include "app/ui_text.h"
#include "app/widgets/tvl_picture.h"
#include "picture/format_registry.h"
#include "picture/picture.h"
#include "platform/file_system.h"

namespace quorbel {

CPictureViewer::CPictureViewer(std::unique_ptr<CPicture> picture, const std::string& name,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), picture_(std::move(picture)), control_(new CTvlPicture(this)),
      info_(new QLabel(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("Quorbel Picture Viewer - " + Q(name));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* tools = new QToolBar(this);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* in = tools->addAction(ThemeIcon("zoom-in"), UiText("Zoom in", "Zoom avant"));
    QAction* out = tools->addAction(ThemeIcon("zoom-out"), UiText("Zoom out", "Zoom arrière"));
    QAction* actual = tools->addAction(ThemeIcon("zoom-original"), UiText("100 %", "100 %"));
    fit_ = tools->addAction(ThemeIcon("zoom-fit-best"), UiText("Fit to window", "Ajuster à la fenêtre"));
    fit_->setCheckable(true);
    connect(in, &QAction::triggered, this, [this] { control_->ZoomStep(true); });
    connect(out, &QAction::triggered, this, [this] { control_->ZoomStep(false); });
    connect(actual, &QAction::triggered, this, [this] { control_->SetZoom(CTvlPicture::kZoomOne); });
    connect(fit_, &QAction::toggled, this, [this](bool on) { control_->SetFitToWindow(on); });
    layout->addWidget(tools);
    layout->addWidget(control_, 1);
    layout->addWidget(info_);
    info_->setContentsMargins(4, 2, 4, 2);
    connect(control_, &CTvlPicture::pictureChanged, this, &CPictureViewer::UpdateInfo);
    control_->SetPicture(picture_.get(), true);
    // A picture larger than the screen's share starts fitted, in powers of two (never blurred
    // by a fractional zoom, never enlarged).
    control_->SetFitPowersOfTwo(true);
    resize(std::clamp(picture_->Width() + 40, 320, 1000), std::clamp(picture_->Height() + 100, 240, 760));
    if (picture_->Width() > 960 || picture_->Height() > 660) fit_->setChecked(true);
    UpdateInfo();
}

CPictureViewer::~CPictureViewer() {
    // The control must not paint a picture that is gone.
    control_->SetPicture(nullptr, false);
}

QString CPictureViewer::InfoText() const {
    const int bits = picture_->Depth() > 0 ? picture_->Depth() : 24;
    return QString("%1 x %2 x %3 %4 - %5 - %6 %")
        .arg(picture_->Width())
        .arg(picture_->Height())
        .arg(bits)
        .arg(bits == 1 ? "Bit" : "Bits")
        .arg(Q(picture_->Description()))
        .arg(double(control_->Zoom()) * 100.0 / CTvlPicture::kZoomOne, 0, 'g', 4);
}

void CPictureViewer::UpdateInfo() {
    if (fit_->isChecked() != control_->FitToWindow()) {
        const QSignalBlocker block(fit_);
        fit_->setChecked(control_->FitToWindow());
    }
    info_->setText(InfoText());
}

std::unique_ptr<CPicture> LoadPictureForViewer(const std::string& path, ProgressSink* sink) {
    auto picture = std::make_unique<CPicture>();
    if (!LoadPictureFile(path, *picture, sink) || picture->IsEmpty()) return nullptr;
    return picture;
}

CPictureViewer* ShowPictureViewer(const std::string& path, ProgressSink* sink, QWidget* parent) {
    std::unique_ptr<CPicture> picture = LoadPictureForViewer(path, sink);
    if (!picture) return nullptr;
    auto* viewer = new CPictureViewer(std::move(picture), FileNameOfPath(path), parent);
    viewer->show();
    return viewer;
}

}  // namespace quorbel
