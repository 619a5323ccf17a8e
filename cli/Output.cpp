#include "cli/Output.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace keeptime::cli {

namespace {

bool control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

std::string escaped(char c) {
    switch (c) {
        case '\a': return "\\a";
        case '\b': return "\\b";
        case '\t': return "\\t";
        case '\n': return "\\n";
        case '\v': return "\\v";
        case '\f': return "\\f";
        case '\r': return "\\r";
        default: {
            const auto byte = static_cast<unsigned char>(c);
            return {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                    static_cast<char>('0' + (byte & 7))};
        }
    }
}

}  // namespace

std::string quotedName(const std::string& name) {
    if (std::none_of(name.begin(), name.end(), control)) return name;
    // Quoted runs of plain characters and $'...' runs of control characters, as ls --quoting-style=shell-escape.
    std::string quoted = "'";
    bool inEscapes = false;
    for (char c : name) {
        if (control(c)) {
            if (!inEscapes) quoted += "'$'";
            inEscapes = true;
            quoted += escaped(c);
            continue;
        }
        if (inEscapes) quoted += "''";
        inEscapes = false;
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string oneLine(const std::string& text) {
    if (std::none_of(text.begin(), text.end(), control)) return text;
    std::string line;
    for (char c : text) line += control(c) ? escaped(c) : std::string(1, c);
    return line;
}

std::string jsonText(const nlohmann::ordered_json& value) {
    return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void putName(nlohmann::ordered_json& object, const std::string& key, const std::string& name) {
    object[key] = name;
    try {  // the test the JSON writer itself makes
        (void)nlohmann::json(name).dump();
    } catch (const nlohmann::json::type_error&) {
        std::string hex;
        for (unsigned char byte : name) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
        object[key + "Bytes"] = hex;
    }
}

}  // namespace keeptime::cli
