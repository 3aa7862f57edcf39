// The codec base class and the exceptions decoders use to abandon a picture. A codec reads
// the attached stream into the attached picture; with no picture attached it only reads the
// header (width, height, depth and its information text).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "core/data_stream.h"
#include "core/progress_sink.h"
#include "picture/picture.h"

namespace quorbel {

// --- exceptions: decoders throw, LoadPicture catches; nothing of it reaches the user ---------

class EGraphicsException : public std::exception {
public:
    EGraphicsException() = default;
    explicit EGraphicsException(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The user cancelled; deliberately not an EGraphicsException.
class EGraphicsAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Abort"; }
};

#define QUORBEL_GRAPHICS_EXCEPTION(Name, Base) \
    class Name : public Base {                 \
    public:                                    \
        using Base::Base;                      \
    };

QUORBEL_GRAPHICS_EXCEPTION(EBmpNotABmpFile, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EBmpCorruptFile, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EBmpNotSupported, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EBmpFileReadError, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EGifError, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EGifNotAGifFile, EGifError)
QUORBEL_GRAPHICS_EXCEPTION(EGifCorruptFile, EGifError)
QUORBEL_GRAPHICS_EXCEPTION(EGifFileReadError, EGifError)
QUORBEL_GRAPHICS_EXCEPTION(EGifNoMoreImages, EGifError)
QUORBEL_GRAPHICS_EXCEPTION(EPngError, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EJpegError, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EJpegBadData, EJpegError)
QUORBEL_GRAPHICS_EXCEPTION(EJpegValueOutOfRange, EJpegError)
QUORBEL_GRAPHICS_EXCEPTION(EJpegAbort, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EJpegFatal, EGraphicsException)
QUORBEL_GRAPHICS_EXCEPTION(EGlimmerError, EGraphicsException)

#undef QUORBEL_GRAPHICS_EXCEPTION

// --- the codec base --------------------------------------------------------------------------

class CGraphicsFormat {
public:
    CGraphicsFormat(const char* short_name, const char* description, const char* filter);
    virtual ~CGraphicsFormat() = default;
    CGraphicsFormat(const CGraphicsFormat&) = delete;
    CGraphicsFormat& operator=(const CGraphicsFormat&) = delete;

    // Decodes the attached stream into the attached picture; with no picture only the header
    // is read. False (or an exception) on foreign or broken data. Base: false.
    virtual bool Load();
    // Header only: width, height, depth and the information text. Base: false.
    virtual bool ReadInfo();

    // Stores the three (the silent sink when sink is null) and rewinds the stream.
    void Attach(DataStream* stream, CPicture* picture, ProgressSink* sink);
    // Attach, Load inside a progress level; on success the picture's source name is the
    // stream's name and its description this format's. Exceptions become false; the sink is
    // always left at the nesting depth it had.
    bool LoadPicture(DataStream& stream, CPicture& picture, ProgressSink* sink);
    // Attach without picture or sink, ReadInfo; outputs (any may be null) become 0 and "" on
    // failure.
    bool GetInfo(DataStream& stream, int* width, int* height, int* depth, std::string* text);

    const std::string& ShortName() const { return short_name_; }
    const std::string& Description() const { return description_; }
    const std::string& Filter() const { return filter_; }
    void SetShortName(const char* text) { short_name_ = text ? text : ""; }
    void SetDescription(const char* text) { description_ = text ? text : ""; }
    void SetFilter(const char* text) { filter_ = text ? text : ""; }
    int InfoWidth() const { return width_; }
    int InfoHeight() const { return height_; }
    int InfoDepth() const { return depth_; }
    const std::string& InfoText() const { return info_text_; }

protected:
    // Load with no picture attached: the header pass of codecs whose Load reads the header
    // only when there is nowhere to put pixels. The attached picture is restored.
    bool LoadWithoutPicture();
    // Bytes the attached stream holds from its current position (0 when unknown).
    int64_t StreamRemaining() const;
    // Reads exactly n bytes; false on a short read.
    bool ReadExact(void* destination, size_t n);
    // SetPos on the sink; EGraphicsAbort when the user cancelled.
    void Progress(int64_t position);

    bool valid_ = true;
    DataStream* stream_ = nullptr;
    ProgressSink* sink_ = nullptr;
    CPicture* picture_ = nullptr;
    int width_ = 0, height_ = 0, depth_ = 0;
    std::string info_text_;

private:
    std::string short_name_, description_, filter_;
};

// The extension of a stream name: the text after the last "." of the last path component
// ('/' or '\'), empty when there is none.
std::string NameExtension(const std::string& name);
// The file-name part of a stream name (after the last '/' or '\').
std::string NameFilePart(const std::string& name);

}  // namespace quorbel
