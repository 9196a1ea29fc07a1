#pragma once

// Where a document's text goes as it is written: into a string, or straight
// into a file being written. Small pieces gather in a buffer that stays in the
// processor's cache, and go on to the target in large blocks, so a file is
// written without a second copy of the document in memory.

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FileIO.h"

namespace korvalin {

class TTextBuffer {
public:
    explicit TTextBuffer(std::string& target) : FString(&target) {}
    explicit TTextBuffer(TAtomicFile& target) : FFile(&target) {}
    TTextBuffer(const TTextBuffer&) = delete;
    TTextBuffer& operator=(const TTextBuffer&) = delete;

    template <std::size_t N>
    void Lit(const char (&text)[N]) {
        Need(N - 1);
        std::memcpy(FPos, text, N - 1);
        FPos += N - 1;
    }

    void Put(std::string_view text) {
        if (text.size() > kSize / 2) {
            Flush();
            Send(text);
            return;
        }
        Need(text.size());
        std::memcpy(FPos, text.data(), text.size());
        FPos += text.size();
    }

    void Int(std::int64_t value) {
        Need(24);
        FPos = std::to_chars(FPos, FBuffer + kSize, value).ptr;
    }

    // Hands everything gathered on to the target; call it when the text is done.
    void Flush() {
        Send({FBuffer, static_cast<std::size_t>(FPos - FBuffer)});
        FPos = FBuffer;
    }

private:
    static constexpr std::size_t kSize = std::size_t{1} << 16;

    void Need(std::size_t bytes) {
        if (static_cast<std::size_t>(FBuffer + kSize - FPos) < bytes) Flush();
    }

    void Send(std::string_view text) {
        if (FString != nullptr) FString->append(text);
        else FFile->Write(text);
    }

    std::string* FString = nullptr;
    TAtomicFile* FFile = nullptr;
    char FBuffer[kSize];
    char* FPos = FBuffer;
};

}  // namespace korvalin
