// The settings file, an ini file kept as its own lines.

#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korvalin {

// A name or value that an ini file cannot hold, or a file that is not UTF-8 text.
class EIniError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A Windows-style ini file held as its lines, so that a save changes only what
// was written: every other section, key, comment and blank line goes back to
// disk with the bytes it had. Section and key names are trimmed and compared
// without regard to the case of ASCII letters (other letters compare exactly).
// Values are trimmed; one pair of matching quotes (" or ') around a value is
// removed on reading, as Windows does, and added on writing where a value would
// otherwise lose its edge spaces or its own quotes. Lines starting with ";" or
// "#" are comments. Lines end at LF; a CR before it is dropped on reading and
// every line is written with CR LF, after a UTF-8 byte-order mark.
class TIniFile {
public:
    // Replaces the contents with the text of a file, with or without a UTF-8
    // byte-order mark. A UTF-16 or UTF-32 byte-order mark raises EIniError.
    void LoadFromBytes(std::string_view bytes);
    // As LoadFromBytes with the whole file; a file that does not exist reads as
    // empty, any other failure to read raises EFileError.
    void LoadFromFile(const std::string& fileName);

    // The file as it would be written: byte-order mark, lines with CR LF.
    std::string SaveToBytes() const;
    // Creates the missing folders of fileName and writes the file whole
    // (EFileError on failure; the old file is then left as it was).
    void SaveToFile(const std::string& fileName) const;

    bool SectionExists(std::string_view section) const;
    // The first value of key in the first section of that name that has it.
    std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // Decimal, or hexadecimal after "0x" or "$", with an optional sign; any
    // other text, and a number outside the range of int, gives defaultValue.
    int ReadInteger(std::string_view section, std::string_view key, int defaultValue) const;

    // Sets key in the first section of that name: in place when the key exists,
    // else after the section's last key; a missing section is created where an
    // erased one of that name stood, or at the end. EIniError for a name or a
    // value that cannot be written (empty names, line breaks, "=" in a key, a
    // key that would read as a comment or a section header).
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    // Removes every section of that name with its keys and the comments among
    // them; blank lines and comments after its last key stay, as they lead into
    // what follows. The first one's place is kept for a later WriteString.
    void EraseSection(std::string_view section);

private:
    enum class TBlockKind { bkPreamble, bkSection, bkErased };
    // The lines before the first section header, one section (header and the
    // lines up to the next header), or what is left of an erased section.
    struct TBlock {
        TBlockKind Kind = TBlockKind::bkPreamble;
        std::string Name;
        std::string Header;
        std::vector<std::string> Lines;
    };

    const TBlock* FindSection(std::string_view section) const;

    std::vector<TBlock> FBlocks;
};

// One entry of the recent-files history.
struct TRecentEntry {
    std::string Path;
    bool Saved = false;  // written by the program, rather than opened by the user

    bool operator==(const TRecentEntry&) const = default;
};

inline constexpr int MaxRecentFiles = 10;
inline constexpr std::string_view NotationSection = "Notation";
inline constexpr std::string_view RecentSection = "Recent";
inline constexpr std::string_view PlaybackSection = "Playback";

// The settings file below the roaming application-data folder:
// roamingFolder/Velthane/Korvalin/settings.ini, or that path relative to the
// current folder when roamingFolder is empty.
std::string SettingsFilePath(std::string_view roamingFolder);

// The history stored in the settings file, newest first: at most
// MaxRecentFiles entries, empty paths skipped. A missing, unreadable or
// malformed file gives an empty history; nothing is thrown.
std::vector<TRecentEntry> LoadRecentEntries(const std::string& fileName) noexcept;

// Replaces the section "Recent" of the settings file with entries, keeping the
// rest of the file, and writes it whole. An entry whose path holds a line break
// cannot be stored and is left out. Throws EFileError or EIniError on failure,
// leaving the file on disk as it was.
void SaveRecentEntries(const std::string& fileName, std::span<const TRecentEntry> entries);

// The notation chosen for scores, "literal" or "readable", from the key Mode of
// the section "Notation"; anything else, or no file, gives "literal". Nothing
// is thrown.
std::string LoadNotationMode(const std::string& fileName) noexcept;

// Stores the notation in its own section, keeping the rest of the file (the
// history included) as it was. Throws EFileError or EIniError on failure,
// leaving the file on disk as it was.
void SaveNotationMode(const std::string& fileName, std::string_view mode);

// The SoundFont file the user chose, from the key SoundFont of the section
// "Playback"; empty (the system's default) when none is stored or the file
// cannot be read. Nothing is thrown.
std::string LoadSoundFontFile(const std::string& fileName) noexcept;

// Stores the chosen SoundFont (empty: the default), keeping the rest of the
// file. Throws EFileError or EIniError, leaving the file as it was.
void SaveSoundFontFile(const std::string& fileName, std::string_view soundFont);

}  // namespace korvalin
