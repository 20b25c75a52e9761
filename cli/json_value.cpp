#include "cli/json_value.h"

#include <cstdio>

CJsonValue CJsonValue::Bool(bool value) {
    CJsonValue v;
    v.kind_ = EKind::Bool;
    v.int_ = value ? 1 : 0;
    return v;
}

CJsonValue CJsonValue::Int(int64_t value) {
    CJsonValue v;
    v.kind_ = EKind::Int;
    v.int_ = value;
    return v;
}

CJsonValue CJsonValue::Latin1(std::string bytes) {
    CJsonValue v;
    v.kind_ = EKind::Latin1;
    v.text_ = std::move(bytes);
    return v;
}

CJsonValue CJsonValue::Utf8(std::string bytes) {
    CJsonValue v;
    v.kind_ = EKind::Utf8;
    v.text_ = std::move(bytes);
    return v;
}

CJsonValue CJsonValue::Array() {
    CJsonValue v;
    v.kind_ = EKind::Array;
    return v;
}

CJsonValue CJsonValue::Object() {
    CJsonValue v;
    v.kind_ = EKind::Object;
    return v;
}

CJsonValue& CJsonValue::Push(CJsonValue value) {
    items_.push_back(std::move(value));
    return items_.back();
}

CJsonValue& CJsonValue::Set(std::string key, CJsonValue value) {
    members_.emplace_back(std::move(key), std::move(value));
    return members_.back().second;
}

namespace {

void AppendCodePoint(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when the
// bytes there are not a valid, shortest-form sequence of a scalar value.
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, min = 0x80, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, min = 0x800, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

void AppendEscaped(std::string& out, const std::string& utf8) {
    out += '"';
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", u);
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

std::string DisplayText(const CJsonValue& v) {
    return v.Kind() == CJsonValue::EKind::Latin1 ? Latin1ToUtf8(v.Bytes()) : SanitizeUtf8(v.Bytes());
}

void WriteJsonTo(std::string& out, const CJsonValue& v, int indent) {
    const std::string pad(static_cast<size_t>(indent + 2), ' ');
    switch (v.Kind()) {
        case CJsonValue::EKind::Null: out += "null"; break;
        case CJsonValue::EKind::Bool: out += v.BoolValue() ? "true" : "false"; break;
        case CJsonValue::EKind::Int: out += std::to_string(v.IntValue()); break;
        case CJsonValue::EKind::Latin1:
        case CJsonValue::EKind::Utf8: AppendEscaped(out, DisplayText(v)); break;
        case CJsonValue::EKind::Array:
            if (v.Items().empty()) {
                out += "[]";
                break;
            }
            out += "[\n";
            for (size_t i = 0; i < v.Items().size(); ++i) {
                out += pad;
                WriteJsonTo(out, v.Items()[i], indent + 2);
                out += i + 1 < v.Items().size() ? ",\n" : "\n";
            }
            out.append(static_cast<size_t>(indent), ' ');
            out += ']';
            break;
        case CJsonValue::EKind::Object:
            if (v.Members().empty()) {
                out += "{}";
                break;
            }
            out += "{\n";
            for (size_t i = 0; i < v.Members().size(); ++i) {
                out += pad;
                AppendEscaped(out, SanitizeUtf8(v.Members()[i].first));
                out += ": ";
                WriteJsonTo(out, v.Members()[i].second, indent + 2);
                out += i + 1 < v.Members().size() ? ",\n" : "\n";
            }
            out.append(static_cast<size_t>(indent), ' ');
            out += '}';
            break;
    }
}

std::string ScalarText(const CJsonValue& v) {
    switch (v.Kind()) {
        case CJsonValue::EKind::Null: return "-";
        case CJsonValue::EKind::Bool: return v.BoolValue() ? "yes" : "no";
        case CJsonValue::EKind::Int: return std::to_string(v.IntValue());
        default: return DisplayText(v);
    }
}

// A multi-line text continues on lines indented like its first.
void AppendScalarLines(std::string& out, const std::string& text, const std::string& pad) {
    for (char c : text) {
        out += c;
        if (c == '\n') out += pad;
    }
    out += '\n';
}

void WriteTextTo(std::string& out, const CJsonValue& v, int indent) {
    const std::string pad(static_cast<size_t>(indent), ' ');
    if (v.Kind() == CJsonValue::EKind::Object) {
        for (const auto& [key, child] : v.Members()) {
            if (child.IsContainer()) {
                out += pad + key + ":\n";
                WriteTextTo(out, child, indent + 2);
            } else {
                out += pad + key + ": ";
                AppendScalarLines(out, ScalarText(child), pad + "  ");
            }
        }
    } else if (v.Kind() == CJsonValue::EKind::Array) {
        bool first = true;
        for (const CJsonValue& child : v.Items()) {
            if (child.IsContainer()) {
                if (!first) out += '\n';
                WriteTextTo(out, child, indent);
            } else {
                out += pad;
                AppendScalarLines(out, ScalarText(child), pad);
            }
            first = false;
        }
    } else {
        out += pad;
        AppendScalarLines(out, ScalarText(v), pad);
    }
}

}  // namespace

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) AppendCodePoint(out, static_cast<unsigned char>(c));
    return out;
}

std::string SanitizeUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(bytes, i, cp);
        if (length == 0) {
            AppendCodePoint(out, 0xFFFD);
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

bool Utf8ToLatin1(const std::string& text, std::string& out) {
    std::string result;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            out = text;
            return true;
        }
        if (cp > 0xFF) return false;
        result += static_cast<char>(cp);
        i += length;
    }
    out = std::move(result);
    return true;
}

std::string WriteJson(const CJsonValue& value) {
    std::string out;
    WriteJsonTo(out, value, 0);
    out += '\n';
    return out;
}

std::string WriteText(const CJsonValue& value) {
    std::string out;
    WriteTextTo(out, value, 0);
    return out;
}
