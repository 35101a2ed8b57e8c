#include "ProgramText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "measurement/rules/APMPArrayValue.h"
#include "measurement/rules/APMPControlValue.h"
#include "measurement/rules/APMPFunctionValue.h"
#include "measurement/rules/APMPMapValue.h"
#include "measurement/rules/APMPStatementValue.h"
#include "measurement/rules/NumberConversion.h"
#include "measurement/rules/ScalarValues.h"
#include "measurement/rules/Utf16Text.h"

namespace measurement::rules::testing {
namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    ValueList all() {
        ValueList statements;
        for (skipSpace(); pos_ < text_.size(); skipSpace()) statements.push_back(value());
        return statements;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }

    std::string token() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '(' && text_[pos_] != ')') {
            ++pos_;
        }
        if (start == pos_) throw std::runtime_error("expected a token at " + std::to_string(pos_));
        return std::string(text_.substr(start, pos_ - start));
    }

    ValuePtr value() {
        skipSpace();
        if (pos_ >= text_.size()) throw std::runtime_error("unexpected end of program");
        if (text_[pos_] == '(') return statement();
        if (text_[pos_] == '"') return string();
        const std::string word = token();
        if (word == "true" || word == "false") return booleanValue(word == "true");
        const double number = stringToNumber(utf16FromUtf8(word));
        if (number != number && word != "NaN") throw std::runtime_error("not a literal: " + word);
        return APMPNumberValue::make(number);
    }

    ValuePtr statement() {
        ++pos_;  // (
        skipSpace();
        const std::string name = token();
        ValueList arguments;
        for (skipSpace(); pos_ < text_.size() && text_[pos_] != ')'; skipSpace()) arguments.push_back(value());
        if (pos_ >= text_.size()) throw std::runtime_error("unclosed statement " + name);
        ++pos_;  // )
        return APMPStatementValue::make(utf16FromUtf8(name), std::move(arguments));
    }

    ValuePtr string() {
        ++pos_;  // opening quote
        std::u16string out;
        std::string pending;
        const auto flush = [&] {
            out += utf16FromUtf8(pending);
            pending.clear();
        };
        while (pos_ < text_.size() && text_[pos_] != '"') {
            char c = text_[pos_++];
            if (c != '\\') {
                pending += c;
                continue;
            }
            const char escaped = text_.at(pos_++);
            if (escaped == 'n') {
                pending += '\n';
            } else if (escaped == 'u') {
                flush();
                out += static_cast<char16_t>(std::stoi(std::string(text_.substr(pos_, 4)), nullptr, 16));
                pos_ += 4;
            } else {
                pending += escaped;
            }
        }
        if (pos_ >= text_.size()) throw std::runtime_error("unclosed string");
        ++pos_;  // closing quote
        flush();
        return APMPStringValue::make(std::move(out));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string quoted(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t unit : text) {
        if (unit == u'"' || unit == u'\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit < 0x20 || unit >= 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(unit));
            out += buffer;
        } else {
            out += static_cast<char>(unit);
        }
    }
    return out + "\"";
}

void print(const APMPRuntimeValue& value, std::vector<const APMPRuntimeValue*>& path, std::string& out) {
    const bool isContainer = value.kind() == ValueKind::Array || value.kind() == ValueKind::Map;
    if (isContainer && std::find(path.begin(), path.end(), &value) != path.end()) {
        out += "<cycle>";
        return;
    }
    ErrorSlot ignored;
    switch (value.kind()) {
        case ValueKind::Hole:
            return;
        case ValueKind::Undefined:
        case ValueKind::Null:
        case ValueKind::Boolean:
        case ValueKind::Number:
            out += utf8FromUtf16(value.stringValueOrError(ignored));
            return;
        case ValueKind::String:
            out += quoted(static_cast<const APMPStringValue&>(value).value());
            return;
        case ValueKind::Function:
            out += "function:" + utf8FromUtf16(static_cast<const APMPFunctionValue&>(value).functionName());
            return;
        case ValueKind::Statement:
            out += "(" + utf8FromUtf16(static_cast<const APMPStatementValue&>(value).functionName()) + " ...)";
            return;
        case ValueKind::Control: {
            const auto& control = static_cast<const APMPControlValue&>(value);
            out += "<" + utf8FromUtf16(control.typeName());
            if (control.type() == ControlType::Return) {
                out += " ";
                print(*control.data(), path, out);
            }
            out += ">";
            return;
        }
        case ValueKind::Array: {
            path.push_back(&value);
            out += "[";
            const ValueList& slots = static_cast<const APMPArrayValue&>(value).slots();
            for (std::size_t i = 0; i < slots.size(); ++i) {
                if (i > 0) out += ",";
                print(*slots[i], path, out);
            }
            out += "]";
            path.pop_back();
            return;
        }
        case ValueKind::Map: {
            path.push_back(&value);
            const auto& map = static_cast<const APMPMapValue&>(value);
            out += "{";
            bool first = true;
            for (const std::u16string& name : map.allPropertyNames()) {
                if (!first) out += ",";
                first = false;
                out += utf8FromUtf16(name) + ":";
                print(*map.valueForProperty(name), path, out);
            }
            out += "}";
            path.pop_back();
            return;
        }
    }
}

}  // namespace

ValueList parseProgram(std::string_view text) { return Parser(text).all(); }

std::string describe(const ValuePtr& value) {
    std::vector<const APMPRuntimeValue*> path;
    std::string out;
    print(*value, path, out);
    return out;
}

std::string describeOutcome(const ValuePtr& value, const ErrorSlot& error) {
    if (!error) return describe(value);
    if (error->domain == kPixieErrorDomain) return "error " + std::to_string(error->code);
    return "error " + error->domain + " " + std::to_string(error->code);
}

std::string runProgram(APMPRuntime& runtime, std::string_view text) {
    ErrorSlot error;
    const ValuePtr result = runtime.executeStatements(parseProgram(text), error);
    return describeOutcome(result, error);
}

std::string runProgram(std::string_view text) {
    APMPRuntime runtime;
    return runProgram(runtime, text);
}

}  // namespace measurement::rules::testing

namespace measurement::rules::testing {

void expectPrograms(std::initializer_list<ProgramCase> cases) {
    for (const ProgramCase& c : cases) EXPECT_EQ(runProgram(c.program), c.expected) << c.program;
}

}  // namespace measurement::rules::testing
