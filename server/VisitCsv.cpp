#include "server/VisitCsv.h"

#include <array>
#include <cctype>
#include <string_view>

#include "history/CsvField.h"

namespace vek::history {

namespace {

// The line's own fields, in the columns' order; the visit (derived for a line written before the
// chain), the UTC time and received_at come from the server.
constexpr std::array<std::string_view, 19> kLineColumns{
    "journal",        "seq",          "station", "utc_offset",   "identifier",
    "hardware_type",  "tool_version", "port",    "stable_name",  "firmware_before",
    "firmware_after", "profile",      "block",   "block_before", "block_after",
    "result",         "reason",       "error",   "duration_s"};
constexpr std::array<std::string_view, 3> kStoppedKeys{"step", "packet", "packets"};
constexpr std::size_t kActions = kLineColumns.size();
constexpr std::size_t kStopped = kActions + 1;
constexpr std::size_t kFieldCount = kStopped + kStoppedKeys.size();
constexpr int kDeepest = 64;  // nesting a stored line may have before it is taken as malformed

template <std::size_t N>
std::size_t indexOf(const std::array<std::string_view, N>& names, std::string_view name) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == name)
            return i;
    return N;
}

void appendUtf8(std::string& out, char32_t code) {
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

// The stored line read once, front to back, keeping the text of the fields the rows show: a
// string as it is, a number or true/false as written, null or a nested value as nothing. Read
// without building a document, since an export reads every line there is. A line that is not
// one JSON object leaves every field empty.
class LineFields {
  public:
    explicit LineFields(std::string_view json) : at_(json.data()), end_(at_ + json.size()) {
        if (!readLine())
            fields = {};
    }
    std::array<std::string, kFieldCount> fields;

  private:
    bool readLine() {
        return readObject([this](std::string_view key) {
                   if (const std::size_t column = indexOf(kLineColumns, key); column < kActions)
                       return readScalar(fields[column]);
                   if (key == "actions")
                       return readActions();
                   if (key == "stopped_at" && peek() == '{')
                       return readObject([this](std::string_view stopped) {
                           const std::size_t i = indexOf(kStoppedKeys, stopped);
                           return i < kStoppedKeys.size() ? readScalar(fields[kStopped + i])
                                                          : skip(1);
                       });
                   return skip(0);
               }) &&
               (space(), at_ == end_);
    }

    // The actions' names, apart by spaces.
    bool readActions() {
        if (peek() != '[')
            return skip(0);
        std::string& actions = fields[kActions];
        actions.clear();
        ++at_;
        if (take(']'))
            return true;
        bool first = true;
        do {
            std::string name;
            if (peek() == '"' ? !readString(name) : !skip(1))
                return false;
            actions += first ? name : ' ' + name;
            first = false;
        } while (take(','));
        return take(']');
    }

    template <typename Member>
    bool readObject(const Member& member) {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            std::string key;
            if (!readString(key) || !take(':') || !member(std::string_view(key)))
                return false;
        } while (take(','));
        return take('}');
    }

    bool readScalar(std::string& out) {
        out.clear();
        const char next = peek();
        if (next == '"')
            return readString(out);
        if (next == '{' || next == '[')
            return skip(1);
        const char* start = at_;
        while (at_ < end_ && (std::isalnum(static_cast<unsigned char>(*at_)) || *at_ == '-' ||
                              *at_ == '+' || *at_ == '.'))
            ++at_;
        const std::string_view token(start, std::size_t(at_ - start));
        if (token == "null")
            return true;
        if (token.empty() || (token != "true" && token != "false" &&
                              !(std::isdigit(static_cast<unsigned char>(token.back())))))
            return false;
        out = token;
        return true;
    }

    bool skip(int depth) {
        if (depth > kDeepest)
            return false;
        std::string ignored;
        switch (peek()) {
            case '{':
                return readObject([&](std::string_view) { return skip(depth + 1); });
            case '[':
                ++at_;
                if (take(']'))
                    return true;
                do
                    if (!skip(depth + 1))
                        return false;
                while (take(','));
                return take(']');
            default:
                return readScalar(ignored);
        }
    }

    bool readString(std::string& out) {
        if (!take('"'))
            return false;
        while (at_ < end_) {
            const char c = *at_++;
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ == end_)
                return false;
            switch (*at_++) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    if (!readEscapedCode(out))
                        return false;
                    break;
                default:
                    return false;
            }
        }
        return false;
    }

    // After "\u": a character, or two escapes making one beyond the first plane.
    bool readEscapedCode(std::string& out) {
        char32_t code = 0;
        if (!readHex(code))
            return false;
        if (code >= 0xD800 && code < 0xDC00 && end_ - at_ >= 6 && at_[0] == '\\' && at_[1] == 'u') {
            at_ += 2;
            char32_t low = 0;
            if (!readHex(low))
                return false;
            code = low >= 0xDC00 && low < 0xE000
                       ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)
                       : 0xFFFD;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // half of a pair
        }
        appendUtf8(out, code);
        return true;
    }

    bool readHex(char32_t& code) {
        if (end_ - at_ < 4)
            return false;
        for (int i = 0; i < 4; ++i) {
            const char c = *at_++;
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            code = code * 16 + char32_t(digit);
        }
        return true;
    }

    void space() {
        while (at_ < end_ && (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r'))
            ++at_;
    }
    char peek() {
        space();
        return at_ < end_ ? *at_ : '\0';
    }
    bool take(char c) {
        if (peek() != c)
            return false;
        ++at_;
        return true;
    }

    const char* at_;
    const char* end_;
};

void appendText(std::string& out, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    appendCsvField(out, std::string_view(utf8.constData(), std::size_t(utf8.size())));
}

}  // namespace

std::string visitCsvHeader() {
    std::string header = "visit,time";
    for (const std::string_view column : kLineColumns)
        header.append(",").append(column);
    return header + ",actions,stopped_step,stopped_packet,stopped_packets,received_at\n";
}

void appendVisitCsvRow(std::string& out, const StoredVisit& visit) {
    const LineFields line(std::string_view(visit.line.constData(), std::size_t(visit.line.size())));
    appendText(out, visit.visit);
    out += ',';
    appendText(out, visit.time);
    for (const std::string& field : line.fields) {
        out += ',';
        appendCsvField(out, field);
    }
    out += ',';
    appendText(out, visit.receivedAt);
    out += '\n';
}

}  // namespace vek::history
