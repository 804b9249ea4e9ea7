// Log records: the input is one copy-data message to the log program. Only a 1028-byte record is
// taken; its text ends at the first NUL (or after 1024 bytes), and the file line made of it keeps
// the text whole, with every continuation line indented under the time.
#include "FuzzSupport.h"
#include "LogLine.h"

#include <cstring>

int QxFuzzLogRecord(const uint8_t* data, size_t size) {
    qxlog::Record record;
    std::string why;
    const bool taken = qxlog::DecodeRecord(data, size, record, &why);
    QX_FUZZ_CHECK(taken == (size == qxlog::kRecordSize));
    if (!taken) {
        QX_FUZZ_CHECK(!why.empty());
        return 0;
    }
    int32_t level;
    std::memcpy(&level, data, 4);
    QX_FUZZ_CHECK(record.level == level);
    const char* text = reinterpret_cast<const char*>(data + 4);
    QX_FUZZ_CHECK(record.text == std::string(text, strnlen(text, qxlog::kTextSize)));

    const std::string time = "2024-05-06 07:08:09.010";
    const std::string line = qxlog::FileLine(time, record.level, record.text);
    std::string tag = qxlog::LevelTag(record.level);
    QX_FUZZ_CHECK(!tag.empty());
    tag.resize(4, ' ');
    const std::string head = time + " " + tag + " ";
    QX_FUZZ_CHECK(line.compare(0, head.size(), head) == 0);
    QX_FUZZ_CHECK(!line.empty() && line.back() == '\n');
    // Taking the indentation out again gives the text as the window shows it.
    const std::string indent(time.size() + 6, ' ');
    std::string body;
    for (size_t i = head.size(); i + 1 < line.size(); ++i) {
        body += line[i];
        if (line[i] == '\n') {
            QX_FUZZ_CHECK(line.compare(i + 1, indent.size(), indent) == 0);
            i += indent.size();
        }
    }
    QX_FUZZ_CHECK(body == qxlog::DisplayText(record.text));
    return 0;
}
