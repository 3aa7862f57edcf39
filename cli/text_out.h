// Where quorbel-cli writes its results and messages: the C standard streams underneath, so that
// the output interleaves with the progress display, and a start that sets up no C++ stream
// locale (a tenth of a small extraction).
#pragma once

#include <concepts>
#include <cstdio>
#include <string>
#include <string_view>

namespace quorbel::cli {

class TextOut {
public:
    explicit TextOut(std::FILE* file) : file_(file) {}
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;

    TextOut& operator<<(std::string_view text) {
        if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file_);
        return *this;
    }
    TextOut& operator<<(const std::string& text) { return *this << std::string_view(text); }
    TextOut& operator<<(const char* text) { return *this << std::string_view(text); }
    TextOut& operator<<(char c) {
        std::fputc(static_cast<unsigned char>(c), file_);
        return *this;
    }
    template <std::integral T>
        requires(!std::same_as<T, char> && !std::same_as<T, bool>)
    TextOut& operator<<(T value) {
        return *this << std::to_string(value);
    }
    void Flush() { std::fflush(file_); }

private:
    std::FILE* file_;
};

// The process's standard output and error.
TextOut& StandardOut();
TextOut& StandardError();

}  // namespace quorbel::cli
