#include "ini.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t None = std::string::npos;
constexpr char16_t Replacement = 0xFFFD;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::u16string utf8ToUtf16(const std::string &in)
{
    std::u16string out;
    for (std::size_t i = 0; i < in.size();) {
        const unsigned char lead = static_cast<unsigned char>(in[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
        char32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool ok = extra >= 0 && i + std::size_t(extra) < in.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(in[i + std::size_t(k)]);
            ok = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        ok = ok && code >= least[extra < 0 ? 0 : extra] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!ok) {
            out += Replacement;
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            out += char16_t(0xD800 + ((code - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += char16_t(code);
        }
        i += std::size_t(extra) + 1;
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string &in)
{
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t code = in[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF)
            code = 0x10000 + ((code - 0xD800) << 10) + (in[++i] - 0xDC00);
        else if (code >= 0xD800 && code <= 0xDFFF)
            code = Replacement;
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// One logical line from pos: leading space skipped, comment lines dropped,
// quotes spanning line ends, a backslash taking the next character along,
// and an unquoted ';' ending the line. equals is the first unquoted '='.
bool nextLine(const std::string &d, std::size_t &pos, std::size_t &start, std::size_t &length, std::size_t &equals)
{
    bool inQuotes = false;
    equals = None;
    start = pos;
    while (start < d.size() && isSpace(d[start]))
        ++start;
    std::size_t i = start;
    while (i < d.size()) {
        const char ch = d[i++];
        if (ch == '=') {
            if (!inQuotes && equals == None)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < d.size()) {
                const char escaped = d[i++];
                if (i < d.size() && ((escaped == '\n' && d[i] == '\r') || (escaped == '\r' && d[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < d.size() && d[i] != '\n' && d[i] != '\r')
                    ++i;
                while (i < d.size() && isSpace(d[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    length = i - start;
    return length > 0;
}

std::string unescapeKey(const std::string &d, std::size_t from, std::size_t to)
{
    std::u16string out;
    std::string raw;
    auto flushRaw = [&] {
        out += utf8ToUtf16(raw);
        raw.clear();
    };
    for (std::size_t i = from; i < to;) {
        const char ch = d[i];
        if (ch == '\\') {
            raw += '/';
            ++i;
            continue;
        }
        const bool wide = ch == '%' && i + 1 < to && d[i + 1] == 'U';
        const std::size_t digits = wide ? 4 : 2;
        const std::size_t first = i + (wide ? 2 : 1);
        unsigned code = 0;
        bool ok = ch == '%' && i + 1 < to && first + digits <= to;
        for (std::size_t k = 0; ok && k < digits; ++k) {
            const int v = hexValue(d[first + k]);
            ok = v >= 0;
            code = code * 16 + unsigned(v);
        }
        if (!ok) {
            raw += ch;
            ++i;
            continue;
        }
        flushRaw();
        out += char16_t(code);
        i = first + digits;
    }
    flushRaw();
    return utf16ToUtf8(out);
}

void chopTrailingSpaces(std::u16string &s, std::size_t limit)
{
    while (s.size() > limit && (s.back() == u' ' || s.back() == u'\t'))
        s.pop_back();
}

// A value from d[i, to): unquoted spaces at the ends dropped, escapes
// resolved; empty for a list, which an unquoted ',' makes.
std::string unescapeValue(const std::string &d, std::size_t i, std::size_t to)
{
    static const char simple[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                     {'v', '\v'}, {'"', '"'},  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    std::u16string out;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    bool chop = true;
    auto skipSpaces = [&] {
        while (i < to && (d[i] == ' ' || d[i] == '\t'))
            ++i;
    };
    skipSpaces();
    std::size_t chopLimit = 0;
    while (i < to) {
        const char ch = d[i];
        if (ch == '\\') {
            if (++i >= to) {
                chop = false;
                break;
            }
            const char code = d[i++];
            bool known = false;
            for (const auto &pair : simple) {
                if (code == pair[0]) {
                    out += char16_t(pair[1]);
                    known = true;
                }
            }
            const int base = code == 'x' ? 16 : (code >= '0' && code <= '7') ? 8 : 0;
            if (!known && base != 0) {
                unsigned value = base == 8 ? unsigned(code - '0') : 0;
                const std::size_t digitsFrom = i;
                for (int v; i < to && (v = hexValue(d[i])) >= 0 && v < base; ++i)
                    value = value * unsigned(base) + unsigned(v);
                if (base == 8 || i > digitsFrom)
                    out += char16_t(value & 0xFFFF);
                else if (i >= to)
                    chop = false;
            } else if (!known && (code == '\n' || code == '\r')) {
                if (i < to && (d[i] == '\n' || d[i] == '\r') && d[i] != code)
                    ++i;
            }
            chopLimit = out.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = out.size();
            }
        } else if (ch == ',' && !inQuotes) {
            isList = true;
            out.clear();
            quoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            std::size_t j = i + 1;
            while (j < to && d[j] != '\\' && d[j] != '"' && d[j] != ',')
                ++j;
            out += utf8ToUtf16(d.substr(i, j - i));
            i = j;
        }
    }
    if (isList)
        return std::string();
    if (chop && !quoted)
        chopTrailingSpaces(out, chopLimit);
    // "@@" keeps a leading '@' from reading as a typed value.
    if (out.size() >= 2 && out[0] == u'@' && out[1] == u'@')
        out.erase(0, 1);
    return utf16ToUtf8(out);
}

std::string escapeValue(const std::string &value)
{
    std::u16string units = utf8ToUtf16(value);
    if (!units.empty() && units[0] == u'@')
        units.insert(units.begin(), u'@');
    std::string out;
    bool needsQuotes = false;
    bool escapeNextIfHex = false;
    auto hex = [](unsigned v) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%x", v);
        return std::string(text);
    };
    for (const char16_t unit : units) {
        if (unit == u';' || unit == u',' || unit == u'=')
            needsQuotes = true;
        if (escapeNextIfHex && unit < 0x80 && hexValue(char(unit)) >= 0) {
            out += hex(unit);
            continue;
        }
        escapeNextIfHex = false;
        switch (unit) {
        case u'\0': out += "\\0"; escapeNextIfHex = true; break;
        case u'\a': out += "\\a"; break;
        case u'\b': out += "\\b"; break;
        case u'\f': out += "\\f"; break;
        case u'\n': out += "\\n"; break;
        case u'\r': out += "\\r"; break;
        case u'\t': out += "\\t"; break;
        case u'\v': out += "\\v"; break;
        case u'"':
        case u'\\':
            out += '\\';
            out += char(unit);
            break;
        default:
            if (unit <= 0x1F || unit >= 0x7F) {
                out += hex(unit);
                escapeNextIfHex = true;
            } else {
                out += char(unit);
            }
        }
    }
    if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

} // namespace

IniFile::Status IniFile::read(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return Status::Unreadable;
    std::string d;
    char block[8192];
    std::size_t got = 0;
    // Bounded: spawn and control files are small.
    for (int i = 0; i < 4096 && (got = std::fread(block, 1, sizeof block, file)) > 0; ++i)
        d.append(block, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return Status::Unreadable;

    Status status = Status::Ok;
    std::size_t pos = d.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t equals = None;
    std::string section;
    while (nextLine(d, pos, start, length, equals)) {
        if (d[start] == '[') {
            const std::size_t close = d.find(']', start);
            std::size_t nameEnd = close;
            if (close == None || close >= start + length) {
                status = Status::BadFormat;
                nameEnd = start + length;
            }
            std::size_t from = start + 1;
            while (from < nameEnd && isSpace(d[from]))
                ++from;
            while (nameEnd > from && isSpace(d[nameEnd - 1]))
                --nameEnd;
            const std::string name = d.substr(from, nameEnd - from);
            std::string lower;
            for (const char c : name)
                lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
            if (lower == "general")
                section.clear();
            else if (lower == "%general")
                section = name.substr(1) + '/';
            else
                section = unescapeKey(name, 0, name.size()) + '/';
            continue;
        }
        if (equals == None)
            continue;
        std::size_t keyEnd = equals;
        while (keyEnd > start && (d[keyEnd - 1] == ' ' || d[keyEnd - 1] == '\t'))
            --keyEnd;
        m_values[section + unescapeKey(d, start, keyEnd)] = unescapeValue(d, equals + 1, start + length);
    }
    return status;
}

std::string IniFile::value(const std::string &key) const
{
    const auto found = m_values.find(key);
    return found == m_values.end() ? std::string() : found->second;
}

bool IniFile::hasGroup(const std::string &group) const
{
    const std::string prefix = group + '/';
    const auto found = m_values.lower_bound(prefix);
    return found != m_values.end() && found->first.compare(0, prefix.size(), prefix) == 0;
}

void IniFile::setValue(const std::string &key, const std::string &value)
{
    m_values[key] = value;
}

bool IniFile::write(const std::string &path) const
{
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections;
    for (const auto &entry : m_values) {
        const std::size_t slash = entry.first.find('/');
        const std::string section = slash == None ? std::string() : entry.first.substr(0, slash);
        sections[section].emplace_back(slash == None ? entry.first : entry.first.substr(slash + 1), entry.second);
    }
    std::string text;
    for (const auto &section : sections) {
        if (!text.empty())
            text += '\n';
        text += '[' + (section.first.empty() ? std::string("General") : section.first) + "]\n";
        for (const auto &entry : section.second)
            text += entry.first + '=' + escapeValue(entry.second) + '\n';
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}
