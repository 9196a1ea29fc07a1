// Names of the readable notation: the part name as shown, and the short form
// written on the systems after the first.

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <span>
#include <string>

#include "ReadableSteps.h"

namespace korvalin {
namespace {

// Abbreviations a musician knows, matched on the lower-case name; the longer
// names come before the shorter ones they contain ("bassoon" before "bass").
struct TAbbreviation {
    std::string_view Word;
    std::string_view Short;
};

constexpr TAbbreviation kAbbreviations[] = {
    {"harpsichord", "Hpd."},
    {"cembalo", "Cemb."},
    {"piano", "Pno."},
    {"klavier", "Klav."},
    {"organ", "Org."},
    {"celesta", "Cel."},
    {"accordion", "Acc."},
    {"harp", "Hp."},
    {"piccolo", "Picc."},
    {"flute", "Fl."},
    {"oboe", "Ob."},
    {"english horn", "E. Hn."},
    {"cor anglais", "C. A."},
    {"bass clarinet", "B. Cl."},
    {"clarinet", "Cl."},
    {"contrabassoon", "Cbsn."},
    {"bassoon", "Bsn."},
    {"soprano sax", "S. Sax."},
    {"alto sax", "A. Sax."},
    {"tenor sax", "T. Sax."},
    {"baritone sax", "Bar. Sax."},
    {"sax", "Sax."},
    {"horn", "Hn."},
    {"trumpet", "Tpt."},
    {"trombone", "Tbn."},
    {"tuba", "Tba."},
    {"violoncello", "Vc."},
    {"cello", "Vc."},
    {"violin", "Vln."},
    {"viola", "Vla."},
    {"contrabass", "Cb."},
    {"double bass", "Cb."},
    {"bass drum", "B. Dr."},
    {"snare", "S. Dr."},
    {"drum", "Dr."},
    {"percussion", "Perc."},
    {"timpani", "Timp."},
    {"xylophone", "Xyl."},
    {"marimba", "Mar."},
    {"vibraphone", "Vib."},
    {"glockenspiel", "Glk."},
    {"bass guitar", "B. Gtr."},
    {"guitar", "Gtr."},
    {"bass", "Bs."},
    {"soprano", "S."},
    {"alto", "A."},
    {"tenor", "T."},
    {"baritone", "Bar."},
    {"choir", "Ch."},
    {"vocal", "Voc."},
    {"voice", "V."},
    {"strings", "Str."},
    {"synth", "Syn."},
    {"recorder", "Rec."},
    {"фортепиано", "Ф-но"},
    {"рояль", "Ф-но"},
    {"пианино", "Ф-но"},
    {"клавесин", "Клав."},
    {"орган", "Орг."},
    {"арфа", "Арф."},
    {"флейта", "Фл."},
    {"гобой", "Гоб."},
    {"кларнет", "Кл."},
    {"фагот", "Фаг."},
    {"валторна", "Влт."},
    {"труба", "Тр-ба"},
    {"тромбон", "Трб."},
    {"туба", "Туба"},
    {"скрипк", "Скр."},
    {"виолончель", "Влч."},
    {"альт", "Альт"},
    {"контрабас", "Кб."},
    {"гитара", "Гит."},
    {"бас", "Бас"},
    {"ударн", "Уд."},
    {"барабан", "Бар."},
    {"аккордеон", "Акк."},
    {"баян", "Баян"},
    {"голос", "Гол."},
    {"сопрано", "С."},
    {"тенор", "Т."},
    {"хор", "Хор"},
};

// A number at the end of a name ("Violin 2", "Horn II") that tells parts apart.
std::string_view TrailingNumber(std::string_view name) {
    std::size_t at = name.size();
    while (at > 0 &&
           (std::isdigit(static_cast<unsigned char>(name[at - 1])) || name[at - 1] == 'I' || name[at - 1] == 'V'))
        --at;
    if (at == name.size() || at == 0 || name[at - 1] != ' ') return {};
    return name.substr(at);
}

// The first `count` characters of a UTF-8 text.
std::string_view Characters(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size() && seen < count; ++seen) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return text.substr(0, at);
}

std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

}  // namespace

std::string LowercaseName(std::string_view name) {
    std::string lower;
    lower.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
        if (c >= 'A' && c <= 'Z') {
            lower += static_cast<char>(c + 32);
        } else if (c == 0xD0 && next >= 0x90 && next <= 0x9F) {  // А..П
            lower += static_cast<char>(0xD0);
            lower += static_cast<char>(next + 0x20);
            ++i;
        } else if (c == 0xD0 && next >= 0xA0 && next <= 0xAF) {  // Р..Я
            lower += static_cast<char>(0xD1);
            lower += static_cast<char>(next - 0x20);
            ++i;
        } else if (c == 0xD0 && next == 0x81) {  // Ё
            lower += "\xD1\x91";
            ++i;
        } else {
            lower += static_cast<char>(c);
        }
    }
    return lower;
}

std::string ReadablePartName(const TMidiTrack& track) {
    // As the transcription names it, and without the control characters many
    // files end their names with (a zero byte, a carriage return).
    const auto clean = [](std::string_view text) {
        std::string out;
        for (const char c : text)
            if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        const auto first = out.find_first_not_of(' ');
        if (first == std::string::npos) return std::string();
        return out.substr(first, out.find_last_not_of(' ') - first + 1);
    };
    std::string name = clean(track.ExportName);
    return name.empty() ? clean(track.Name) : name;
}

namespace {

constexpr std::string_view kRightHand[] = {"right hand", "right", "r.h.", "rh", "правая рука", "правая", "пр. р."};
constexpr std::string_view kLeftHand[] = {"left hand", "left", "l.h.", "lh", "левая рука", "левая", "лев. р."};

// The lower-case name without its hand word, or nothing when it has none.
std::optional<std::string> WithoutHandWord(const std::string& lower, std::span<const std::string_view> words) {
    for (const auto word : words) {
        const auto at = lower.find(word);
        if (at == std::string::npos) continue;
        const bool startsWord = at == 0 || !std::isalpha(static_cast<unsigned char>(lower[at - 1]));
        const std::size_t end = at + word.size();
        const bool endsWord = end == lower.size() || !std::isalpha(static_cast<unsigned char>(lower[end]));
        if (!startsWord || !endsWord) continue;
        std::string rest = lower.substr(0, at) + lower.substr(end);
        const auto isTrimmed = [](char c) { return c == ' ' || c == '-' || c == '(' || c == ')' || c == ','; };
        while (!rest.empty() && isTrimmed(rest.front())) rest.erase(rest.begin());
        while (!rest.empty() && isTrimmed(rest.back())) rest.pop_back();
        return rest;
    }
    return std::nullopt;
}

}  // namespace

bool AreTwoHands(std::string_view first, std::string_view second) {
    const std::string a = LowercaseName(first), b = LowercaseName(second);
    const auto rightOfA = WithoutHandWord(a, kRightHand), leftOfB = WithoutHandWord(b, kLeftHand);
    if (rightOfA && leftOfB) return *rightOfA == *leftOfB;
    const auto leftOfA = WithoutHandWord(a, kLeftHand), rightOfB = WithoutHandWord(b, kRightHand);
    return leftOfA && rightOfB && *leftOfA == *rightOfB;
}

bool NamesOneHand(std::string_view name) {
    const std::string lower = LowercaseName(name);
    return WithoutHandWord(lower, kRightHand).has_value() || WithoutHandWord(lower, kLeftHand).has_value();
}

bool NamesAnInstrument(std::string_view name) {
    static constexpr std::string_view kKeyboards[] = {"Hpd.", "Cemb.", "Pno.",  "Klav.", "Org.", "Cel.", "Acc.",
                                                      "Hp.",  "Ф-но",  "Клав.", "Орг.",  "Арф.", "Акк.", "Баян"};
    const std::string lower = LowercaseName(name);
    for (const auto& entry : kAbbreviations)
        if (lower.find(entry.Word) != std::string::npos)
            return std::find(std::begin(kKeyboards), std::end(kKeyboards), entry.Short) == std::end(kKeyboards);
    return false;
}

std::string PartAbbreviation(std::string_view name, TReadableStaves staves) {
    const std::string lower = LowercaseName(name);
    const std::string_view number = TrailingNumber(name);
    const auto withNumber = [&](std::string_view shortForm) {
        std::string out(shortForm);
        if (!number.empty()) out += " " + std::string(number);
        return out;
    };
    for (const auto& entry : kAbbreviations)
        if (lower.find(entry.Word) != std::string::npos) return withNumber(entry.Short);
    if (staves == TReadableStaves::rsPercussion) return withNumber("Perc.");
    if (CharacterCount(name) <= 5) return std::string(name);
    // Otherwise the first three letters of the first word.
    const std::string_view word = name.substr(0, name.find(' '));
    return withNumber(std::string(Characters(word, 3)) + ".");
}

}  // namespace korvalin
