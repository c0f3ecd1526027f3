#pragma once

#include <map>
#include <string>

// The INI form of the client's settings store, which writes spawn.ini and
// reads stats.dmp: "%XX" and "%UXXXX" escapes and "\" for "/" in section and
// key names; values quoted where they hold ';', ',' or '=' or edge spaces,
// C-style backslash escapes, and other than ASCII either raw UTF-8 or "\x"
// escapes of UTF-16 units. Text here is UTF-8; keys are "Section/Key".
class IniFile
{
public:
    enum class Status { Ok, Unreadable, BadFormat };

    // Adds the file's keys. BadFormat is a section header without its ']',
    // the one fault the store reports on reading; the keys still count.
    Status read(const std::string &path);
    // Empty when absent, and for an unquoted list ("a, b"), which is no
    // single string to the store either.
    std::string value(const std::string &key) const;
    bool hasGroup(const std::string &group) const;

    void setValue(const std::string &key, const std::string &value);
    // Sections and keys in sorted order, lines ending "\n" on every system,
    // non-ASCII escaped so that the store reads it without a codec set.
    bool write(const std::string &path) const;

private:
    std::map<std::string, std::string> m_values;
};
