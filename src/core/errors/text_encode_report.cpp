#include "core/errors/text_encode_report.h"

#include "core/errors/errors.h"

namespace kestrel {

void ReportTextEncodeError(const TextEncodeError& error, std::string_view sourceName, int line) {
    const auto number = static_cast<unsigned>(error.codePoint);
    switch (error.kind) {
        case TextEncodeError::Kind::kNoConverter:
            ReportMessage(true, sourceName, line, "系统缺少到文件的编码 (%s) 的转换，无法保存。",
                          {error.encodingName});
            return;
        case TextEncodeError::Kind::kUnpairedSurrogate:
            ReportMessage(true, sourceName, line,
                          "文本第 %d 行有不成对的代理项 U+%04X，无法以文件的编码 (%s) 保存。",
                          {error.line, number, error.encodingName});
            return;
        case TextEncodeError::Kind::kUnencodable:
            ReportMessage(true, sourceName, line,
                          "文本第 %d 行的字符“%s”(U+%04X) 无法以文件的编码 (%s) 保存。",
                          {error.line, error.character, number, error.encodingName});
            return;
    }
}

}  // namespace kestrel
