#include "picture/graphics_format.h"

#include <cstdio>

namespace quorbel {

CGraphicsFormat::CGraphicsFormat(const char* short_name, const char* description, const char* filter)
    : sink_(&SilentSink()) {
    SetShortName(short_name);
    SetDescription(description);
    SetFilter(filter);
}

bool CGraphicsFormat::Load() { return false; }
bool CGraphicsFormat::ReadInfo() { return false; }

bool CGraphicsFormat::LoadWithoutPicture() {
    CPicture* target = picture_;
    picture_ = nullptr;
    const bool ok = Load();
    picture_ = target;
    return ok;
}

void CGraphicsFormat::Attach(DataStream* stream, CPicture* picture, ProgressSink* sink) {
    stream_ = stream;
    picture_ = picture;
    sink_ = sink ? sink : &SilentSink();
    width_ = height_ = depth_ = 0;
    info_text_.clear();
    if (stream_) stream_->Rewind();
}

namespace {

// Ends progress levels until the sink is back where a load found it.
void RestoreDepth(ProgressSink& sink, int depth) {
    while (sink.Depth() > depth) sink.End(0);
}

}  // namespace

bool CGraphicsFormat::LoadPicture(DataStream& stream, CPicture& picture, ProgressSink* sink) {
    Attach(&stream, &picture, sink);
    ProgressSink& s = *sink_;
    const int depth = s.Depth();
    bool ok = false;
    try {
        s.Begin();
        char text[600];
        std::snprintf(text, sizeof text, "Loading File \"%s\"...", NameFilePart(stream.Name()).c_str());
        s.SetText(text, true);
        ok = Load();
        s.End(0);
    } catch (...) {
        // EGraphicsException, EGraphicsAbort, bad_alloc: the picture is abandoned.
        ok = false;
    }
    RestoreDepth(s, depth);
    if (ok) {
        picture.SetSourceName(stream.Name());
        picture.SetDescription(Description());
    }
    stream_ = nullptr;
    picture_ = nullptr;
    return ok;
}

bool CGraphicsFormat::GetInfo(DataStream& stream, int* width, int* height, int* depth, std::string* text) {
    Attach(&stream, nullptr, nullptr);
    bool ok = false;
    try {
        ok = ReadInfo();
    } catch (...) {
        ok = false;
    }
    stream_ = nullptr;
    if (width) *width = ok ? width_ : 0;
    if (height) *height = ok ? height_ : 0;
    if (depth) *depth = ok ? depth_ : 0;
    if (text) *text = ok ? info_text_ : std::string();
    return ok;
}

int64_t CGraphicsFormat::StreamRemaining() const {
    if (!stream_) return 0;
    const int64_t size = stream_->Size();
    const int64_t pos = stream_->Tell();
    if (size < 0 || pos < 0 || pos > size) return 0;
    return size - pos;
}

bool CGraphicsFormat::ReadExact(void* destination, size_t n) {
    return stream_ && stream_->Read(destination, n) == n;
}

void CGraphicsFormat::Progress(int64_t position) {
    if (sink_->SetPos(position, true) == 0) throw EGraphicsAbort();
}

std::string NameFilePart(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::string NameExtension(const std::string& name) {
    const std::string file = NameFilePart(name);
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : file.substr(dot + 1);
}

}  // namespace quorbel
