// Reading, editing and saving a Windows-style ini file line by line, so that
// only what the program changes is changed.

#include "SettingsIni.h"

#include "FileIO.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

namespace korvalin {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view LineEnd = "\r\n";

bool IsIniSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsIniSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsIniSpace(text.back())) text.remove_suffix(1);
    return text;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Windows compares ini names without case; only ASCII letters are folded here,
// which covers every name the program writes and needs no locale.
bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsBlankOrComment(std::string_view line) {
    const std::string_view text = Trim(line);
    return text.empty() || text.front() == ';' || text.front() == '#';
}

// The section name of a header line ("[Name]", spaces allowed around both),
// taken up to the last "]" as Windows does.
std::optional<std::string_view> HeaderName(std::string_view line) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() != '[') return std::nullopt;
    const auto close = text.rfind(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(text.substr(1, close - 1));
}

struct TKeyLine {
    std::string_view Key;
    std::string_view RawValue;   // trimmed, quotes not yet removed
    std::size_t ValueStart = 0;  // offset just past the "="
};

std::optional<TKeyLine> ParseKeyLine(std::string_view line) {
    if (IsBlankOrComment(line)) return std::nullopt;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) return std::nullopt;
    return TKeyLine{key, Trim(line.substr(equals + 1)), equals + 1};
}

bool IsQuotePair(std::string_view text) {
    return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front();
}

std::string DecodeValue(std::string_view raw) {
    if (IsQuotePair(raw)) raw = raw.substr(1, raw.size() - 2);
    return std::string(raw);
}

// Quotes exactly the values that reading would otherwise change: edge spaces
// would be trimmed and a value in its own quotes would lose them.
std::string EncodeValue(std::string_view value) {
    const bool needsQuotes =
        !value.empty() && (IsIniSpace(value.front()) || IsIniSpace(value.back()) || IsQuotePair(value));
    return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::optional<int> ParseInteger(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;

    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<int>::max()} + 1;
    std::int64_t magnitude = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') digit = AsciiLower(c) - 'a' + 10;
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

std::string CheckedSectionName(std::string_view section) {
    const std::string_view name = Trim(section);
    if (name.empty() || HasLineBreak(name)) {
        throw EIniError("Invalid ini section name \"" + std::string(section) + "\"");
    }
    return std::string(name);
}

std::string CheckedKeyName(std::string_view key) {
    const std::string_view name = Trim(key);
    if (name.empty() || HasLineBreak(name) || name.find('=') != std::string_view::npos || name.front() == '[' ||
        name.front() == ';' || name.front() == '#') {
        throw EIniError("Invalid ini key name \"" + std::string(key) + "\"");
    }
    return std::string(name);
}

// Where new keys of a section go: after its last line that is neither blank nor
// a comment, so the blank lines and comments leading into the next section stay
// in front of it.
std::size_t EndOfKeys(const std::vector<std::string>& lines) {
    std::size_t end = lines.size();
    while (end > 0 && IsBlankOrComment(lines[end - 1])) --end;
    return end;
}

}  // namespace

void TIniFile::LoadFromBytes(std::string_view bytes) {
    if (bytes.starts_with(Utf8Bom)) {
        bytes.remove_prefix(Utf8Bom.size());
    } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
        // Splitting UTF-16 at byte 0x0A and writing it back would corrupt it.
        throw EIniError("The settings file is UTF-16 text, not UTF-8");
    }

    std::vector<TBlock> blocks(1);
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        start = next;

        if (const auto name = HeaderName(line)) {
            blocks.push_back(TBlock{TBlockKind::bkSection, std::string(*name), std::string(line), {}});
        } else {
            blocks.back().Lines.emplace_back(line);
        }
    }
    FBlocks = std::move(blocks);
}

void TIniFile::LoadFromFile(const std::string& fileName) {
    std::error_code ec;
    if (std::filesystem::status(fileName, ec).type() == std::filesystem::file_type::not_found) {
        FBlocks.clear();
        return;
    }
    const std::vector<std::uint8_t> data = ReadWholeFile(fileName);
    LoadFromBytes(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::string TIniFile::SaveToBytes() const {
    std::string text(Utf8Bom);
    for (const TBlock& block : FBlocks) {
        if (block.Kind == TBlockKind::bkSection) {
            text += block.Header;
            text += LineEnd;
        }
        for (const std::string& line : block.Lines) {
            text += line;
            text += LineEnd;
        }
    }
    return text;
}

void TIniFile::SaveToFile(const std::string& fileName) const {
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) throw EFileError("Cannot create folder \"" + folder.string() + "\": " + ec.message());
    }
    WriteFileAtomically(fileName, std::string_view(SaveToBytes()));
}

const TIniFile::TBlock* TIniFile::FindSection(std::string_view section) const {
    const std::string_view name = Trim(section);
    for (const TBlock& block : FBlocks) {
        if (block.Kind == TBlockKind::bkSection && SameName(block.Name, name)) return &block;
    }
    return nullptr;
}

bool TIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

std::optional<std::string> TIniFile::FindValue(std::string_view section, std::string_view key) const {
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = Trim(key);
    for (const TBlock& block : FBlocks) {
        if (block.Kind != TBlockKind::bkSection || !SameName(block.Name, sectionName)) continue;
        for (const std::string& line : block.Lines) {
            const auto parsed = ParseKeyLine(line);
            if (parsed && SameName(parsed->Key, keyName)) return DecodeValue(parsed->RawValue);
        }
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    auto value = FindValue(section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

int TIniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
    const auto value = FindValue(section, key);
    if (!value) return defaultValue;
    return ParseInteger(*value).value_or(defaultValue);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName = CheckedSectionName(section);
    const std::string keyName = CheckedKeyName(key);
    if (HasLineBreak(value)) throw EIniError("An ini value cannot hold a line break (key \"" + keyName + "\")");
    const std::string encoded = EncodeValue(value);

    TBlock* first = nullptr;
    for (TBlock& block : FBlocks) {
        if (block.Kind != TBlockKind::bkSection || !SameName(block.Name, sectionName)) continue;
        if (!first) first = &block;
        for (std::string& line : block.Lines) {
            const auto parsed = ParseKeyLine(line);
            if (parsed && SameName(parsed->Key, keyName)) {
                line = line.substr(0, parsed->ValueStart) + encoded;
                return;
            }
        }
    }

    if (!first) {
        const auto erased = std::find_if(FBlocks.begin(), FBlocks.end(), [&](const TBlock& block) {
            return block.Kind == TBlockKind::bkErased && SameName(block.Name, sectionName);
        });
        if (erased != FBlocks.end()) {
            first = &*erased;
        } else {
            if (FBlocks.empty()) FBlocks.emplace_back();
            first = &FBlocks.emplace_back();
        }
        first->Kind = TBlockKind::bkSection;
        first->Name = sectionName;
        first->Header = "[" + sectionName + "]";
    }
    const auto at = static_cast<std::ptrdiff_t>(EndOfKeys(first->Lines));
    first->Lines.insert(first->Lines.begin() + at, keyName + "=" + encoded);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::EraseSection(std::string_view section) {
    const std::string_view name = Trim(section);
    for (TBlock& block : FBlocks) {
        if (block.Kind != TBlockKind::bkSection || !SameName(block.Name, name)) continue;
        block.Kind = TBlockKind::bkErased;
        block.Header.clear();
        const auto keysEnd = static_cast<std::ptrdiff_t>(EndOfKeys(block.Lines));
        block.Lines.erase(block.Lines.begin(), block.Lines.begin() + keysEnd);
    }
}

std::string SettingsFilePath(std::string_view roamingFolder) {
    constexpr std::string_view tail = "Velthane/Korvalin/settings.ini";
    if (roamingFolder.empty()) return std::string(tail);
    // One separator between the parts, also when the folder is given with one.
    while (roamingFolder.ends_with('/')) roamingFolder.remove_suffix(1);
    return std::string(roamingFolder) + "/" + std::string(tail);
}

std::vector<TRecentEntry> LoadRecentEntries(const std::string& fileName) noexcept {
    try {
        TIniFile ini;
        ini.LoadFromFile(fileName);
        const int count = std::min(ini.ReadInteger(RecentSection, "Count", 0), MaxRecentFiles);
        std::vector<TRecentEntry> entries;
        for (int i = 0; i < count; ++i) {
            const std::string index = std::to_string(i);
            std::string path = ini.ReadString(RecentSection, "Path" + index, "");
            if (path.empty()) continue;
            const bool saved = ini.ReadInteger(RecentSection, "Saved" + index, 0) != 0;
            entries.push_back(TRecentEntry{std::move(path), saved});
        }
        return entries;
    } catch (...) {
        return {};
    }
}

void SaveRecentEntries(const std::string& fileName, std::span<const TRecentEntry> entries) {
    // Reading first keeps the other sections; a file that exists but cannot be
    // read throws here, before anything could overwrite it.
    TIniFile ini;
    ini.LoadFromFile(fileName);

    std::vector<const TRecentEntry*> storable;
    for (const TRecentEntry& entry : entries) {
        if (!HasLineBreak(entry.Path)) storable.push_back(&entry);
    }

    ini.EraseSection(RecentSection);
    ini.WriteInteger(RecentSection, "Count", static_cast<int>(storable.size()));
    for (std::size_t i = 0; i < storable.size(); ++i) {
        const std::string index = std::to_string(i);
        ini.WriteString(RecentSection, "Path" + index, storable[i]->Path);
        ini.WriteInteger(RecentSection, "Saved" + index, storable[i]->Saved ? 1 : 0);
    }
    ini.SaveToFile(fileName);
}

std::string LoadNotationMode(const std::string& fileName) noexcept {
    try {
        TIniFile ini;
        ini.LoadFromFile(fileName);
        std::string mode = ini.ReadString(NotationSection, "Mode", "literal");
        for (char& c : mode) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return mode == "readable" ? "readable" : "literal";
    } catch (...) {
        return "literal";
    }
}

void SaveNotationMode(const std::string& fileName, std::string_view mode) {
    TIniFile ini;
    ini.LoadFromFile(fileName);
    ini.WriteString(NotationSection, "Mode", mode);
    ini.SaveToFile(fileName);
}

std::string LoadSoundFontFile(const std::string& fileName) noexcept {
    try {
        TIniFile ini;
        ini.LoadFromFile(fileName);
        return ini.ReadString(PlaybackSection, "SoundFont", "");
    } catch (...) {
        return {};
    }
}

void SaveSoundFontFile(const std::string& fileName, std::string_view soundFont) {
    TIniFile ini;
    ini.LoadFromFile(fileName);
    ini.WriteString(PlaybackSection, "SoundFont", soundFont);
    ini.SaveToFile(fileName);
}

}  // namespace korvalin
